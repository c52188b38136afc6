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
// exponentiation by a public exponent under one modulus runs likewise, with
// only the values raised marked.
#include <valgrind/memcheck.h>

#include <cstdio>
#include <vector>

#include "emulated_lanes.h"
#include "engine/mont_ops.h"
#include "lane_cases.h"

namespace {

using namespace corvane::engine;

int failures = 0;

template <std::size_t L, std::size_t G>
void check(std::size_t n, std::size_t lanes) {
#if CORVANE_ENGINE_HAS_IFMA
    corvane::test::Rng rng(10 * n + lanes);
    corvane::test::LaneCases c = corvane::test::makeLaneCases(n, lanes, n * kDigitsPerWord, rng);
    for (auto& mod : c.mods) {
        // Everything but the word count, which is public.
        VALGRIND_MAKE_MEM_UNDEFINED(&mod.m0inv, sizeof mod.m0inv);
        VALGRIND_MAKE_MEM_UNDEFINED(mod.m, sizeof mod.m);
        VALGRIND_MAKE_MEM_UNDEFINED(mod.rr, sizeof mod.rr);
        VALGRIND_MAKE_MEM_UNDEFINED(mod.one, sizeof mod.one);
    }
    for (auto& x : c.x) VALGRIND_MAKE_MEM_UNDEFINED(x.data(), x.size() * sizeof x[0]);
    for (auto& e : c.e) VALGRIND_MAKE_MEM_UNDEFINED(e.data(), e.size() * sizeof e[0]);
    const auto mods = c.modPointers();
    const auto x = c.xPointers();
    const auto e = c.ePointers();
    laneModExpWords<corvane::test::EmulatedLanes, L, G>(lanes, mods.data(), x.data(), e.data(), c.digits);
    for (std::size_t i = 0; i < lanes; i++) {
        VALGRIND_MAKE_MEM_DEFINED(c.x[i].data(), c.x[i].size() * sizeof c.x[i][0]);
        if (c.x[i] != c.expected[i]) {
            std::fprintf(stderr, "FAILED: %zu words, %zu lanes: lane %zu disagrees with the scalar path\n", n,
                         lanes, i);
            failures++;
        }
    }
#else
    (void)n, (void)lanes;
#endif
}

// The exponentiation by a public exponent under one public modulus (the
// check of a batch's results): only the values raised, the results being
// checked, are marked undefined.
template <std::size_t L>
void checkPublic(std::size_t n, std::size_t lanes) {
#if CORVANE_ENGINE_HAS_IFMA
    corvane::test::Rng rng(20 * n + lanes);
    std::vector<Word> m(n);
    for (auto& w : m) w = static_cast<Word>(rng.u64());
    m[0] |= 1;
    m[n - 1] |= Word{1} << 63;
    MontModulus mod;
    setupPublicModulus(mod, m.data(), n);
    const NN_DIGIT e[] = {65537};
    std::vector<std::vector<Word>> x(lanes, std::vector<Word>(n)), want = x;
    std::vector<Word*> pointers;
    for (std::size_t i = 0; i < lanes; i++) {
        for (auto& w : x[i]) w = static_cast<Word>(rng.u64());
        toMont(mod, want[i].data(), x[i].data(), n);
        modExpPublic(mod, want[i].data(), want[i].data(), e, 1);
        fromMont(mod, want[i].data(), want[i].data());
        VALGRIND_MAKE_MEM_UNDEFINED(x[i].data(), n * sizeof x[i][0]);
        pointers.push_back(x[i].data());
    }
    lanePublicModExpWords<corvane::test::EmulatedLanes, L>(lanes, mod, pointers.data(), e, 1);
    for (std::size_t i = 0; i < lanes; i++) {
        VALGRIND_MAKE_MEM_DEFINED(x[i].data(), n * sizeof x[i][0]);
        if (x[i] != want[i]) {
            std::fprintf(stderr, "FAILED: public exponent, %zu words, %zu lanes: lane %zu disagrees\n", n, lanes,
                         i);
            failures++;
        }
    }
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
    checkPublic<laneDigitsFor(8)>(8, 3);
    checkPublic<laneDigitsFor(16)>(16, 8);
    std::printf("6 lane sets, %d failures\n", failures);
#endif
    return failures == 0 ? 0 : 1;
}
