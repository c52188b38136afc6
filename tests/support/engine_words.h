// The engine's word arrays to and from GMP numbers, for the tests that
// compare the engine's kernels and exponentiations with GMP.
#ifndef CORVANE_TEST_ENGINE_WORDS_H
#define CORVANE_TEST_ENGINE_WORDS_H

#include <cstddef>
#include <vector>

#include "engine/bignum/word.h"
#include "tests/support/nn_testing.h"

namespace corvane::test {

using Words = std::vector<engine::Word>;

// The value of w, least significant word first.
inline Mpz mpzOf(const Words& w) {
    Mpz x;
    mpz_import(x.get(), w.size(), -1, sizeof(engine::Word), 0, 0, w.data());
    return x;
}

// x as n words (x must fit).
inline Words wordsOf(const Mpz& x, std::size_t n) {
    Words w(n, 0);
    std::size_t written = 0;
    if (mpz_sgn(x.get()) != 0) mpz_export(w.data(), &written, -1, sizeof(engine::Word), 0, 0, x.get());
    return w;
}

}  // namespace corvane::test

#endif  // CORVANE_TEST_ENGINE_WORDS_H
