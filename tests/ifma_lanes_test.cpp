// The lane-parallel exponentiation against the scalar one, lane by lane,
// for every word count it takes and lane counts that fill one group of
// eight partly, exactly and not at all, and two groups partly and fully,
// with exponents of the modulus's length, one digit and none. The kernel's
// text runs twice: on the plain-integer stand-in for the vector (on every
// CPU) and on AVX-512 IFMA where this CPU has it (as capped by CORVANE_CPU).
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <tuple>
#include <vector>

#include "emulated_lanes.h"
#include "engine/mont_ops.h"
#include "engine/montgomery_ifma_lanes.h"
#include "lane_cases.h"

using namespace corvane::engine;
using corvane::test::LaneCases;
using corvane::test::makeLaneCases;

namespace {

#if CORVANE_ENGINE_HAS_IFMA
void runEmulated(LaneCases& c) {
    const auto mods = c.modPointers();
    const auto x = c.xPointers();
    const auto e = c.ePointers();
    const std::size_t lanes = mods.size();
    auto run = [&]<std::size_t L>() {
        if (lanes <= 8)
            laneModExpWords<corvane::test::EmulatedLanes, L, 1>(lanes, mods.data(), x.data(), e.data(), c.digits);
        else
            laneModExpWords<corvane::test::EmulatedLanes, L, 2>(lanes, mods.data(), x.data(), e.data(), c.digits);
    };
    switch (c.n) {
        case 4: return run.operator()<laneDigitsFor(4)>();
        case 5: return run.operator()<laneDigitsFor(5)>();
        case 6: return run.operator()<laneDigitsFor(6)>();
        case 7: return run.operator()<laneDigitsFor(7)>();
        default: return run.operator()<laneDigitsFor(8)>();
    }
}
#endif

void expectLanesMatch(const LaneCases& c, const std::string& what) {
    for (std::size_t i = 0; i < c.x.size(); i++)
        EXPECT_EQ(c.x[i], c.expected[i]) << what << ", lane " << i << " of " << c.x.size() << ", " << c.digits
                                         << " exponent digits";
}

class IfmaLanes : public testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(IfmaLanes, EveryLaneMatchesTheScalarExponentiation) {
#if CORVANE_ENGINE_HAS_IFMA
    const auto [n, lanes] = GetParam();
    corvane::test::Rng rng(100 * n + lanes);
    for (std::size_t digits : {n * kDigitsPerWord, std::size_t{1}, std::size_t{0}}) {
        LaneCases c = makeLaneCases(n, lanes, digits, rng);
        runEmulated(c);
        expectLanesMatch(c, "stand-in vector");
    }
    if (!ifmaLanesRun(n)) GTEST_SKIP() << "no IFMA on this CPU (or capped by CORVANE_CPU)";
    for (std::size_t digits : {n * kDigitsPerWord, std::size_t{1}, std::size_t{0}}) {
        LaneCases c = makeLaneCases(n, lanes, digits, rng);
        const auto mods = c.modPointers();
        const auto x = c.xPointers();
        const auto e = c.ePointers();
        modExpLanesIfma(lanes, mods.data(), x.data(), e.data(), digits);
        expectLanesMatch(c, "IFMA");
    }
#else
    GTEST_SKIP() << "no IFMA kernels in this build";
#endif
}

INSTANTIATE_TEST_SUITE_P(WordsAndLanes, IfmaLanes,
                         testing::Combine(testing::Values(4, 5, 6, 7, 8), testing::Values(1, 7, 8, 9, 16)),
                         [](const auto& instance) {
                             return std::to_string(std::get<0>(instance.param)) + "words_" +
                                    std::to_string(std::get<1>(instance.param)) + "lanes";
                         });

// The exponentiation by a public exponent shared by all lanes under one
// modulus (the check of a batch's results), for every word count it takes,
// against the scalar exponentiation: moduli with a full top word, one 31
// bits short and one of all ones; values 0, 1, m - 1, m and 2^(64n) - 1
// (inputs may reach the word count's top) and random ones; exponents 3,
// 65537, one with every bit set and one as long as the modulus; lanes
// filled partly and fully.
#if CORVANE_ENGINE_HAS_IFMA
template <std::size_t N>
void runPublicEmulated(std::size_t lanes, const MontModulus& mod, Word* const* x, const NN_DIGIT* e,
                       std::size_t digits) {
    if (mod.n == N)
        return lanePublicModExpWords<corvane::test::EmulatedLanes, laneDigitsFor(N)>(lanes, mod, x, e, digits);
    if constexpr (N < kIfmaPublicMaxWords) runPublicEmulated<N + 1>(lanes, mod, x, e, digits);
}
#endif

class IfmaPublicLanes : public testing::TestWithParam<std::size_t> {};

TEST_P(IfmaPublicLanes, EveryLaneMatchesTheScalarExponentiation) {
#if CORVANE_ENGINE_HAS_IFMA
    const std::size_t n = GetParam();
    corvane::test::Rng rng(n);
    for (int shape = 0; shape < 3; shape++) {
        std::vector<Word> m(n);
        for (auto& w : m) w = shape == 2 ? ~Word{0} : static_cast<Word>(rng.u64());
        m[n - 1] = shape == 1 ? (m[n - 1] >> 31) | (Word{1} << 32) : m[n - 1] | (Word{1} << 63);
        m[0] |= 1;
        MontModulus mod;
        setupPublicModulus(mod, m.data(), n);

        std::vector<std::vector<Word>> values(8, std::vector<Word>(n, 0));
        values[1][0] = 1;
        values[2] = m;
        values[2][0] -= 1;
        values[3] = m;
        values[4].assign(n, ~Word{0});
        for (std::size_t i = 5; i < 8; i++)
            for (auto& w : values[i]) w = static_cast<Word>(rng.u64());

        std::vector<std::vector<NN_DIGIT>> exponents = {{3}, {65537}, {~NN_DIGIT{0}, ~NN_DIGIT{0}}, {}};
        for (std::size_t k = 0; k < n * kDigitsPerWord; k++) exponents[3].push_back(rng.u32() | 1u);
        for (const auto& e : exponents) {
            std::vector<std::vector<Word>> want(values.size(), std::vector<Word>(n));
            for (std::size_t i = 0; i < values.size(); i++) {
                toMont(mod, want[i].data(), values[i].data(), n);
                modExpPublic(mod, want[i].data(), want[i].data(), e.data(), e.size());
                fromMont(mod, want[i].data(), want[i].data());
            }
            for (const bool onIfma : {false, true}) {
                if (onIfma && !ifmaLanesPublicRun(n)) continue;
                for (std::size_t lanes : {2, 5, 8}) {
                    std::vector<std::vector<Word>> x(values.begin(), values.begin() + static_cast<long>(lanes));
                    std::vector<Word*> pointers;
                    for (auto& v : x) pointers.push_back(v.data());
                    if (onIfma)
                        modExpLanesPublicIfma(lanes, mod, pointers.data(), e.data(), e.size());
                    else
                        runPublicEmulated<kIfmaPublicMinWords>(lanes, mod, pointers.data(), e.data(), e.size());
                    for (std::size_t i = 0; i < lanes; i++)
                        EXPECT_EQ(x[i], want[i]) << (onIfma ? "IFMA" : "stand-in vector") << ", modulus shape "
                                                 << shape << ", " << e.size() << "-digit exponent, lane " << i
                                                 << " of " << lanes;
                }
            }
        }
    }
#else
    GTEST_SKIP() << "no IFMA kernels in this build";
#endif
}

INSTANTIATE_TEST_SUITE_P(Words, IfmaPublicLanes, testing::Range(kIfmaPublicMinWords, kIfmaPublicMaxWords + 1),
                         [](const auto& instance) { return std::to_string(instance.param) + "words"; });

}  // namespace
