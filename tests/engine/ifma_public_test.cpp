// The IFMA exponentiation by a public exponent against GMP, for every word
// count it takes (9 to 16), under moduli that stress carries (top word all
// ones, small, a lone bit; all ones) and on the values that do: 0, 1, m - 1,
// m itself and values above m up to 2^(64n) - 1 (the check before release
// raises results that may reach n). Exponents cover every course through
// the window: 0, 1, 2, 3, 65537, 2^16, a short even one and ones long
// enough for the widest window. The kernel's product alone is checked the
// same way, and its time is checked not to depend on the value raised.
// Skipped where the CPU (or CORVANE_CPU) rules IFMA out; the RSA
// operations on top are compared on every tier in rsa_engine_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "engine/bignum/ifma/digits52.h"
#include "engine/bignum/ifma/montgomery_ifma_public.h"
#include "engine/bignum/montgomery.h"
#include "tests/support/engine_words.h"
#include "tests/support/nn_testing.h"

using namespace corvane::engine;
using corvane::test::Digits;
using corvane::test::digitsOf;
using corvane::test::Mpz;
using corvane::test::mpzOf;
using corvane::test::nnCases;
using corvane::test::Rng;
using corvane::test::Words;
using corvane::test::wordsOf;

namespace {

Words randomWords(std::size_t n, Rng& rng) {
    Words w(n);
    for (auto& x : w) x = static_cast<Word>(rng.u64());
    return w;
}

// Moduli of n words: random with the top bit set, top word all ones, top
// word 1, a lone top bit (plus 1), all ones.
std::vector<Words> moduliOf(std::size_t n, Rng& rng) {
    std::vector<Words> out;
    for (int shape = 0; shape < 5; shape++) {
        Words m = randomWords(n, rng);
        if (shape == 0) m[n - 1] |= Word{1} << (kWordBits - 1);
        if (shape == 1) m[n - 1] = ~Word{0};
        if (shape == 2) m[n - 1] = 1;
        if (shape == 3) {
            for (auto& w : m) w = 0;
            m[n - 1] = Word{1} << (kWordBits - 1);
        }
        if (shape == 4)
            for (auto& w : m) w = ~Word{0};
        m[0] |= 1;
        out.push_back(m);
    }
    return out;
}

// 0, 1, m - 1, m, 2^(64n) - 1 and random values below 2^(64n).
std::vector<Words> valuesFor(const Words& m, Rng& rng) {
    const std::size_t n = m.size();
    Mpz below;
    mpz_sub_ui(below.get(), mpzOf(m).get(), 1);
    std::vector<Words> out = {Words(n, 0), wordsOf(Mpz(1), n), wordsOf(below, n), m, Words(n, ~Word{0})};
    for (int i = 0; i < 2; i++) out.push_back(randomWords(n, rng));
    return out;
}

MontModulus setUp(const Words& m) {
    MontModulus mod;
    setupPublicModulus(mod, m.data(), m.size());
    return mod;
}

class IfmaPublic : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ifmaAvailable()) GTEST_SKIP() << "no AVX-512 IFMA on this CPU or tier";
    }
};

TEST_F(IfmaPublic, ProductMatchesGmpForEveryWordCount) {
    Rng rng(52);
    for (std::size_t n = 9; n <= 16; n++) {
        for (unsigned round = 0; round < nnCases(2); round++) {
            for (const Words& m : moduliOf(n, rng)) {
                const MontModulus mod = setUp(m);
                const Mpz mm = mpzOf(m);
                Mpz r, inverse;
                mpz_ui_pow_ui(r.get(), 2, kDigit52Bits * digits52For(n));
                ASSERT_NE(mpz_invert(inverse.get(), r.get(), mm.get()), 0);
                const std::vector<Words> values = valuesFor(m, rng);
                for (const Words& a : values) {
                    if (mpz_cmp(mpzOf(a).get(), mm.get()) >= 0) continue;  // the first operand stays below m
                    for (const Words& b : values) {
                        Mpz want;
                        mpz_mul(want.get(), mpzOf(a).get(), mpzOf(b).get());
                        mpz_mul(want.get(), want.get(), inverse.get());
                        mpz_mod(want.get(), want.get(), mm.get());
                        Words got(n);
                        montMulPublicIfma(mod, got.data(), a.data(), b.data());
                        ASSERT_EQ(got, wordsOf(want, n)) << "n = " << n << " a = " << mpzOf(a).hex()
                                                        << " b = " << mpzOf(b).hex() << " m = " << mm.hex();
                    }
                }
            }
        }
    }
}

TEST_F(IfmaPublic, RaiseMatchesGmpForEveryWordCountAndExponentShape) {
    Rng rng(65537);
    for (std::size_t n = 9; n <= 16; n++) {
        std::vector<Mpz> exponents = {Mpz(0), Mpz(1), Mpz(2), Mpz(3), Mpz(65537), Mpz(65536)};
        Mpz shortEven(static_cast<unsigned long>(rng.u64() & 0xfffffe));
        exponents.push_back(shortEven);
        for (std::size_t bits : {std::size_t{200}, kWordBits * n}) {
            Mpz e = mpzOf(randomWords((bits + kWordBits - 1) / kWordBits, rng));
            mpz_tdiv_r_2exp(e.get(), e.get(), bits);
            mpz_setbit(e.get(), bits - 1);
            exponents.push_back(e);
        }
        for (const Words& m : moduliOf(n, rng)) {
            const MontModulus mod = setUp(m);
            const Mpz mm = mpzOf(m);
            for (const Mpz& e : exponents) {
                const Digits ed = digitsOf(e, MAX_NN_DIGITS);
                const std::size_t eDigits = (mpz_sizeinbase(e.get(), 2) + kDigitBits - 1) / kDigitBits;
                for (const Words& x : valuesFor(m, rng)) {
                    Mpz want;
                    mpz_powm(want.get(), mpzOf(x).get(), e.get(), mm.get());
                    Words got(n, 0x5a5a);
                    raisePlainIfma(mod, got.data(), x.data(), ed.data(), eDigits == 0 ? 1 : eDigits);
                    ASSERT_EQ(got, wordsOf(want, n)) << "n = " << n << " x = " << mpzOf(x).hex()
                                                    << " e = " << e.hex() << " m = " << mm.hex();
                }
            }
        }
    }
}

// In the check before release the value raised is the private result, a
// secret, and valgrind cannot follow AVX-512 code: so its independence from
// the value is checked by time. Values 0, 1, m - 1, 2^(64n) - 1 and random
// ones, raised to 65537 under a 1024-bit modulus, in alternating rounds,
// must take the same median time; a branch or early exit on the value
// would show as tens of percent.
TEST_F(IfmaPublic, RaiseTakesTheSameTimeWhateverTheValue) {
    Rng rng(2024);
    const std::size_t n = 16;
    const Words m = moduliOf(n, rng)[0];
    const MontModulus mod = setUp(m);
    std::vector<Words> values = valuesFor(m, rng);
    values.erase(values.begin() + 3);  // m itself: a value no caller raises
    const Digits e = digitsOf(Mpz(65537), MAX_NN_DIGITS);
    constexpr int kRounds = 301;
    std::vector<std::vector<double>> times(values.size());
    for (int round = 0; round < kRounds; round++) {
        for (std::size_t v = 0; v < values.size(); v++) {
            Words r(n);
            const auto start = std::chrono::steady_clock::now();
            raisePlainIfma(mod, r.data(), values[v].data(), e.data(), 1);
            times[v].push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
    std::vector<double> medians;
    for (auto& t : times) {
        std::nth_element(t.begin(), t.begin() + kRounds / 2, t.end());
        medians.push_back(t[kRounds / 2]);
    }
    const auto [lo, hi] = std::minmax_element(medians.begin(), medians.end());
    EXPECT_LT(*hi / *lo, 1.15) << "median times differ: " << testing::PrintToString(medians);
}

}  // namespace
