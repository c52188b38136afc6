// The lane-parallel exponentiation against the scalar one, lane by lane,
// for every word count it takes and lane counts that fill one group of
// eight partly, exactly and not at all, and two groups partly and fully,
// with exponents of the modulus's length, one digit and none. The kernel's
// text runs twice: on the plain-integer stand-in for the vector (on every
// CPU) and on AVX-512 IFMA where this CPU has it (as capped by CORVANE_CPU).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <tuple>
#include <vector>

#include "engine/bignum/ifma/montgomery_ifma_lanes.h"
#include "engine/bignum/sized/mont_ops.h"
#include "tests/support/emulated_lanes.h"
#include "tests/support/lane_cases.h"

using namespace corvane::engine;
using corvane::test::LaneCases;
using corvane::test::makeLaneCases;

namespace {

#if CORVANE_ENGINE_HAS_IFMA
using corvane::test::EmulatedLanes;

void runEmulated(LaneCases& c) {
    const auto mods = c.modPointers();
    const auto x = c.xPointers();
    const auto e = c.ePointers();
    laneDispatch(c.n, c.mods.size(), [&]<std::size_t L, std::size_t G>() {
        laneModExpWords<EmulatedLanes, L, G>(mods.size(), mods.data(), x.data(), e.data(), c.digits);
    });
}
#endif

#if CORVANE_ENGINE_HAS_IFMA
// Each lane modulus's digits and factors made ahead, as a key makes them
// once; the lanes take them instead of deriving their own.
std::vector<IfmaPairConstants> cachedOf(const LaneCases& c, std::vector<const IfmaPairConstants*>& pointers) {
    std::vector<IfmaPairConstants> made(c.mods.size());
    for (std::size_t i = 0; i < made.size(); i++) prepareIfmaPairConstants(made[i], c.mods[i]);
    for (const auto& m : made) pointers.push_back(&m);
    return made;
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
        for (const bool withCached : {false, true}) {
            LaneCases c = makeLaneCases(n, lanes, digits, rng);
            const auto mods = c.modPointers();
            const auto x = c.xPointers();
            const auto e = c.ePointers();
            std::vector<const IfmaPairConstants*> cached;
            const auto made = cachedOf(c, cached);
            modExpLanesIfma(lanes, mods.data(), x.data(), e.data(), digits, withCached ? cached.data() : nullptr);
            expectLanesMatch(c, withCached ? "IFMA, cached digits" : "IFMA");
        }
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

// The exponentiation by one public exponent that every lane shares, each
// lane under its own modulus (the check of a batch's results modulo each
// prime), on the same lanes: exponents 3, 65537, one with every bit set and
// one as long as the modulus.
#if CORVANE_ENGINE_HAS_IFMA
void runPublicExponentEmulated(LaneCases& c) {
    const auto mods = c.modPointers();
    const auto x = c.xPointers();
    laneDispatch(c.n, c.mods.size(), [&]<std::size_t L, std::size_t G>() {
        lanePublicExponentWords<EmulatedLanes, L, G>(mods.size(), mods.data(), x.data(), c.e[0].data(), c.digits);
    });
}
#endif

TEST_P(IfmaLanes, EveryLaneMatchesTheScalarExponentiationByOneExponent) {
#if CORVANE_ENGINE_HAS_IFMA
    const auto [n, lanes] = GetParam();
    corvane::test::Rng rng(200 * n + lanes);
    std::vector<std::vector<NN_DIGIT>> exponents = {{3}, {65537}, {~NN_DIGIT{0}, ~NN_DIGIT{0}}, {}};
    for (std::size_t k = 0; k < n * kDigitsPerWord; k++) exponents[3].push_back(rng.u32() | 1u);
    for (const auto& e : exponents) {
        for (const bool onIfma : {false, true}) {
            if (onIfma && !ifmaLanesRun(n)) continue;
            LaneCases c = makeLaneCases(n, lanes, 0, rng);
            corvane::test::shareExponent(c, e);
            if (onIfma) {
                const auto mods = c.modPointers();
                const auto x = c.xPointers();
                modExpLanesPublicExponentIfma(lanes, mods.data(), x.data(), e.data(), e.size());
            } else {
                runPublicExponentEmulated(c);
            }
            expectLanesMatch(c, onIfma ? "IFMA, one exponent" : "stand-in vector, one exponent");
        }
    }
#else
    GTEST_SKIP() << "no IFMA kernels in this build";
#endif
}

// The reduction of numbers of 2n words into each lane's Montgomery form (a
// batch's inputs and its results modulo each prime) against toMont, on the
// same moduli: inputs 0, m, m times 2^(64n), all ones, and random ones.
#if CORVANE_ENGINE_HAS_IFMA
void runReduceEmulated(const LaneCases& c, const Word* const* in, Word* const* out) {
    const auto mods = c.modPointers();
    laneDispatch(c.n, c.mods.size(), [&]<std::size_t L, std::size_t G>() {
        laneReduceWords<EmulatedLanes, L, G>(mods.size(), mods.data(), in, out);
    });
}
#endif

TEST_P(IfmaLanes, EveryLaneReducesAsToMont) {
#if CORVANE_ENGINE_HAS_IFMA
    const auto [n, lanes] = GetParam();
    corvane::test::Rng rng(300 * n + lanes);
    const LaneCases c = makeLaneCases(n, lanes, 0, rng);
    std::vector<std::vector<Word>> in(lanes, std::vector<Word>(2 * n, 0)), want(lanes, std::vector<Word>(n));
    for (std::size_t i = 0; i < lanes; i++) {
        const Word* m = c.mods[i].m;
        switch (i % 5) {
            case 0: break;
            case 1: std::copy(m, m + n, in[i].begin()); break;
            case 2: std::copy(m, m + n, in[i].begin() + static_cast<long>(n)); break;
            case 3: in[i].assign(2 * n, ~Word{0}); break;
            default: for (auto& w : in[i]) w = static_cast<Word>(rng.u64());
        }
        toMont(c.mods[i], want[i].data(), in[i].data(), 2 * n);
    }
    std::vector<const Word*> inputs;
    for (const auto& v : in) inputs.push_back(v.data());
    for (const bool onIfma : {false, true}) {
        if (onIfma && !ifmaLanesRun(n)) continue;
        std::vector<std::vector<Word>> out(lanes, std::vector<Word>(n, 0x5a));
        std::vector<Word*> outputs;
        for (auto& v : out) outputs.push_back(v.data());
        if (onIfma) {
            // Half the lanes with cached digits, half without.
            const auto mods = c.modPointers();
            std::vector<const IfmaPairConstants*> cached;
            const auto made = cachedOf(c, cached);
            for (std::size_t i = 0; i < lanes; i += 2) cached[i] = nullptr;
            reduceLanesIfma(lanes, mods.data(), inputs.data(), outputs.data(), cached.data());
        } else {
            runReduceEmulated(c, inputs.data(), outputs.data());
        }
        for (std::size_t i = 0; i < lanes; i++)
            EXPECT_EQ(out[i], want[i]) << (onIfma ? "IFMA" : "stand-in vector") << ", lane " << i << " of " << lanes;
    }
#else
    GTEST_SKIP() << "no IFMA kernels in this build";
#endif
}

}  // namespace
