// Compiled with -mbmi2 -madx (CMakeLists.txt); only reached when
// adxKernelsAvailable() says the CPU has both.
#include "engine/bignum/adx/montgomery_adx.h"

#include <cstdint>

#include "engine/cpu/cpu.h"

namespace corvane::engine {

#if CORVANE_ENGINE_HAS_ADX

namespace {
#include "engine/bignum/adx/montgomery_adx_kernels.inc"
}  // namespace

bool adxKernelsAvailable() noexcept {
    const CpuFeatures& features = cpu_features();
    return features.bmi2 && features.adx;
}

// Both kinds of kernel start their block alike: m, -m^-1, a zero word, the
// pointers to a and r; the window kernels then take b at word N + 4.
constexpr std::size_t kAPointerAt(std::size_t n) { return n + 2; }
constexpr std::size_t kRPointerAt(std::size_t n) { return n + 3; }
constexpr std::size_t kWindowOperandAt(std::size_t n) { return n + 4; }

template <std::size_t N>
void prepareAdx(Word* scratch, const MontModulus& mod) noexcept {
    for (std::size_t i = 0; i < N; i++) scratch[i] = mod.m[i];
    scratch[N] = mod.m0inv;
    scratch[N + 1] = 0;
}

template <std::size_t N>
void montMulAdx(Word* r, const Word* a, const Word* b, const MontModulus&, Word* scratch) noexcept {
    scratch[kAPointerAt(N)] = reinterpret_cast<std::uintptr_t>(a);
    scratch[kRPointerAt(N)] = reinterpret_cast<std::uintptr_t>(r);
    if constexpr (N <= 8) {
        rowsKernel<N>(scratch, b);
    } else {
        // The window kernels have no register left for b: it goes in the block.
        for (std::size_t i = 0; i < N; i++) scratch[kWindowOperandAt(N) + i] = b[i];
        windowKernel<N>(scratch);
    }
}

template <std::size_t N>
void montSqrAdx(Word* r, const Word* a, const MontModulus&, Word* scratch) noexcept {
    scratch[kAPointerAt(N)] = reinterpret_cast<std::uintptr_t>(a);
    scratch[kRPointerAt(N)] = reinterpret_cast<std::uintptr_t>(r);
    if constexpr (N <= 8)
        rowsSquareKernel<N>(scratch);
    else
        windowSquareKernel<N>(scratch);
}

#define CORVANE_ADX_INSTANCE(n)                                                                       \
    template void prepareAdx<n>(Word*, const MontModulus&) noexcept;                                  \
    template void montMulAdx<n>(Word*, const Word*, const Word*, const MontModulus&, Word*) noexcept; \
    template void montSqrAdx<n>(Word*, const Word*, const MontModulus&, Word*) noexcept;
CORVANE_ADX_INSTANCE(4)
CORVANE_ADX_INSTANCE(5)
CORVANE_ADX_INSTANCE(6)
CORVANE_ADX_INSTANCE(7)
CORVANE_ADX_INSTANCE(8)
CORVANE_ADX_INSTANCE(9)
CORVANE_ADX_INSTANCE(10)
CORVANE_ADX_INSTANCE(11)
CORVANE_ADX_INSTANCE(12)
CORVANE_ADX_INSTANCE(13)
CORVANE_ADX_INSTANCE(14)
CORVANE_ADX_INSTANCE(15)
CORVANE_ADX_INSTANCE(16)
#undef CORVANE_ADX_INSTANCE

#else

bool adxKernelsAvailable() noexcept { return false; }

#endif

}  // namespace corvane::engine
