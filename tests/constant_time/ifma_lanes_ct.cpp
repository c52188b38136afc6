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
#include <tuple>
#include <vector>

#include "engine/bignum/sized/mont_ops.h"
#include "tests/support/emulated_lanes.h"
#include "tests/support/lane_cases.h"

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

enum class Run { ownExponents, oneExponent, reduction };

// One run of the kernel on `lanes` lanes of n words, everything secret
// marked undefined: the exponentiation with each lane's own exponent
// (exponents marked too), by one public exponent that all lanes share (the
// check of a batch's results modulo each prime), and the reduction of
// numbers of 2n words into each lane's form (inputs marked too).
void check(Run run, std::size_t n, std::size_t lanes) {
#if CORVANE_ENGINE_HAS_IFMA
    corvane::test::Rng rng(10 * n + lanes + 1000 * static_cast<std::size_t>(run));
    corvane::test::LaneCases c =
        corvane::test::makeLaneCases(n, lanes, run == Run::ownExponents ? n * kDigitsPerWord : 0, rng);
    if (run == Run::oneExponent) corvane::test::shareExponent(c, {65537});
    std::vector<std::vector<Word>> in(lanes, std::vector<Word>(2 * n));
    std::vector<const Word*> inputs;
    for (std::size_t i = 0; i < lanes && run == Run::reduction; i++) {
        for (auto& w : in[i]) w = static_cast<Word>(rng.u64());
        toMont(c.mods[i], c.expected[i].data(), in[i].data(), 2 * n);
        VALGRIND_MAKE_MEM_UNDEFINED(in[i].data(), in[i].size() * sizeof in[i][0]);
        inputs.push_back(in[i].data());
    }
    markUndefined(c, run == Run::ownExponents);
    const auto mods = c.modPointers();
    const auto x = c.xPointers();
    const auto e = c.ePointers();
    laneDispatch(n, lanes, [&]<std::size_t L, std::size_t G>() {
        using corvane::test::EmulatedLanes;
        if (run == Run::ownExponents)
            laneModExpWords<EmulatedLanes, L, G>(lanes, mods.data(), x.data(), e.data(), c.digits);
        if (run == Run::oneExponent)
            lanePublicExponentWords<EmulatedLanes, L, G>(lanes, mods.data(), x.data(), c.e[0].data(), c.digits);
        if (run == Run::reduction) laneReduceWords<EmulatedLanes, L, G>(lanes, mods.data(), inputs.data(), x.data());
    });
    const char* names[] = {"own exponents", "one public exponent", "reduction"};
    compare(c, names[static_cast<int>(run)]);
#else
    (void)run, (void)n, (void)lanes;
#endif
}

}  // namespace

int main() {
#if CORVANE_ENGINE_HAS_IFMA
    for (const auto& [run, n, lanes] : {std::tuple{Run::ownExponents, 4, 5}, {Run::ownExponents, 4, 16},
                                        {Run::ownExponents, 8, 5}, {Run::ownExponents, 8, 16},
                                        {Run::oneExponent, 8, 3}, {Run::oneExponent, 8, 16},
                                        {Run::reduction, 4, 5}, {Run::reduction, 8, 16}})
        check(run, static_cast<std::size_t>(n), static_cast<std::size_t>(lanes));
    std::printf("8 lane sets, %d failures\n", failures);
#endif
    return failures == 0 ? 0 : 1;
}
