// Inputs for the lane-parallel exponentiation: one modulus, input and
// exponent per lane, of every shape that stresses it (moduli of the full
// word count with all-ones or single-bit tops, shorter moduli; inputs 0,
// the form of 1, m - 1 and random; exponents 0, all ones and random), with
// each lane's result by the scalar constant-time exponentiation.
#ifndef CORVANE_TEST_LANE_CASES_H
#define CORVANE_TEST_LANE_CASES_H

#include <Corvane/nn.h>

#include <cstddef>
#include <vector>

#include "engine/bignum/ct.h"
#include "engine/bignum/montgomery.h"
#include "engine/bignum/sized/mont_ops.h"
#include "engine/bignum/word.h"
#include "tests/support/test_support.h"

namespace corvane::test {

struct LaneCases {
    std::size_t n = 0, digits = 0;
    std::vector<engine::MontModulus> mods;
    std::vector<std::vector<engine::Word>> x, expected;
    std::vector<std::vector<NN_DIGIT>> e;

    // The pointer arrays modExpLanesIfma takes, over mods, x and e.
    std::vector<const engine::MontModulus*> modPointers() const {
        std::vector<const engine::MontModulus*> p;
        for (const auto& m : mods) p.push_back(&m);
        return p;
    }
    std::vector<engine::Word*> xPointers() {
        std::vector<engine::Word*> p;
        for (auto& w : x) p.push_back(w.data());
        return p;
    }
    std::vector<const NN_DIGIT*> ePointers() const {
        std::vector<const NN_DIGIT*> p;
        for (const auto& d : e) p.push_back(d.data());
        return p;
    }
};

inline LaneCases makeLaneCases(std::size_t n, std::size_t lanes, std::size_t digits, Rng& rng) {
    using engine::Word;
    LaneCases c;
    c.n = n;
    c.digits = digits;
    c.mods.resize(lanes);
    for (std::size_t i = 0; i < lanes; i++) {
        std::vector<Word> m(n);
        for (auto& w : m) w = static_cast<Word>(rng.u64());
        switch (i % 4) {
            case 1:  // 2^(64n) - a little: the largest moduli the lanes take
                for (std::size_t k = 1; k < n; k++) m[k] = ~Word{0};
                break;
            case 2:  // 31 bits short of the word count (a 1000-bit key's primes)
                m[n - 1] >>= 31;
                break;
            case 3:  // a single top bit
                for (std::size_t k = 1; k < n; k++) m[k] = 0;
                break;
        }
        m[n - 1] |= Word{1} << (i % 4 == 2 ? 32 : 63);
        m[0] |= 1;
        engine::MontModulus& mod = c.mods[i];
        engine::setupSecretModulus(mod, m.data(), n, engine::ct::bitLength(m.data(), n));

        std::vector<Word> x(n, 0);
        switch (i % 5) {
            case 0:
                break;
            case 1:
                x.assign(mod.one, mod.one + n);
                break;
            case 2:
                x = m;
                x[0] -= 1;
                break;
            default:
                for (auto& w : x) w = static_cast<Word>(rng.u64());
                x[n - 1] = m[n - 1] >> 1;
        }
        std::vector<NN_DIGIT> e(digits + 1, 0);  // never empty
        for (std::size_t k = 0; k < digits; k++) e[k] = i % 3 == 0 ? 0 : i % 3 == 1 ? ~NN_DIGIT{0} : rng.u32();

        std::vector<Word> want(n);
        engine::modExpSecret(mod, want.data(), x.data(), e.data(), digits);
        c.x.push_back(x);
        c.e.push_back(e);
        c.expected.push_back(want);
    }
    return c;
}

// The same lanes raised to one exponent e (e.size() digits) that all share,
// as the check of a batch raises them: each lane's e and result replaced.
inline void shareExponent(LaneCases& c, const std::vector<NN_DIGIT>& e) {
    c.digits = e.size();
    for (std::size_t i = 0; i < c.mods.size(); i++) {
        c.e[i] = e;
        engine::modExpSecret(c.mods[i], c.expected[i].data(), c.x[i].data(), e.data(), e.size());
    }
}

}  // namespace corvane::test

#endif  // CORVANE_TEST_LANE_CASES_H
