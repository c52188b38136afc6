// The ways of computing both exponentiations of the private operation at
// once (the IFMA kernels where the CPU has them, the two interleaved scalar
// chains, and one chain after the other) against GMP, for the primes of
// 512-, 768-, 1000- and 1024-bit keys in both orders, primes of different
// lengths, moduli of every word count the IFMA kernels take, and the inputs
// and exponents at the edges: 0, 1, m - 1, an input that is a multiple of
// the prime (a ciphertext equal to a prime), exponents 0, 1 and all ones.
// Every path that runs on this CPU (as capped by CORVANE_CPU) is checked;
// the RSA operations on top are compared with the documented steps in
// rsa_engine_test, which CI runs on every tier.
//
// Valgrind does not run AVX-512 code, so the constant-time check under
// valgrind never reaches the IFMA kernels; the timing test at the end
// compares them across exponents and inputs of extreme weights instead.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "engine/bignum/crt_exponent.h"
#include "engine/bignum/ifma/montgomery_ifma.h"
#include "engine/bignum/montgomery.h"
#include "engine/bignum/sized/mont_ops.h"
#include "tests/support/engine_words.h"
#include "tests/support/nn_testing.h"

using namespace corvane::engine;
using corvane::test::Mpz;
using corvane::test::nnCases;
using corvane::test::Rng;
using corvane::test::Words;
using corvane::test::wordsOf;

namespace {

// A prime of exactly `bits` bits: random, or the first above 2^(bits-1),
// or the first above 2^bits - 2^(bits/2) (top word all ones).
enum class PrimeShape { Random, JustAboveAPowerOfTwo, AllOnesTop };

Mpz primeOf(std::size_t bits, PrimeShape shape, Rng& rng) {
    Mpz x;
    if (shape == PrimeShape::Random) {
        std::vector<Word> w((bits + kWordBits - 1) / kWordBits);
        for (auto& word : w) word = static_cast<Word>(rng.u64());
        mpz_import(x.get(), w.size(), -1, sizeof(Word), 0, 0, w.data());
        mpz_fdiv_r_2exp(x.get(), x.get(), bits);
        mpz_setbit(x.get(), bits - 1);
    } else if (shape == PrimeShape::JustAboveAPowerOfTwo) {
        mpz_setbit(x.get(), bits - 1);
    } else {
        mpz_setbit(x.get(), bits);
        Mpz half;
        mpz_setbit(half.get(), bits / 2);
        mpz_sub(x.get(), x.get(), half.get());
    }
    mpz_nextprime(x.get(), x.get());
    return x;
}

struct Side {
    Mpz m, x;  // modulus and plain input below it
    std::vector<NN_DIGIT> e;
};

// The Montgomery form of x modulo m for an n-word modulus.
Mpz montgomeryForm(const Mpz& x, const Mpz& m, std::size_t n) {
    Mpz r;
    mpz_mul_2exp(r.get(), x.get(), kWordBits * n);
    mpz_mod(r.get(), r.get(), m.get());
    return r;
}

// Runs every path on the pair and compares each side with GMP.
void expectEveryPathAgrees(const Side& p, const Side& q, std::size_t n, const std::string& what) {
    const std::size_t digits = n * kDigitsPerWord;
    MontModulus modP, modQ;
    const Words pw = wordsOf(p.m, n), qw = wordsOf(q.m, n);
    setupSecretModulus(modP, pw.data(), n, mpz_sizeinbase(p.m.get(), 2));
    setupSecretModulus(modQ, qw.data(), n, mpz_sizeinbase(q.m.get(), 2));

    Mpz wantP, wantQ;
    mpz_powm(wantP.get(), p.x.get(), Mpz(p.e.data(), static_cast<std::uint32_t>(digits)).get(), p.m.get());
    mpz_powm(wantQ.get(), q.x.get(), Mpz(q.e.data(), static_cast<std::uint32_t>(digits)).get(), q.m.get());
    const Words expectP = wordsOf(montgomeryForm(wantP, p.m, n), n);
    const Words expectQ = wordsOf(montgomeryForm(wantQ, q.m, n), n);

    for (PairPath path :
         {PairPath::oneAfterTheOther, PairPath::interleaved, PairPath::ifma, PairPath::ifmaRightToLeft}) {
        if (!pairPathRuns(path, n)) continue;
        // The IFMA paths also with the moduli's constants prepared once, as
        // a key object holds them.
        IfmaPairConstants constants[2];
        const bool ifma = path == PairPath::ifma || path == PairPath::ifmaRightToLeft;
        if (ifma) prepareIfmaPairConstants(constants[0], modP), prepareIfmaPairConstants(constants[1], modQ);
        for (const IfmaPairConstants* given :
             {static_cast<IfmaPairConstants*>(nullptr), ifma ? constants : nullptr}) {
            Words xP = wordsOf(montgomeryForm(p.x, p.m, n), n), xQ = wordsOf(montgomeryForm(q.x, q.m, n), n);
            modExpSecretPair(path, modP, xP.data(), p.e.data(), modQ, xQ.data(), q.e.data(), digits, given);
            EXPECT_EQ(xP, expectP) << what << ", path " << static_cast<int>(path) << ", modulus P "
                                   << p.m.hex();
            EXPECT_EQ(xQ, expectQ) << what << ", path " << static_cast<int>(path) << ", modulus Q "
                                   << q.m.hex();
        }
    }
}

// Exponents: 0 random, 1 all ones, 2 zero, 3 one; 4 and 5 every 2-bit
// window 2 or 1, so that one accumulator of the right-to-left method takes
// every product.
constexpr int kExponentKinds = 6;
std::vector<NN_DIGIT> exponentOf(int kind, std::size_t digits, Rng& rng) {
    std::vector<NN_DIGIT> e(digits, 0);
    const NN_DIGIT fill[] = {0, ~NN_DIGIT{0}, 0, 0, 0xAAAAAAAAu, 0x55555555u};
    for (auto& d : e) d = kind == 0 ? rng.u32() : fill[kind];
    if (kind == 3) e[0] = 1;
    return e;
}

// Inputs below m: 0, 1, m - 1, the other modulus reduced (the input of a
// ciphertext equal to the other prime), its negation, then random ones.
std::vector<Mpz> inputsFor(const Mpz& m, const Mpz& other, Rng& rng, unsigned randomCount) {
    std::vector<Mpz> inputs(5);
    mpz_set_ui(inputs[1].get(), 1);
    mpz_sub_ui(inputs[2].get(), m.get(), 1);
    mpz_mod(inputs[3].get(), other.get(), m.get());
    mpz_sub(inputs[4].get(), m.get(), inputs[3].get());
    mpz_mod(inputs[4].get(), inputs[4].get(), m.get());
    for (unsigned i = 0; i < randomCount; i++) {
        Mpz x;
        std::vector<Word> w(mpz_size(m.get()) * sizeof(mp_limb_t) / sizeof(Word) + 1);
        for (auto& word : w) word = static_cast<Word>(rng.u64());
        mpz_import(x.get(), w.size(), -1, sizeof(Word), 0, 0, w.data());
        mpz_mod(x.get(), x.get(), m.get());
        inputs.push_back(x);
    }
    return inputs;
}

TEST(CrtPair, EveryPathMatchesGmpForThePrimesOfRsaKeys) {
    Rng rng(12);
    // Prime lengths of 512-, 768-, 1000- and 1024-bit keys, and pairs whose
    // lengths differ within one word count.
    const std::pair<std::size_t, std::size_t> lengths[] = {{256, 256}, {384, 384}, {500, 500},
                                                           {512, 512}, {512, 500}, {250, 256}};
    for (const auto& [pBits, qBits] : lengths) {
        for (PrimeShape shape :
             {PrimeShape::Random, PrimeShape::JustAboveAPowerOfTwo, PrimeShape::AllOnesTop}) {
            const Mpz p = primeOf(pBits, shape, rng), q = primeOf(qBits, PrimeShape::Random, rng);
            const std::size_t n = (std::max(pBits, qBits) + kWordBits - 1) / kWordBits;
            const std::vector<Mpz> xs = inputsFor(p, q, rng, nnCases(2));
            const std::vector<Mpz> ys = inputsFor(q, p, rng, nnCases(2));
            for (std::size_t i = 0; i < xs.size(); i++) {
                for (int kind = 0; kind < kExponentKinds; kind++) {
                    const int otherKind[kExponentKinds] = {0, 3, 2, 1, 5, 4};
                    const Side sp{p, xs[i], exponentOf(kind, n * kDigitsPerWord, rng)};
                    const Side sq{q, ys[i], exponentOf(otherKind[kind], n * kDigitsPerWord, rng)};
                    const std::string what = std::to_string(pBits) + "/" + std::to_string(qBits) +
                                             " bits, input " + std::to_string(i) + ", exponents " +
                                             std::to_string(kind);
                    // Both orders of the primes.
                    expectEveryPathAgrees(sp, sq, n, what);
                    expectEveryPathAgrees(sq, sp, n, what + ", swapped");
                }
            }
        }
    }
}

TEST(CrtPair, EveryWordCountTheIfmaKernelsTakeAndAround) {
    Rng rng(121);
    for (std::size_t n = 1; n <= 9; n++) {
        for (std::size_t top : {kWordBits * n, kWordBits * n - 1, kWordBits * n - 31}) {
            if (top < 3) continue;
            const Mpz p = primeOf(top, PrimeShape::Random, rng),
                      q = primeOf(top, PrimeShape::AllOnesTop, rng);
            for (const Mpz& x : inputsFor(p, q, rng, nnCases(3))) {
                Mpz y;
                mpz_mod(y.get(), x.get(), q.get());
                expectEveryPathAgrees({p, x, exponentOf(0, n * kDigitsPerWord, rng)},
                                      {q, y, exponentOf(0, n * kDigitsPerWord, rng)}, n,
                                      std::to_string(n) + " words, " + std::to_string(top) + " bits");
            }
        }
    }
}

TEST(CrtPair, TheFastestPathRunsAndIfmaIsChosenWhereItPays) {
    for (std::size_t n = 1; n <= kMaxWords; n++) EXPECT_TRUE(pairPathRuns(fastestPairPath(n), n)) << n;
    if (!pairPathRuns(PairPath::ifma, 8)) GTEST_SKIP() << "no IFMA on this CPU (or capped by CORVANE_CPU)";
    EXPECT_EQ(fastestPairPath(8), PairPath::ifma);
    EXPECT_EQ(fastestPairPath(4), PairPath::ifmaRightToLeft);
}

// Valgrind cannot follow the IFMA kernels, nor the AVX-512 reads of both
// tables at once that the interleaved path makes, so their independence
// from the secrets is checked by time: exponents of extreme Hamming weight
// and inputs 0, 1 and random must take the same time. A secret-dependent
// branch or table index shows up as tens of percent (the documented
// algorithm differs by half between such keys); runs alternate between the
// cases so that load on the machine affects each alike, and the bound is
// loose enough for a busy machine.
void expectTimeIndependentOfSecrets(PairPath path, std::size_t n) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "under a sanitizer its own bookkeeping is what gets timed";
#endif
    const std::size_t bits = n * kWordBits;
    Rng rng(1212);
    const Mpz p = primeOf(bits, PrimeShape::Random, rng), q = primeOf(bits, PrimeShape::Random, rng);
    MontModulus modP, modQ;
    const Words pw = wordsOf(p, n), qw = wordsOf(q, n);
    setupSecretModulus(modP, pw.data(), n, bits);
    setupSecretModulus(modQ, qw.data(), n, bits);

    struct Case {
        std::vector<NN_DIGIT> e;
        Words x;
    };
    std::vector<Case> cases;
    std::vector<NN_DIGIT> sparse(2 * n, 0);
    sparse[0] = 1;
    sparse[2 * n - 1] = 0x80000000u;
    const std::vector<NN_DIGIT> dense(2 * n, ~NN_DIGIT{0});
    Words zero(n, 0), one(modP.one, modP.one + n), random(n);
    for (auto& w : random) w = static_cast<Word>(rng.u64()) >> 1;
    cases.push_back({sparse, zero});
    cases.push_back({dense, random});
    cases.push_back({sparse, one});
    cases.push_back({dense, zero});

    constexpr int kRounds = 101;
    std::vector<std::vector<double>> times(cases.size());
    for (int round = 0; round < kRounds; round++) {
        for (std::size_t c = 0; c < cases.size(); c++) {
            Words xP = cases[c].x, xQ = cases[c].x;
            const auto start = std::chrono::steady_clock::now();
            modExpSecretPair(path, modP, xP.data(), cases[c].e.data(), modQ, xQ.data(), cases[c].e.data(),
                             2 * n);
            times[c].push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
    std::vector<double> medians;
    for (auto& t : times) {
        std::nth_element(t.begin(), t.begin() + kRounds / 2, t.end());
        medians.push_back(t[kRounds / 2]);
    }
    const auto [lo, hi] = std::minmax_element(medians.begin(), medians.end());
    EXPECT_LT(*hi / *lo, 1.15) << "medians differ: sparse/zero " << medians[0] << " s, dense/random "
                               << medians[1] << " s, sparse/one " << medians[2] << " s, dense/zero "
                               << medians[3] << " s";
}

TEST(CrtPair, IfmaTimeDoesNotDependOnExponentOrInput) {
    if (!pairPathRuns(PairPath::ifma, 8)) GTEST_SKIP() << "no IFMA on this CPU (or capped by CORVANE_CPU)";
    expectTimeIndependentOfSecrets(PairPath::ifma, 8);
}

// The right-to-left kernel picks its accumulator by the exponent's bits at
// every window.
TEST(CrtPair, RightToLeftTimeDoesNotDependOnExponentOrInput) {
    if (!pairPathRuns(PairPath::ifmaRightToLeft, 4))
        GTEST_SKIP() << "no IFMA on this CPU (or capped by CORVANE_CPU)";
    expectTimeIndependentOfSecrets(PairPath::ifmaRightToLeft, 4);
}

// Without IFMA, at 4 words (512-bit keys) the interleaved path runs, and with AVX-512 it
// reads both tables in one pass.
TEST(CrtPair, InterleavedTimeDoesNotDependOnExponentOrInput) {
    expectTimeIndependentOfSecrets(PairPath::interleaved, 4);
}

// Each IFMA product ends by bringing its digits below 2^52; the single
// carry that may then leave a digit can ripple through digits of all ones,
// across the boundaries of the vectors too. Products of random numbers
// almost never produce that, so the normalisation is checked alone, against
// carries passed digit by digit, on crafted and on random digits with runs
// of all ones, for one to three vectors (the public exponentiation takes
// three).
TEST(CrtPair, IfmaNormalisationCarriesThroughDigitsOfAllOnes) {
    if (!pairPathRuns(PairPath::ifma, 8)) GTEST_SKIP() << "no IFMA on this CPU (or capped by CORVANE_CPU)";
    constexpr std::uint64_t kOnes = (std::uint64_t{1} << 52) - 1;
    using Digits24 = std::array<std::uint64_t, 24>;
    std::vector<Digits24> cases;
    Digits24 d{};
    d.fill(kOnes);
    d[0] = kOnes + 1;  // a carry out of digit 0 through every digit above
    d[23] = 0;
    cases.push_back(d);
    d.fill(0);
    d[7] = kOnes + 3;  // across the vectors, through digits 8 to 10
    d[8] = d[9] = d[10] = kOnes;
    d[15] = kOnes + 1;  // and across the second edge, through digits 16 and 17
    d[16] = d[17] = kOnes;
    cases.push_back(d);
    d.fill(kOnes);  // all ones and nothing to carry: unchanged
    d[23] = 0;
    cases.push_back(d);
    d.fill((std::uint64_t{1} << 58) - 1);  // the widest digits a product leaves
    d[23] = 0;
    cases.push_back(d);
    Rng rng(52);
    for (int k = 0; k < 2000; k++) {
        for (auto& x : d) x = rng.u64() % 3 == 0 ? kOnes + rng.u64() % 3 : rng.u64() >> (6 + rng.u64() % 8);
        cases.push_back(d);
    }
    for (std::size_t vectors : {1u, 2u, 3u}) {
        for (std::size_t c = 0; c < cases.size(); c++) {
            Digits24 in = cases[c], want = in;  // digits above the vectors untouched
            const std::size_t digits = 8 * vectors;
            in[digits - 1] &= 0xFFFF;  // the value stays below 2^(52 * digits)
            std::uint64_t carry = 0;   // digits below 2^58: no sum overflows
            for (std::size_t i = 0; i < digits; i++) {
                const std::uint64_t sum = in[i] + carry;
                want[i] = sum & kOnes;
                carry = sum >> 52;
            }
            Digits24 got = in;
            normaliseDigitsIfma(got.data(), vectors);
            ASSERT_EQ(got, want) << vectors << " vector(s), case " << c;
        }
    }
}

}  // namespace
