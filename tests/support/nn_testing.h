// Helpers for the arithmetic tests: conversion between digit arrays and GMP
// integers (the oracle), a generator of numbers with the digit shapes that
// stress carries and quotient estimates, and output buffers with guard
// digits that reveal writes beyond the stated count.
#ifndef CORVANE_NN_TESTING_H
#define CORVANE_NN_TESTING_H

#include <Corvane/nn.h>
#include <gmp.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace corvane::test {

using Digits = std::vector<NN_DIGIT>;

// Owning GMP integer.
class Mpz {
public:
    Mpz() { mpz_init(v_); }
    explicit Mpz(unsigned long x) { mpz_init_set_ui(v_, x); }
    Mpz(const NN_DIGIT* a, std::uint32_t digits);  // value of a digit array
    explicit Mpz(const Digits& a) : Mpz(a.data(), static_cast<std::uint32_t>(a.size())) {}
    Mpz(const Mpz& o) { mpz_init_set(v_, o.v_); }
    Mpz& operator=(const Mpz& o) {
        mpz_set(v_, o.v_);
        return *this;
    }
    ~Mpz() { mpz_clear(v_); }
    mpz_ptr get() { return v_; }
    mpz_srcptr get() const { return v_; }
    std::string hex() const;

private:
    mpz_t v_;
};

// The low 32*digits bits of x as a digit array (x >= 0).
Digits digitsOf(const Mpz& x, std::uint32_t digits);
// A hexadecimal number (big-endian text) as `digits` digits; throws when it
// does not fit.
Digits digitsFromHex(const std::string& hex, std::uint32_t digits);
// Readable form of a digit array for failure messages.
std::string describe(const NN_DIGIT* a, std::uint32_t digits);

// Random digit counts and numbers with stressing shapes: runs of zeros,
// all-ones digits, 0x80000000, tiny digits, 0xFFFFxxxx (upper half all ones),
// and values with fewer significant digits than their count.
class ShapedNumbers {
public:
    explicit ShapedNumbers(std::uint64_t seed) : rng_(seed) {}
    Rng& rng() { return rng_; }
    std::uint32_t count(std::uint32_t lo, std::uint32_t hi) {
        return static_cast<std::uint32_t>(rng_.range(lo, hi));
    }
    NN_DIGIT digit();
    // `digits` digits, of which a random number are significant.
    Digits number(std::uint32_t digits);
    // Like number(), but never zero when digits > 0.
    Digits nonzero(std::uint32_t digits);

private:
    Rng rng_;
};

// An array of `digits` digits followed by guard digits, all preset with
// garbage; check() compares the whole array with what must be there after
// a call that writes exactly the first `written` digits.
class Guarded {
public:
    static constexpr std::uint32_t kGuard = 3;
    Guarded(std::uint32_t digits, Rng& rng);
    // Starts with `value` in its first digits (the rest garbage).
    Guarded(const Digits& value, std::uint32_t digits, Rng& rng);
    NN_DIGIT* data() { return buf_.data(); }
    const Digits& snapshot() const { return before_; }
    // Re-takes the snapshot (after setting inputs by hand).
    void mark() { before_ = buf_; }
    // Whole buffer equals `expected` in [0, expected.size()) and its state at
    // the last mark() everywhere else.
    ::testing::AssertionResult holds(const Digits& expected) const;
    // Nothing changed since the last mark().
    ::testing::AssertionResult unchanged() const { return holds({}); }

private:
    Digits buf_;
    Digits before_;
};

// Scale for randomised volume: longTestFactor(), divided down under
// sanitizers, whose instrumentation makes the arithmetic loops much slower.
double nnVolumeScale();
inline unsigned nnCases(unsigned base) {
    double n = base * nnVolumeScale();
    return n < 1 ? 1u : static_cast<unsigned>(n);
}

}  // namespace corvane::test

#endif
