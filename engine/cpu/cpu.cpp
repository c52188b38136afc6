#include "engine/cpu/cpu.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define CORVANE_X86 1
#endif

namespace corvane {

#if defined(CORVANE_X86)
namespace {

struct CpuidRegs {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
};

CpuidRegs cpuid(unsigned leaf, unsigned subleaf) {
    CpuidRegs r;
    if (__get_cpuid_count(leaf, subleaf, &r.eax, &r.ebx, &r.ecx, &r.edx) == 0) r = CpuidRegs{};
    return r;
}

// XCR0: which register states the OS saves on a context switch. Only valid
// when CPUID reports OSXSAVE.
std::uint64_t xgetbv0() {
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<std::uint64_t>(hi) << 32) | lo;
}

bool bit(unsigned value, unsigned n) { return ((value >> n) & 1u) != 0; }

}  // namespace
#endif

CpuFeatures detect_cpu_features() noexcept {
    CpuFeatures f;
#if defined(CORVANE_X86)
    const CpuidRegs leaf0 = cpuid(0, 0);
    if (leaf0.eax < 7) return f;
    const CpuidRegs leaf1 = cpuid(1, 0);
    const CpuidRegs leaf7 = cpuid(7, 0);

    f.bmi2 = bit(leaf7.ebx, 8);
    f.adx = bit(leaf7.ebx, 19);

    const bool osxsave = bit(leaf1.ecx, 27);
    const bool avx = bit(leaf1.ecx, 28);
    if (!osxsave || !avx) return f;
    const std::uint64_t xcr0 = xgetbv0();
    const bool ymmSaved = (xcr0 & 0x6) == 0x6;      // SSE and AVX state
    const bool zmmSaved = (xcr0 & 0xE6) == 0xE6;    // plus opmask, ZMM_Hi256, Hi16_ZMM
    if (!ymmSaved) return f;

    f.avx2 = bit(leaf7.ebx, 5);
    if (!zmmSaved) return f;
    f.avx512f = bit(leaf7.ebx, 16);
    if (!f.avx512f) return f;
    f.avx512bw = bit(leaf7.ebx, 30);
    f.avx512vl = bit(leaf7.ebx, 31);
    f.avx512ifma = bit(leaf7.ebx, 21);
    f.avx512vbmi = bit(leaf7.ecx, 1);
#endif
    return f;
}

CpuFeatures cap_cpu_features(CpuFeatures f, const char* setting) noexcept {
    if (setting == nullptr) return f;
    if (std::strcmp(setting, "portable") == 0) return CpuFeatures{};
    if (std::strcmp(setting, "avx2") == 0) {
        f.avx512f = f.avx512bw = f.avx512vl = f.avx512ifma = f.avx512vbmi = false;
    }
    return f;
}

const CpuFeatures& cpu_features() noexcept {
    // A function-local static: initialised once, safely across threads.
    static const CpuFeatures features = cap_cpu_features(detect_cpu_features(), std::getenv("CORVANE_CPU"));
    return features;
}

namespace {

VectorRegisterFile detectVectorRegisterFile() noexcept {
#if defined(__x86_64__)
    const CpuidRegs leaf1 = cpuid(1, 0);
    const bool osxsave = bit(leaf1.ecx, 27), avx = bit(leaf1.ecx, 28);
    if (!osxsave || !avx) return VectorRegisterFile::sse;  // SSE2 is part of x86-64
    const std::uint64_t xcr0 = xgetbv0();
    if ((xcr0 & 0x6) != 0x6) return VectorRegisterFile::sse;
    const bool avx512f = cpuid(0, 0).eax >= 7 && bit(cpuid(7, 0).ebx, 16);
    return avx512f && (xcr0 & 0xE6) == 0xE6 ? VectorRegisterFile::avx512 : VectorRegisterFile::avx;
#else
    return VectorRegisterFile::none;
#endif
}

}  // namespace

VectorRegisterFile vector_register_file() noexcept {
    static const VectorRegisterFile file = detectVectorRegisterFile();
    return file;
}

std::string_view cpu_tier_name(const CpuFeatures& f) noexcept {
    if (f.avx512f) return "avx512";
    if (f.avx2) return "avx2";
    return "portable";
}

}  // namespace corvane
