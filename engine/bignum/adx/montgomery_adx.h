// Montgomery products for x86-64 CPUs with BMI2 and ADX: the same results
// as the portable kernels, from the assembly kernels that
// scripts/gen_montgomery_adx.py writes (MULX with two carry chains). Chosen
// at run time through corvane::cpu_features(), so CORVANE_CPU=portable turns
// them off; the portable kernels are always built and tested as well.
//
// Present in 64-bit-word builds on x86-64 with GCC-compatible compilers
// (CORVANE_ENGINE_HAS_ADX), for moduli of 4 to 16 words.
#ifndef CORVANE_ENGINE_MONTGOMERY_ADX_H
#define CORVANE_ENGINE_MONTGOMERY_ADX_H

#include <array>
#include <cstddef>

#include "engine/bignum/montgomery.h"
#include "engine/bignum/word.h"
#include "platform/secure_zero.h"

#if defined(__x86_64__) && !defined(CORVANE_ENGINE_WORD32) && (defined(__GNUC__) || defined(__clang__))
#define CORVANE_ENGINE_HAS_ADX 1
#else
#define CORVANE_ENGINE_HAS_ADX 0
#endif

namespace corvane::engine {

// Whether the kernels are built in and the CPU (as capped by CORVANE_CPU)
// runs them.
bool adxKernelsAvailable() noexcept;

constexpr bool adxKernelsCover(std::size_t words) {
    return CORVANE_ENGINE_HAS_ADX && words >= 4 && words <= 16;
}

// Words of scratch that montMulAdx<N> needs: the kernels' block (see
// scripts/gen_montgomery_adx.py for its layout).
constexpr std::size_t adxScratchWords(std::size_t n) { return n <= 8 ? 4 * n + 6 : 5 * n + 5 + (n + 1) / 2; }

// Readies `scratch` (adxScratchWords(N) words) for products modulo mod.
template <std::size_t N>
void prepareAdx(Word* scratch, const MontModulus& mod) noexcept;

// r = a * b / R mod m for N-word residues below m, N in 4..16, with the
// scratch that prepareAdx readied. r may alias a or b.
template <std::size_t N>
void montMulAdx(Word* r, const Word* a, const Word* b, const MontModulus& mod, Word* scratch) noexcept;

// r = a * a / R mod m, likewise, each cross product formed once.
template <std::size_t N>
void montSqrAdx(Word* r, const Word* a, const MontModulus& mod, Word* scratch) noexcept;

// A backend (see montgomery.h) whose products run on the ADX kernels.
template <std::size_t N>
class AdxBackend : public ResidueAccess<N> {
public:
    static_assert(adxKernelsCover(N));
    using typename ResidueAccess<N>::Element;

    explicit AdxBackend(const MontModulus& mod) : ResidueAccess<N>(mod) {
        prepareAdx<N>(scratch_.data(), mod);
    }
    ~AdxBackend() { secure_zero_object(scratch_); }

    void mul(Element& r, const Element& a, const Element& b) const {
        montMulAdx<N>(r.data(), a.data(), b.data(), this->mod_, scratch_.data());
    }
    void sqr(Element& r, const Element& a) const {
        montSqrAdx<N>(r.data(), a.data(), this->mod_, scratch_.data());
    }

private:
    mutable std::array<Word, adxScratchWords(N)> scratch_{};
};

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_MONTGOMERY_ADX_H
