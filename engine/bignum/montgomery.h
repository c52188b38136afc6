// Arithmetic modulo an odd m in Montgomery form: a residue x is held as
// x * R mod m, R = 2^(W*n) for an n-word modulus, so that a product needs no
// division.
//
// MontModulus holds what every operation modulo m needs: m, -m^-1 mod 2^W,
// R^2 mod m (to convert into the form) and R mod m (the form of 1). Two ways
// to set it up: from a public modulus (R^2 by long division, quick but its
// time depends on m) and from a secret one (R^2 by masked doublings and
// squarings, whose count depends only on the public word and bit counts).
//
// MontBackend<N> does the arithmetic for N-word moduli (N = 0: any count);
// the exponentiations are templates over such a backend, so that another
// multiplication backend can take its place for some sizes or CPUs.
#ifndef CORVANE_ENGINE_MONTGOMERY_H
#define CORVANE_ENGINE_MONTGOMERY_H

#include <array>
#include <cstddef>

#include "engine/bignum/ct.h"
#include "engine/bignum/montgomery_kernel.h"
#include "engine/bignum/select/ct_select_avx2.h"
#include "engine/bignum/select/ct_select_avx512.h"
#include "engine/bignum/word.h"
#include "platform/secure_zero.h"

namespace corvane::engine {

struct MontModulus {
    std::size_t n = 0;  // words of m (and of every residue)
    Word m0inv = 0;     // -m^-1 mod 2^W
    Word m[kMaxWords] = {};
    Word rr[kMaxWords] = {};   // R^2 mod m
    Word one[kMaxWords] = {};  // R mod m
};

// -m0^-1 mod 2^W for odd m0, by Newton's iteration (each step doubles the
// correct low bits; m0 itself is right in the low three). No branches.
inline Word negatedInverse(Word m0) {
    Word x = m0;
    for (unsigned bits = 3; bits < kWordBits; bits *= 2) x *= 2 - m0 * x;
    return static_cast<Word>(0) - x;
}

// Sets up a modulus whose value is public: m odd, n words, m > 1. R^2 mod m
// comes from the long division of the division unit.
void setupPublicModulus(MontModulus& mod, const Word* m, std::size_t n);

// Sets up a modulus whose value is secret: m odd, n words, m > 1, whose bit
// length mBits (public: a prime's bit length is as public as the modulus
// length) is at most W*n. Time and memory accesses depend on n and mBits
// only.
void setupSecretModulus(MontModulus& mod, const Word* m, std::size_t n, std::size_t mBits);

// What every backend for N-word residues (N = 0: mod.n words, any count)
// does without products: sizes, loads, the form of 1 and the constant-time
// table read. Holds no scratch, so a backend built on it costs nothing more
// to set up than its own products' scratch.
template <std::size_t N>
class ResidueAccess {
public:
    static constexpr std::size_t kCapacity = N == 0 ? kMaxWords : N;
    using Element = std::array<Word, kCapacity>;

    explicit ResidueAccess(const MontModulus& mod)
        : mod_(mod), avx512Select_(avx512SelectAvailable()), avx2Select_(avx2SelectAvailable()) {}
    ResidueAccess(const ResidueAccess&) = delete;
    ResidueAccess& operator=(const ResidueAccess&) = delete;

    std::size_t size() const { return N == 0 ? mod_.n : N; }
    const MontModulus& modulus() const { return mod_; }
    void one(Element& r) const { load(r, mod_.one); }

    // out = table[index] for a table of `count` entries, reading every entry.
    void select(Element& out, const Element* table, std::size_t count, Word index) const {
        if (avx512Select_)
            selectAvx512(out.data(), table[0].data(), count, kCapacity, size(), index);
        else if (avx2Select_)
            selectAvx2(out.data(), table[0].data(), count, kCapacity, size(), index);
        else
            ct::lookup(out.data(), table[0].data(), count, kCapacity, size(), index);
    }

    void load(Element& r, const Word* x) const {
        for (std::size_t i = 0; i < size(); i++) r[i] = x[i];
        for (std::size_t i = size(); i < kCapacity; i++) r[i] = 0;
    }

protected:
    const MontModulus& mod_;

private:
    const bool avx512Select_, avx2Select_;
};

// The arithmetic of one modulus for residues of N words (N = 0: mod.n words,
// any count), by the portable kernels. Elements are plain word arrays;
// results may alias operands. A backend lives for one run of products (an
// exponentiation, a conversion) and wipes the scratch of its products when
// it goes.
template <std::size_t N>
class MontBackend : public ResidueAccess<N> {
public:
    using typename ResidueAccess<N>::Element;
    using ResidueAccess<N>::load;

    explicit MontBackend(const MontModulus& mod) : ResidueAccess<N>(mod) {}
    ~MontBackend() { secure_zero_object(scratch_); }

    void mul(Element& r, const Element& a, const Element& b) const {
        MontKernel<N>::mul(r.data(), a.data(), b.data(), this->mod_.m, this->mod_.m0inv, this->mod_.n,
                           scratch_.data());
    }
    void sqr(Element& r, const Element& a) const {
        MontKernel<N>::sqr(r.data(), a.data(), this->mod_.m, this->mod_.m0inv, this->mod_.n, scratch_.data());
    }

    // r = the Montgomery form of x, for any x below R (not only below m).
    void toMont(Element& r, const Word* x) const {
        Element t, rr;
        load(t, x);
        load(rr, this->mod_.rr);
        mul(r, t, rr);
    }

private:
    mutable std::array<Word, MontKernel<N>::kScratchWords> scratch_{};
};

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_MONTGOMERY_H
