// The stack below a fixed frame as an operation left it: painted first,
// then the operation runs from the same frame, then the region is copied
// out, so that a scan can look for secrets the operation left behind and
// see how deep it went. Between the operation and the copy the vector
// registers are stored on the stack, as a lazily bound call's resolver or
// a signal's delivery would store them, so that what the operation left in
// its registers is found too. Sanitizers keep locals in frames of their own
// (CORVANE_STACK_SCAN_SKIPPED then says the scan cannot see them).
#ifndef CORVANE_TEST_DEAD_STACK_H
#define CORVANE_TEST_DEAD_STACK_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/cpu/cpu.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CORVANE_STACK_SCAN_SKIPPED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CORVANE_STACK_SCAN_SKIPPED 1
#endif
#endif

namespace corvane::test::dead_stack {

inline constexpr std::size_t kScanBytes = 96 * 1024;
inline constexpr unsigned char kPaint = 0x5C;

enum class Pass { paint, copy };

// One frame for both passes, so that `region` lies at the same addresses
// each time: just below the caller's frame, where the operation's frames
// went. The empty asm statements make the compiler treat the region as
// read and written, so neither the paint nor the copy is optimised away.
[[gnu::noinline]] inline void stackWindow(Pass pass, unsigned char* copy) {
    unsigned char region[kScanBytes];
    __asm__ volatile("" : : "r"(region) : "memory");
    if (pass == Pass::paint)
        std::memset(region, kPaint, sizeof region);
    else
        std::memcpy(copy, region, sizeof region);
    __asm__ volatile("" : : "r"(region) : "memory");
}

#if defined(__clang__)
#define CORVANE_TEST_OPAQUE noinline
#else
#define CORVANE_TEST_OPAQUE noipa
#endif

#if defined(__x86_64__)
// Stores every vector register into `to` (2 KiB: 32 registers of 64 bytes).
[[gnu::CORVANE_TEST_OPAQUE, gnu::target("avx512f")]] inline void storeZmm(unsigned char* to) {
    __asm__ volatile(
        "vmovdqu64 %%zmm0, 0(%0)\n\tvmovdqu64 %%zmm1, 64(%0)\n\tvmovdqu64 %%zmm2, 128(%0)\n\t"
        "vmovdqu64 %%zmm3, 192(%0)\n\tvmovdqu64 %%zmm4, 256(%0)\n\tvmovdqu64 %%zmm5, 320(%0)\n\t"
        "vmovdqu64 %%zmm6, 384(%0)\n\tvmovdqu64 %%zmm7, 448(%0)\n\tvmovdqu64 %%zmm8, 512(%0)\n\t"
        "vmovdqu64 %%zmm9, 576(%0)\n\tvmovdqu64 %%zmm10, 640(%0)\n\tvmovdqu64 %%zmm11, 704(%0)\n\t"
        "vmovdqu64 %%zmm12, 768(%0)\n\tvmovdqu64 %%zmm13, 832(%0)\n\tvmovdqu64 %%zmm14, 896(%0)\n\t"
        "vmovdqu64 %%zmm15, 960(%0)\n\tvmovdqu64 %%zmm16, 1024(%0)\n\tvmovdqu64 %%zmm17, 1088(%0)\n\t"
        "vmovdqu64 %%zmm18, 1152(%0)\n\tvmovdqu64 %%zmm19, 1216(%0)\n\tvmovdqu64 %%zmm20, 1280(%0)\n\t"
        "vmovdqu64 %%zmm21, 1344(%0)\n\tvmovdqu64 %%zmm22, 1408(%0)\n\tvmovdqu64 %%zmm23, 1472(%0)\n\t"
        "vmovdqu64 %%zmm24, 1536(%0)\n\tvmovdqu64 %%zmm25, 1600(%0)\n\tvmovdqu64 %%zmm26, 1664(%0)\n\t"
        "vmovdqu64 %%zmm27, 1728(%0)\n\tvmovdqu64 %%zmm28, 1792(%0)\n\tvmovdqu64 %%zmm29, 1856(%0)\n\t"
        "vmovdqu64 %%zmm30, 1920(%0)\n\tvmovdqu64 %%zmm31, 1984(%0)"
        :
        : "r"(to)
        : "memory");
}

[[gnu::CORVANE_TEST_OPAQUE, gnu::target("avx")]] inline void storeYmm(unsigned char* to) {
    __asm__ volatile(
        "vmovdqu %%ymm0, 0(%0)\n\tvmovdqu %%ymm1, 32(%0)\n\tvmovdqu %%ymm2, 64(%0)\n\t"
        "vmovdqu %%ymm3, 96(%0)\n\tvmovdqu %%ymm4, 128(%0)\n\tvmovdqu %%ymm5, 160(%0)\n\t"
        "vmovdqu %%ymm6, 192(%0)\n\tvmovdqu %%ymm7, 224(%0)\n\tvmovdqu %%ymm8, 256(%0)\n\t"
        "vmovdqu %%ymm9, 288(%0)\n\tvmovdqu %%ymm10, 320(%0)\n\tvmovdqu %%ymm11, 352(%0)\n\t"
        "vmovdqu %%ymm12, 384(%0)\n\tvmovdqu %%ymm13, 416(%0)\n\tvmovdqu %%ymm14, 448(%0)\n\t"
        "vmovdqu %%ymm15, 480(%0)"
        :
        : "r"(to)
        : "memory");
}

[[gnu::CORVANE_TEST_OPAQUE]] inline void storeXmm(unsigned char* to) {
    __asm__ volatile(
        "movdqu %%xmm0, 0(%0)\n\tmovdqu %%xmm1, 16(%0)\n\tmovdqu %%xmm2, 32(%0)\n\t"
        "movdqu %%xmm3, 48(%0)\n\tmovdqu %%xmm4, 64(%0)\n\tmovdqu %%xmm5, 80(%0)\n\t"
        "movdqu %%xmm6, 96(%0)\n\tmovdqu %%xmm7, 112(%0)\n\tmovdqu %%xmm8, 128(%0)\n\t"
        "movdqu %%xmm9, 144(%0)\n\tmovdqu %%xmm10, 160(%0)\n\tmovdqu %%xmm11, 176(%0)\n\t"
        "movdqu %%xmm12, 192(%0)\n\tmovdqu %%xmm13, 208(%0)\n\tmovdqu %%xmm14, 224(%0)\n\t"
        "movdqu %%xmm15, 240(%0)"
        :
        : "r"(to)
        : "memory");
}
#endif

// The vector registers as they are, stored on the stack in this frame
// (which lies inside the scanned region, below the caller's).
[[gnu::noinline]] inline void spillVectorRegisters() {
    alignas(64) unsigned char saved[2048];
#if defined(__x86_64__)
    switch (corvane::vector_register_file()) {
        case corvane::VectorRegisterFile::avx512: storeZmm(saved); break;
        case corvane::VectorRegisterFile::avx: storeYmm(saved); break;
        default: storeXmm(saved); break;
    }
#endif
    __asm__ volatile("" : : "r"(saved) : "memory");
}

// The dead stack after `operation`, deepest byte first, with the vector
// registers the operation left stored in it.
[[gnu::noinline]] inline std::vector<std::uint8_t> after(const std::function<void()>& operation) {
    std::vector<std::uint8_t> copy(kScanBytes);
    stackWindow(Pass::paint, nullptr);
    operation();
    spillVectorRegisters();
    stackWindow(Pass::copy, copy.data());
    return copy;
}

}  // namespace corvane::test::dead_stack

#endif  // CORVANE_TEST_DEAD_STACK_H
