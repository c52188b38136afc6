// Constant-time check of the ADX Montgomery kernels, run under valgrind
// memcheck (see tests/CMakeLists.txt).
//
// Valgrind runs MULX, ADCX and ADOX but does not report ADX to the program,
// so under it cpu_features() picks the portable kernels and the check of the
// private-key operations never reaches the ADX ones. This program calls them
// directly: the fixed-window exponentiation over the ADX backend for the
// moduli and primes of the fixed keys (4, 8 and 16 words: the rows kernels
// and the window kernels), with the modulus, the base and the exponent
// marked undefined. Memcheck then reports any branch or memory address that
// depends on them. Each result is made defined again and compared with the
// portable backend's, so the run also shows that the answers agree.
#include <Corvane/nn.h>
#include <valgrind/memcheck.h>

#include <cstdio>
#include <string>

#include "engine/bignum/adx/montgomery_adx.h"
#include "engine/bignum/exponent.h"
#include "engine/bignum/montgomery.h"
#include "tests/support/test_support.h"

namespace {

using namespace corvane::engine;

int failures = 0;

// base^e modulo m (all of n words) over the ADX and the portable backends
// of N words; the ADX run sees m, base and e as undefined.
template <std::size_t N>
void compareBackends(const std::string& name, const NN_DIGIT* m, const NN_DIGIT* base, const NN_DIGIT* e,
                     std::size_t digits) {
#if CORVANE_ENGINE_HAS_ADX
    Word words[kMaxWords] = {};
    wordsFromDigits(words, N, m, 2 * N);
    MontModulus mod;
    setupSecretModulus(mod, words, N, ct::bitLength(words, N));

    typename MontBackend<N>::Element x{}, expected{}, actual{};
    Word b[kMaxWords] = {};
    wordsFromDigits(b, N, base, 2 * N);
    {
        MontBackend<N> portable(mod);
        portable.toMont(x, b);
        modExpFixedWindow(portable, expected, x, e, digits);
    }

    NN_DIGIT secretE[MAX_NN_DIGITS];
    for (std::size_t i = 0; i < digits; i++) secretE[i] = e[i];
    // Everything but the word count, which is public.
    VALGRIND_MAKE_MEM_UNDEFINED(&mod.m0inv, sizeof mod.m0inv);
    VALGRIND_MAKE_MEM_UNDEFINED(mod.m, sizeof mod.m);
    VALGRIND_MAKE_MEM_UNDEFINED(mod.rr, sizeof mod.rr);
    VALGRIND_MAKE_MEM_UNDEFINED(mod.one, sizeof mod.one);
    VALGRIND_MAKE_MEM_UNDEFINED(&x, sizeof x);
    VALGRIND_MAKE_MEM_UNDEFINED(secretE, sizeof secretE);
    {
        AdxBackend<N> adx(mod);
        modExpFixedWindow(adx, actual, x, secretE, digits);
    }
    VALGRIND_MAKE_MEM_DEFINED(&actual, sizeof actual);
    if (actual != expected) {
        std::fprintf(stderr, "FAILED: %s: the ADX kernels disagree with the portable ones\n", name.c_str());
        failures++;
    }
#else
    (void)name, (void)m, (void)base, (void)e, (void)digits;
#endif
}

void run(const std::string& name, const std::string& modulusHex, const std::string& exponentHex) {
    const auto modulus = corvane::test::fromHex(modulusHex);
    const auto exponent = corvane::test::fromHex(exponentHex);
    NN_DIGIT m[MAX_NN_DIGITS], e[MAX_NN_DIGITS], base[MAX_NN_DIGITS];
    const auto digits = static_cast<std::uint32_t>((modulus.size() + 3) / 4);
    QV_NN_Decode(m, digits, modulus.data(), static_cast<std::uint32_t>(modulus.size()));
    QV_NN_Decode(e, digits, exponent.data(), static_cast<std::uint32_t>(exponent.size()));
    // A base below m (whose top digit is not zero): m's digits scrambled,
    // the top one cleared.
    for (std::uint32_t i = 0; i < digits; i++) base[i] = m[i] ^ 0x5A5AA5A5u;
    base[digits - 1] = 0;
    switch (wordsForDigits(digits)) {
        case 4:
            return compareBackends<4>(name, m, base, e, digits);
        case 8:
            return compareBackends<8>(name, m, base, e, digits);
        case 16:
            return compareBackends<16>(name, m, base, e, digits);
        default:
            std::fprintf(stderr, "FAILED: %s: no ADX backend of %u digits here\n", name.c_str(), digits);
            failures++;
    }
}

}  // namespace

int main() {
    int cases = 0;
    for (auto& r : corvane::test::readVecFile(corvane::test::ourVector("constant_time_keys.vec"))) {
        const std::string bits = r.at("bits");
        run(bits + "-bit modulus", r.at("n"), r.at("d"));
        run(bits + "-bit prime p", r.at("p"), r.at("dP"));
        run(bits + "-bit prime q", r.at("q"), r.at("dQ"));
        cases += 3;
    }
    std::printf("%d exponentiations, %d failures\n", cases, failures);
    return failures == 0 && cases > 0 ? 0 : 1;
}
