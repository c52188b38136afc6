// Constant-time check of the lane-parallel exponentiation, run under
// valgrind memcheck (see tests/CMakeLists.txt).
//
// Valgrind cannot run AVX-512, so this program runs the kernel's text
// (engine/montgomery_ifma_lanes_kernel.h) on the plain-integer stand-in for
// the vector, which has no branch or address of its own that depends on a
// value: every branch and address the IFMA build takes comes from that same
// text. Moduli (with their Montgomery constants), inputs and exponents are
// marked undefined, for one group of eight lanes partly filled and for two
// full groups, at the smallest and largest word counts; memcheck reports
// any branch or memory address that depends on them. Each result is made
// defined again and compared with the scalar exponentiation's. The
// exponentiation by one public exponent runs likewise, with the moduli and
// the values raised marked, and so does the reduction of numbers of 2n
// words into each lane's form.
#include <valgrind/memcheck.h>

#include <cstdio>
#include <vector>

#include "emulated_lanes.h"
#include "engine/mont_ops.h"
#include "lane_cases.h"

namespace {

using namespace corvane::engine;

int failures = 0;

#if CORVANE_ENGINE_HAS_IFMA
// Marks every lane's modulus (with its Montgomery constants; the word count
// is public), input and, where they are secret, exponents undefined.
void markUndefined(corvane::test::LaneCases& c, bool exponents) {
    for (auto& mod : c.mods) {
        VALGRIND_MAKE_MEM_UNDEFINED(&mod.m0inv, sizeof mod.m0inv);
        VALGRIND_MAKE_MEM_UNDEFINED(mod.m, sizeof mod.m);
        VALGRIND_MAKE_MEM_UNDEFINED(mod.rr, sizeof mod.rr);
        VALGRIND_MAKE_MEM_UNDEFINED(mod.one, sizeof mod.one);
    }
    for (auto& x : c.x) VALGRIND_MAKE_MEM_UNDEFINED(x.data(), x.size() * sizeof x[0]);
    if (exponents)
        for (auto& e : c.e) VALGRIND_MAKE_MEM_UNDEFINED(e.data(), e.size() * sizeof e[0]);
}

// Makes each result defined again and compares it with the scalar path's.
void compare(corvane::test::LaneCases& c, const char* what) {
    for (std::size_t i = 0; i < c.x.size(); i++) {
        VALGRIND_MAKE_MEM_DEFINED(c.x[i].data(), c.x[i].size() * sizeof c.x[i][0]);
        if (c.x[i] != c.expected[i]) {
            std::fprintf(stderr, "FAILED: %s, %zu words, %zu lanes: lane %zu disagrees with the scalar path\n",
                         what, c.n, c.x.size(), i);
            failures++;
        }
    }
}
#endif

template <std::size_t L, std::size_t G>
void check(std::size_t n, std::size_t lanes) {
#if CORVANE_ENGINE_HAS_IFMA
    corvane::test::Rng rng(10 * n + lanes);
    corvane::test::LaneCases c = corvane::test::makeLaneCases(n, lanes, n * kDigitsPerWord, rng);
    markUndefined(c, true);
    const auto mods = c.modPointers();
    const auto x = c.xPointers();
    const auto e = c.ePointers();
    laneModExpWords<corvane::test::EmulatedLanes, L, G>(lanes, mods.data(), x.data(), e.data(), c.digits);
    compare(c, "own exponents");
#else
    (void)n, (void)lanes;
#endif
}

// The exponentiation by one public exponent that all lanes share (the check
// of a batch's results modulo each prime): moduli and values marked
// undefined, the exponent not.
template <std::size_t L, std::size_t G>
void checkPublicExponent(std::size_t n, std::size_t lanes) {
#if CORVANE_ENGINE_HAS_IFMA
    corvane::test::Rng rng(20 * n + lanes);
    corvane::test::LaneCases c = corvane::test::makeLaneCases(n, lanes, 0, rng);
    const std::vector<NN_DIGIT> e = {65537};
    corvane::test::shareExponent(c, e);
    markUndefined(c, false);
    const auto mods = c.modPointers();
    const auto x = c.xPointers();
    lanePublicExponentWords<corvane::test::EmulatedLanes, L, G>(lanes, mods.data(), x.data(), e.data(), e.size());
    compare(c, "one public exponent");
#else
    (void)n, (void)lanes;
#endif
}

// The reduction of numbers of 2n words into each lane's form (a batch's
// inputs and results modulo each prime): moduli and inputs undefined.
template <std::size_t L, std::size_t G>
void checkReduction(std::size_t n, std::size_t lanes) {
#if CORVANE_ENGINE_HAS_IFMA
    corvane::test::Rng rng(30 * n + lanes);
    corvane::test::LaneCases c = corvane::test::makeLaneCases(n, lanes, 0, rng);
    std::vector<std::vector<Word>> in(lanes, std::vector<Word>(2 * n));
    std::vector<const Word*> inputs;
    std::vector<Word*> outputs;
    for (std::size_t i = 0; i < lanes; i++) {
        for (auto& w : in[i]) w = static_cast<Word>(rng.u64());
        toMont(c.mods[i], c.expected[i].data(), in[i].data(), 2 * n);
        VALGRIND_MAKE_MEM_UNDEFINED(in[i].data(), in[i].size() * sizeof in[i][0]);
        inputs.push_back(in[i].data());
        outputs.push_back(c.x[i].data());
    }
    markUndefined(c, false);
    const auto mods = c.modPointers();
    laneReduceWords<corvane::test::EmulatedLanes, L, G>(lanes, mods.data(), inputs.data(), outputs.data());
    compare(c, "reduction");
#else
    (void)n, (void)lanes;
#endif
}

}  // namespace

int main() {
#if CORVANE_ENGINE_HAS_IFMA
    check<laneDigitsFor(4), 1>(4, 5);
    check<laneDigitsFor(4), 2>(4, 16);
    check<laneDigitsFor(8), 1>(8, 5);
    check<laneDigitsFor(8), 2>(8, 16);
    checkPublicExponent<laneDigitsFor(8), 1>(8, 3);
    checkPublicExponent<laneDigitsFor(8), 2>(8, 16);
    checkReduction<laneDigitsFor(4), 1>(4, 5);
    checkReduction<laneDigitsFor(8), 2>(8, 16);
    std::printf("8 lane sets, %d failures\n", failures);
#endif
    return failures == 0 ? 0 : 1;
}
