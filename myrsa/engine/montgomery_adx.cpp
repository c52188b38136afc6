// Compiled with -mbmi2 -madx (CMakeLists.txt); only reached when
// adxKernelsAvailable() says the CPU has both.
#include "engine/montgomery_adx.h"

#include <cstdint>

#include "cpu.h"

namespace corvane::engine {

#if CORVANE_ENGINE_HAS_ADX

namespace {
#include "engine/montgomery_adx_kernels.inc"
}  // namespace

bool adxKernelsAvailable() noexcept {
    const CpuFeatures& features = cpu_features();
    return features.bmi2 && features.adx;
}

template <std::size_t N>
void prepareAdx(Word* scratch, const MontModulus& mod) noexcept {
    if constexpr (N <= 8) {
        // The rows kernel's block: m, -m^-1, a zero word, then per product
        // the operand pointers, the top word and the saved result.
        for (std::size_t i = 0; i < N; i++) scratch[i] = mod.m[i];
        scratch[N] = mod.m0inv;
        scratch[N + 1] = 0;
    }
}

template <std::size_t N>
void montMulAdx(Word* r, const Word* a, const Word* b, const MontModulus& mod, Word* scratch) noexcept {
    if constexpr (N <= 8) {
        scratch[N + 2] = reinterpret_cast<std::uintptr_t>(a);
        scratch[N + 3] = reinterpret_cast<std::uintptr_t>(r);
        rowsKernel<N>(scratch, b);
    } else {
        for (std::size_t i = 0; i < 2 * N + 2; i++) scratch[i] = 0;
        memoryKernel<N>(r, scratch, a, b, mod.m, mod.m0inv);
    }
}

template <std::size_t N>
void montSqrAdx(Word* r, const Word* a, const MontModulus& mod, Word* scratch) noexcept {
    if constexpr (N <= 8) {
        scratch[N + 2] = reinterpret_cast<std::uintptr_t>(a);
        scratch[N + 3] = reinterpret_cast<std::uintptr_t>(r);
        rowsSquareKernel<N>(scratch);
    } else {
        squareKernel<N>(r, scratch, a, mod.m, mod.m0inv);
    }
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
