// The one place that decides which CPU-specific code paths may run.
//
// Features are read once per process (CPUID, and XGETBV for the register
// state the operating system saves), then capped by the environment variable
// CORVANE_CPU so that one machine can exercise every path:
//   CORVANE_CPU=portable   no CPU-specific path at all
//   CORVANE_CPU=avx2       AVX2/BMI2/ADX paths, but nothing from AVX-512
//   unset or anything else everything the CPU and the OS support
// Fast paths ask cpu_features() and never probe the CPU themselves.
#ifndef CORVANE_CPU_H
#define CORVANE_CPU_H

#include <string_view>

namespace corvane {

struct CpuFeatures {
    bool bmi2 = false;
    bool adx = false;
    bool avx2 = false;         // with OS support for the YMM state
    bool avx512f = false;      // with OS support for the ZMM and mask state
    bool avx512bw = false;
    bool avx512vl = false;
    bool avx512ifma = false;
    bool avx512vbmi = false;
};

// The capped feature set of this process; computed on first use, then fixed.
// Thread-safe.
const CpuFeatures& cpu_features() noexcept;

// What the hardware and the OS offer, before the cap.
CpuFeatures detect_cpu_features() noexcept;

// Applies a CORVANE_CPU value (nullptr when unset) to a detected set.
CpuFeatures cap_cpu_features(CpuFeatures detected, const char* setting) noexcept;

// The widest vector registers this process has, whatever CORVANE_CPU
// says: the C library's copies and libcrypto use them regardless of the
// cap, so a wipe of the registers must reach all of them.
enum class VectorRegisterFile { none, sse, avx, avx512 };
VectorRegisterFile vector_register_file() noexcept;

// A short name of the widest tier in a set ("avx512", "avx2" or "portable"),
// for benchmark labels and test names.
std::string_view cpu_tier_name(const CpuFeatures& features) noexcept;

}  // namespace corvane

#endif  // CORVANE_CPU_H
