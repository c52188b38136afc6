// The engine's Montgomery backends side by side: the run-time-size portable
// kernel, the portable kernels specialised per size, and (where the CPU
// has BMI2 and ADX) the assembly kernels must each give a * b / R mod m and
// a^2 / R mod m exactly as GMP computes them, for every word count and for
// the operands that stress carries: 0, 1, m - 1 under moduli whose top
// word is all ones, small, or a lone bit. The AVX2 table read must agree
// with the portable one for every index, and so must the AVX-512 one, and the
// reads of two tables side by side on every path. (The exponentiations and RSA on
// top are compared with the documented algorithms in nn_engine_test and
// rsa_engine_test, which CI runs on every CPU tier.)
#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "engine/bignum/adx/montgomery_adx.h"
#include "engine/bignum/ct.h"
#include "engine/bignum/montgomery.h"
#include "engine/bignum/select/ct_select_avx2.h"
#include "engine/bignum/select/ct_select_avx512.h"
#include "engine/bignum/select/ct_select_pair.h"
#include "tests/support/engine_words.h"
#include "tests/support/nn_testing.h"

using namespace corvane::engine;
using corvane::test::Mpz;
using corvane::test::mpzOf;
using corvane::test::Words;
using corvane::test::wordsOf;
using corvane::test::nnCases;
using corvane::test::Rng;

namespace {

// x * y / 2^(W n) mod m.
Words montgomeryProduct(const Words& x, const Words& y, const Words& m) {
    const std::size_t n = m.size();
    Mpz p, r, inverse, mm = mpzOf(m);
    mpz_mul(p.get(), mpzOf(x).get(), mpzOf(y).get());
    mpz_ui_pow_ui(r.get(), 2, kWordBits * n);
    EXPECT_NE(mpz_invert(inverse.get(), r.get(), mm.get()), 0);
    mpz_mul(p.get(), p.get(), inverse.get());
    mpz_mod(p.get(), p.get(), mm.get());
    return wordsOf(p, n);
}

enum class Shape { Random, AllOnesTop, SmallTop, AllOnes };

Words modulusOf(Shape shape, std::size_t n, Rng& rng) {
    Words m(n);
    for (auto& w : m) w = static_cast<Word>(rng.u64());
    switch (shape) {
        case Shape::Random:
            m[n - 1] |= Word{1} << (kWordBits - 1);
            break;
        case Shape::AllOnesTop:
            m[n - 1] = ~Word{0};
            break;
        case Shape::SmallTop:
            m[n - 1] = 1;
            break;
        case Shape::AllOnes:
            for (auto& w : m) w = ~Word{0};
            break;
    }
    m[0] |= 1;
    if (n == 1 && m[0] == 1) m[0] = 3;
    return m;
}

// Operands below m: 0, 1, m - 1, m - 2 and random ones.
std::vector<Words> operandsBelow(const Words& m, Rng& rng) {
    const Mpz mm = mpzOf(m);
    std::vector<Words> out;
    for (unsigned long k : {0ul, 1ul}) out.push_back(wordsOf(Mpz(k), m.size()));
    for (unsigned long k : {1ul, 2ul}) {
        Mpz x;
        mpz_sub_ui(x.get(), mm.get(), k);
        out.push_back(wordsOf(x, m.size()));
    }
    for (int i = 0; i < 3; i++) {
        Words r(m.size());
        for (auto& w : r) w = static_cast<Word>(rng.u64());
        Mpz x;
        mpz_mod(x.get(), mpzOf(r).get(), mm.get());
        out.push_back(wordsOf(x, m.size()));
    }
    return out;
}

// Runs mul and sqr of one backend over all operand pairs.
template <class Backend>
void checkBackend(const MontModulus& mod, const Words& m, const std::vector<Words>& operands,
                  const char* name) {
    Backend backend(mod);
    const std::size_t n = m.size();
    for (const Words& x : operands) {
        typename Backend::Element a{}, r{};
        backend.load(a, x.data());
        backend.sqr(r, a);
        ASSERT_EQ(Words(r.begin(), r.begin() + static_cast<long>(n)), montgomeryProduct(x, x, m))
            << name << " square, n = " << n << " x = " << mpzOf(x).hex() << " m = " << mpzOf(m).hex();
        for (const Words& y : operands) {
            typename Backend::Element b{};
            backend.load(b, y.data());
            backend.mul(r, a, b);
            ASSERT_EQ(Words(r.begin(), r.begin() + static_cast<long>(n)), montgomeryProduct(x, y, m))
                << name << " product, n = " << n << " x = " << mpzOf(x).hex() << " y = " << mpzOf(y).hex()
                << " m = " << mpzOf(m).hex();
        }
    }
}

template <std::size_t N>
void checkFixedSize(Rng& rng) {
    for (Shape shape : {Shape::Random, Shape::AllOnesTop, Shape::SmallTop, Shape::AllOnes}) {
        for (unsigned round = 0; round < nnCases(4); round++) {
            const Words m = modulusOf(shape, N, rng);
            MontModulus mod;
            setupPublicModulus(mod, m.data(), N);
            const auto operands = operandsBelow(m, rng);
            checkBackend<MontBackend<0>>(mod, m, operands, "run-time size");
            checkBackend<MontBackend<N>>(mod, m, operands, "portable");
            if constexpr (adxKernelsCover(N)) {
                if (adxKernelsAvailable()) checkBackend<AdxBackend<N>>(mod, m, operands, "ADX");
            }
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

template <std::size_t... N>
void checkSizes(Rng& rng, std::index_sequence<N...>) {
    (checkFixedSize<N + 1>(rng), ...);
}

TEST(EngineKernels, EveryBackendMatchesGmpForEveryWordCount) {
    Rng rng(0x6b6e0001);
    checkSizes(rng, std::make_index_sequence<kMaxWords>{});
    if (!adxKernelsAvailable()) std::printf("ADX kernels not in use on this CPU tier\n");
}

TEST(EngineKernels, TableReadsAgreeForEveryIndex) {
    Rng rng(0x6b6e0002);
    for (std::size_t n = 1; n <= kMaxWords; n++) {
        for (std::size_t count : {2u, 4u, 8u, 16u, 32u}) {
            std::vector<Word> table(count * kMaxWords);
            for (auto& w : table) w = static_cast<Word>(rng.u64());
            for (std::size_t index = 0; index < count; index++) {
                std::array<Word, kMaxWords> portable{}, wide{};
                ct::lookup(portable.data(), table.data(), count, kMaxWords, n, static_cast<Word>(index));
                for (std::size_t i = 0; i < n; i++)
                    ASSERT_EQ(portable[i], table[index * kMaxWords + i]) << "portable, n = " << n;
                if (!avx2SelectAvailable()) continue;
                wide.fill(0x5A5A5A5Au);
                selectAvx2(wide.data(), table.data(), count, kMaxWords, n, static_cast<Word>(index));
                for (std::size_t i = 0; i < kMaxWords; i++)
                    ASSERT_EQ(wide[i], i < n ? portable[i] : Word{0x5A5A5A5Au})
                        << "AVX2, n = " << n << " word " << i;
            }
        }
    }
}

// Rows of two entries, each path that runs here against the entries as
// stored: the joint AVX-512 read (entries adjacent), and the reads in turn
// with the second entry further along the row.
TEST(EngineKernels, PairTableReadsAgreeForEveryPairOfIndices) {
    Rng rng(0x6b6e0003);
    std::vector<PairSelectPath> paths = {PairSelectPath::portable};
    if (avx2SelectAvailable()) paths.push_back(PairSelectPath::avx2);
    if (avx512SelectAvailable()) paths.insert(paths.end(), {PairSelectPath::avx512, PairSelectPath::avx512Joint});
    for (std::size_t n = 1; n <= 12; n++) {
        for (std::size_t count : {2u, 16u, 32u}) {
            for (std::size_t second : {n, n + 3}) {
                const std::size_t stride = second + n + 1;  // a word of gap between rows
                std::vector<Word> table(count * stride);
                for (auto& w : table) w = static_cast<Word>(rng.u64());
                for (const PairSelectPath path : paths) {
                    if (path == PairSelectPath::avx512Joint && second != n) continue;
                    for (std::size_t indexP = 0; indexP < count; indexP++) {
                        const std::size_t indexQ = (indexP * 7 + 3) % count;
                        std::array<Word, 13> outP, outQ;
                        outP.fill(0x5A5A5A5Au);
                        outQ.fill(0x5A5A5A5Au);
                        selectPair(path, outP.data(), outQ.data(), table.data(), count, stride, second, n,
                                   static_cast<Word>(indexP), static_cast<Word>(indexQ));
                        for (std::size_t i = 0; i <= n; i++) {
                            const Word keptP = i < n ? table[indexP * stride + i] : Word{0x5A5A5A5Au};
                            const Word keptQ = i < n ? table[indexQ * stride + second + i] : Word{0x5A5A5A5Au};
                            ASSERT_EQ(outP[i], keptP) << "path " << static_cast<int>(path) << ", n = " << n;
                            ASSERT_EQ(outQ[i], keptQ) << "path " << static_cast<int>(path) << ", n = " << n;
                        }
                    }
                }
            }
        }
    }
}

}  // namespace
