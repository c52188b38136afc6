#include "engine/bignum/nn_engine.h"

#include "engine/bignum/ct.h"
#include "engine/bignum/division.h"
#include "engine/bignum/limbs.h"
#include "engine/bignum/sized/mont_ops.h"
#include "engine/bignum/word.h"
#include "platform/secure_zero.h"

namespace corvane::engine {

namespace {

// Significant words of a number of `digits` digits (variable time: public).
std::size_t significantWords(const NN_DIGIT* d, std::uint32_t digits) {
    std::uint32_t top = digits;
    while (top > 0 && d[top - 1] == 0) top--;
    return wordsForDigits(top);
}

}  // namespace

void divide(NN_DIGIT* a, NN_DIGIT* b, const NN_DIGIT* c, std::uint32_t cDigits, const NN_DIGIT* d,
            std::uint32_t dDigits, std::uint32_t ddDigits) {
    Word u[kMaxDividendWords], v[kMaxWords] = {}, q[kMaxDividendWords], r[kMaxWords];
    const std::size_t un = wordsForDigits(cDigits), vn = wordsForDigits(ddDigits);
    wordsFromDigits(u, un, c, cDigits);
    wordsFromDigits(v, vn, d, ddDigits);
    divideWords(q, r, u, un, v, vn);
    digitsFromWords(a, cDigits, q, un >= vn ? un - vn + 1 : 0);
    digitsFromWords(b, dDigits, r, vn);
}

void modMult(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, const NN_DIGIT* d, std::uint32_t digits) {
    const std::size_t n = wordsForDigits(digits);
    Word x[kMaxWords], y[kMaxWords], product[2 * kMaxWords], v[kMaxWords] = {}, q[2 * kMaxWords],
                                                             r[kMaxWords];
    wordsFromDigits(x, n, b, digits);
    wordsFromDigits(y, n, c, digits);
    mulWords(product, x, y, n);
    const std::size_t vn = significantWords(d, digits);
    wordsFromDigits(v, vn, d, digits);
    divideWords(q, r, product, 2 * n, v, vn);
    digitsFromWords(a, digits, r, vn);
    secure_zero_object(x);
    secure_zero_object(y);
    secure_zero_object(product);
    secure_zero_object(q);
    secure_zero_object(r);
}

bool modExpTakes(const NN_DIGIT* d, std::uint32_t dDigits) {
    if (dDigits == 0 || (d[0] & 1) == 0) return false;
    if (d[0] != 1) return true;
    for (std::uint32_t i = 1; i < dDigits; i++)
        if (d[i] != 0) return true;
    return false;  // d == 1
}

void modExp(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, std::uint32_t cDigits, const NN_DIGIT* d,
            std::uint32_t dDigits) {
    const std::size_t n = significantWords(d, dDigits);
    const std::size_t baseWords = wordsForDigits(dDigits);
    Word m[kMaxWords] = {}, x[kMaxWords] = {}, r[kMaxWords];
    wordsFromDigits(m, n, d, dDigits);
    wordsFromDigits(x, baseWords, b, dDigits);

    MontModulus mod;
    setupSecretModulus(mod, m, n, ct::bitLength(m, n));
    toMont(mod, r, x, baseWords);  // the base need not be below d
    modExpSecret(mod, r, r, c, cDigits);
    fromMont(mod, r, r);
    digitsFromWords(a, dDigits, r, n);

    secure_zero_object(x);
    secure_zero_object(r);
    secure_zero_object(mod);
}

}  // namespace corvane::engine
