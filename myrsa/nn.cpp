// Multi-precision unsigned arithmetic on fixed-capacity digit arrays.
//
// The routines here are the reference behaviour of the package: schoolbook
// multiplication from half-digit products, long division with a quotient
// estimate that is never too large, and 2-bit fixed-window exponentiation.
// Division, the modular product and the modular exponentiation hand the
// inputs inside their contract to the arithmetic engine (engine/), which
// gives the same digits much faster (and, for exponentiation, in constant
// time); the documented algorithms below stay as the fallback for every
// other input and as the oracle the engine is tested against. They keep the
// documented shape so that the outcomes of out-of-contract inputs (zero
// divisors, shift counts of 32 or more, an even modulus) stay as they are.
//
// Scratch arrays live on the stack with sizes derived from MAX_NN_DIGITS and
// are deliberately not wiped: the callers that hold secrets (the RSA block
// layer) wipe the arrays in which they keep them.
#include <Corvane/nn.h>

#include <cstdint>

#include "engine/bignum/nn_engine.h"

static_assert(sizeof(NN_DIGIT) == 4, "NN_DIGIT must be a 32-bit digit");
static_assert(static_cast<NN_DIGIT>(~NN_DIGIT{0}) == 0xFFFFFFFFu);
static_assert(MAX_NN_DIGITS == 33);

namespace {

constexpr NN_DIGIT MAX_NN_DIGIT = 0xFFFFFFFFu;
constexpr NN_DIGIT MAX_NN_HALF_DIGIT = 0xFFFFu;
constexpr unsigned NN_DIGIT_BITS = 32;
constexpr unsigned NN_HALF_DIGIT_BITS = 16;
constexpr std::uint32_t MAX_DOUBLE_DIGITS = 2 * MAX_NN_DIGITS;

using NN_HALF_DIGIT = std::uint16_t;

constexpr NN_DIGIT HighHalf(NN_DIGIT x) { return x >> NN_HALF_DIGIT_BITS; }
constexpr NN_DIGIT LowHalf(NN_DIGIT x) { return x & MAX_NN_HALF_DIGIT; }
// The lower half of x moved into the upper half.
constexpr NN_DIGIT ToHigherHalf(NN_DIGIT x) { return x << NN_HALF_DIGIT_BITS; }

// Subtracts x from t0 and takes the borrow from t1 (the pair is a two-digit
// working value of the quotient estimate).
inline void SubWithBorrow(NN_DIGIT& t1, NN_DIGIT& t0, NN_DIGIT x) {
    t0 -= x;
    if (t0 > MAX_NN_DIGIT - x) t1--;
}

// high * 2^32 + low = a * b, built from four half-digit products so that no
// type wider than a digit is needed.
void dmult(NN_DIGIT a, NN_DIGIT b, NN_DIGIT* high, NN_DIGIT* low) {
    const NN_DIGIT aHigh = HighHalf(a), aLow = LowHalf(a);
    const NN_DIGIT bHigh = HighHalf(b), bLow = LowHalf(b);

    NN_DIGIT lo = aLow * bLow;
    NN_DIGIT hi = aHigh * bHigh;
    const NN_DIGIT m1 = aLow * bHigh;
    const NN_DIGIT m2 = aHigh * bLow;
    const NN_DIGIT m = m1 + m2;
    NN_DIGIT carry = (m < m1) ? ToHigherHalf(1) : 0;

    const NN_DIGIT s = ToHigherHalf(LowHalf(m));
    lo += s;
    if (lo < s) carry++;
    hi += carry + HighHalf(m);

    *high = hi;
    *low = lo;
}

// Bit length of one digit: 0 for 0, 32 when the top bit is set.
unsigned NN_DigitBits(NN_DIGIT a) {
    unsigned bits = 0;
    for (; bits < NN_DIGIT_BITS && a != 0; bits++, a >>= 1) {
    }
    return bits;
}

// a = b - c * d over `digits` digits; returns what the result still owes to
// the digit above. A zero multiplier leaves a unwritten (in-place callers
// then already hold b).
NN_DIGIT subdigitmult(NN_DIGIT* a, const NN_DIGIT* b, NN_DIGIT c, const NN_DIGIT* d, std::uint32_t digits) {
    if (c == 0) return 0;
    NN_DIGIT borrow = 0;
    for (std::uint32_t i = 0; i < digits; i++) {
        NN_DIGIT high, low;
        dmult(c, d[i], &high, &low);
        if ((a[i] = b[i] - borrow) > MAX_NN_DIGIT - borrow)
            borrow = 1;
        else
            borrow = 0;
        if ((a[i] -= low) > MAX_NN_DIGIT - low) borrow++;
        borrow += high;
    }
    return borrow;
}

// One quotient digit of the two-digit value (t1, t0) divided by e = s + 1,
// where s is the normalised top digit of the divisor (top bit set) and
// s != 0xFFFFFFFF. Works in half digits with 32-bit products only. Dividing
// by s + 1 instead of s makes the result a lower bound of the true quotient
// digit, so the caller only ever corrects it upwards.
NN_DIGIT EstimateQuotientDigit(NN_DIGIT t1, NN_DIGIT t0, NN_DIGIT s) {
    const NN_DIGIT e = s + 1;
    const NN_DIGIT eHigh = HighHalf(e), eLow = LowHalf(e);

    // Upper half of the quotient digit.
    NN_HALF_DIGIT aHigh = (eHigh == MAX_NN_HALF_DIGIT) ? static_cast<NN_HALF_DIGIT>(HighHalf(t1))
                                                       : static_cast<NN_HALF_DIGIT>(t1 / (eHigh + 1));
    NN_DIGIT u = static_cast<NN_DIGIT>(aHigh) * eLow;
    NN_DIGIT v = static_cast<NN_DIGIT>(aHigh) * eHigh;
    SubWithBorrow(t1, t0, ToHigherHalf(LowHalf(u)));
    t1 -= HighHalf(u);
    t1 -= v;
    while (t1 > eHigh || (t1 == eHigh && t0 >= ToHigherHalf(eLow))) {
        SubWithBorrow(t1, t0, ToHigherHalf(eLow));
        t1 -= eHigh;
        aHigh++;
    }

    // Lower half.
    NN_HALF_DIGIT aLow = (eHigh == MAX_NN_HALF_DIGIT)
                             ? static_cast<NN_HALF_DIGIT>(LowHalf(t1))
                             : static_cast<NN_HALF_DIGIT>((ToHigherHalf(t1) + HighHalf(t0)) / (eHigh + 1));
    u = static_cast<NN_DIGIT>(aLow) * eLow;
    v = static_cast<NN_DIGIT>(aLow) * eHigh;
    SubWithBorrow(t1, t0, u);
    SubWithBorrow(t1, t0, ToHigherHalf(LowHalf(v)));
    t1 -= HighHalf(v);
    while (t1 > 0 || (t1 == 0 && t0 >= e)) {
        SubWithBorrow(t1, t0, e);
        aLow++;
    }

    return ToHigherHalf(aHigh) + aLow;
}

// Long division with a normalised divisor. Dividend and divisor are read
// completely into scratch before a or b is written, so either output may
// alias an input. A zero divisor writes nothing; so does a dividend of more
// than 2 * MAX_NN_DIGITS digits or a divisor of more than MAX_NN_DIGITS
// significant digits, which would overrun the scratch.
void referenceDiv(NN_DIGIT* a, NN_DIGIT* b, const NN_DIGIT* c, std::uint32_t cDigits, const NN_DIGIT* d,
                  std::uint32_t dDigits) {
    const std::uint32_t ddDigits = QV_NN_Digits(d, dDigits);
    if (ddDigits == 0) return;
    if (cDigits > MAX_DOUBLE_DIGITS || ddDigits > MAX_NN_DIGITS) return;

    NN_DIGIT cc[2 * MAX_NN_DIGITS + 1];
    NN_DIGIT dd[MAX_NN_DIGITS];

    // Normalise: bring the divisor's top bit to bit 31 of its top digit.
    const unsigned shift = NN_DIGIT_BITS - NN_DigitBits(d[ddDigits - 1]);
    // Clearing the low ddDigits digits first gives the right remainder when
    // the dividend is shorter than the divisor.
    QV_NN_AssignZero(cc, ddDigits);
    cc[cDigits] = QV_NN_LShift(cc, c, shift, cDigits);
    QV_NN_LShift(dd, d, shift, ddDigits);
    const NN_DIGIT s = dd[ddDigits - 1];

    QV_NN_AssignZero(a, cDigits);

    for (std::int64_t i = static_cast<std::int64_t>(cDigits) - ddDigits; i >= 0; i--) {
        const std::uint32_t at = static_cast<std::uint32_t>(i);
        NN_DIGIT* top = &cc[at + ddDigits];
        NN_DIGIT ai = (s == MAX_NN_DIGIT) ? *top : EstimateQuotientDigit(*top, *(top - 1), s);

        *top -= subdigitmult(&cc[at], &cc[at], ai, dd, ddDigits);

        // The estimate is never too large: add the divisor's multiples back
        // until the partial remainder is below the divisor.
        while (*top != 0 || QV_NN_Cmp(&cc[at], dd, ddDigits) >= 0) {
            ai++;
            *top -= QV_NN_Sub(&cc[at], &cc[at], dd, ddDigits);
        }
        a[at] = ai;
    }

    QV_NN_AssignZero(b, dDigits);
    QV_NN_RShift(b, cc, shift, ddDigits);
}

void referenceMod(NN_DIGIT* a, const NN_DIGIT* b, std::uint32_t bDigits, const NN_DIGIT* c,
                  std::uint32_t cDigits) {
    NN_DIGIT t[2 * MAX_NN_DIGITS];  // quotient, discarded
    referenceDiv(t, a, b, bDigits, c, cDigits);
}

// Full product, then a full long division. Counts beyond MAX_NN_DIGITS
// write nothing, like a zero modulus.
void referenceModMult(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, const NN_DIGIT* d,
                      std::uint32_t digits) {
    if (digits > MAX_NN_DIGITS) return;
    NN_DIGIT t[2 * MAX_NN_DIGITS];
    QV_NN_Mult(t, b, c, digits);
    referenceMod(a, t, 2 * digits, d, digits);
}

// Left-to-right exponentiation with a fixed 2-bit window over the
// precomputed powers b, b^2, b^3. The base is not reduced first, and a zero
// exponent leaves t = 1 unreduced (even modulo 1).
void referenceModExp(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, std::uint32_t cDigits,
                     const NN_DIGIT* d, std::uint32_t dDigits) {
    if (dDigits > MAX_NN_DIGITS) return;
    // Zero-initialised so that every read is defined even when a zero
    // modulus (outside the contract) makes the modular products write
    // nothing.
    NN_DIGIT bPower[3][MAX_NN_DIGITS] = {};
    NN_DIGIT t[MAX_NN_DIGITS];

    QV_NN_Assign(bPower[0], b, dDigits);
    referenceModMult(bPower[1], bPower[0], b, d, dDigits);
    referenceModMult(bPower[2], bPower[1], b, d, dDigits);

    QV_NN_AssignZero(t, dDigits);
    t[0] = 1;

    const std::uint32_t n = QV_NN_Digits(c, cDigits);
    for (std::uint32_t i = n; i-- > 0;) {
        NN_DIGIT x = c[i];
        unsigned width = NN_DIGIT_BITS;
        if (i == n - 1) {
            // Skip the leading zero bit pairs of the top digit.
            while ((x >> (NN_DIGIT_BITS - 2)) == 0) {
                x <<= 2;
                width -= 2;
            }
        }
        for (unsigned j = 0; j < width; j += 2, x <<= 2) {
            referenceModMult(t, t, t, d, dDigits);
            referenceModMult(t, t, t, d, dDigits);
            const NN_DIGIT w = x >> (NN_DIGIT_BITS - 2);
            if (w != 0) referenceModMult(t, t, bPower[w - 1], d, dDigits);
        }
    }

    QV_NN_Assign(a, t, dDigits);
}

}  // namespace

extern "C" {

// The byte index runs downwards from the last byte. It is 64 bits wide so
// that byte strings of 2^31 bytes or more are still read from their end
// (a 32-bit signed index would start out negative and yield zero).
void QV_NN_Decode(NN_DIGIT* a, uint32_t digits, const unsigned char* b, uint32_t len) {
    std::int64_t j = static_cast<std::int64_t>(len) - 1;
    std::uint32_t i = 0;
    for (; i < digits && j >= 0; i++) {
        NN_DIGIT t = 0;
        if (j >= 3) {  // a whole digit's bytes
            const unsigned char* p = &b[j - 3];
            t = static_cast<NN_DIGIT>(p[0]) << 24 | static_cast<NN_DIGIT>(p[1]) << 16 |
                static_cast<NN_DIGIT>(p[2]) << 8 | p[3];
            j -= 4;
        } else {
            for (unsigned u = 0; j >= 0 && u < NN_DIGIT_BITS; j--, u += 8)
                t |= static_cast<NN_DIGIT>(b[j]) << u;
        }
        a[i] = t;
    }
    for (; i < digits; i++) a[i] = 0;
}

void QV_NN_Encode(unsigned char* a, uint32_t len, const NN_DIGIT* b, uint32_t digits) {
    std::int64_t j = static_cast<std::int64_t>(len) - 1;
    for (std::uint32_t i = 0; i < digits && j >= 0; i++) {
        const NN_DIGIT t = b[i];
        for (unsigned u = 0; j >= 0 && u < NN_DIGIT_BITS; j--, u += 8)
            a[j] = static_cast<unsigned char>(t >> u);
    }
    for (; j >= 0; j--) a[j] = 0;
}

void QV_NN_Assign(NN_DIGIT* a, const NN_DIGIT* b, uint32_t digits) {
    for (std::uint32_t i = 0; i < digits; i++) a[i] = b[i];
}

void QV_NN_AssignZero(NN_DIGIT* a, uint32_t digits) {
    for (std::uint32_t i = 0; i < digits; i++) a[i] = 0;
}

// 32 * digits is formed in 32-bit unsigned arithmetic, as documented.
void QV_NN_Assign2Exp(NN_DIGIT* a, uint32_t b, uint32_t digits) {
    QV_NN_AssignZero(a, digits);
    if (b >= static_cast<std::uint32_t>(NN_DIGIT_BITS * digits)) return;
    a[b / NN_DIGIT_BITS] = NN_DIGIT{1} << (b % NN_DIGIT_BITS);
}

NN_DIGIT QV_NN_Add(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t digits) {
    NN_DIGIT carry = 0;
    for (std::uint32_t i = 0; i < digits; i++) {
        NN_DIGIT t = b[i] + carry;
        if (t < carry) {
            t = c[i];  // b[i] was all ones and the carry passes through
        } else {
            t += c[i];
            carry = (t < c[i]) ? 1 : 0;
        }
        a[i] = t;
    }
    return carry;
}

NN_DIGIT QV_NN_Sub(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t digits) {
    NN_DIGIT borrow = 0;
    for (std::uint32_t i = 0; i < digits; i++) {
        NN_DIGIT t = b[i] - borrow;
        if (t == MAX_NN_DIGIT) {
            t = MAX_NN_DIGIT - c[i];  // the borrow passes through unchanged
        } else {
            t -= c[i];
            borrow = (t > MAX_NN_DIGIT - c[i]) ? 1 : 0;
        }
        a[i] = t;
    }
    return borrow;
}

// Schoolbook multiplication by rows into scratch, copied out last so that a
// may be a factor's array. Counts beyond MAX_NN_DIGITS would overrun the
// scratch; such a call writes nothing.
void QV_NN_Mult(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t digits) {
    if (digits > MAX_NN_DIGITS) return;
    NN_DIGIT t[2 * MAX_NN_DIGITS];
    QV_NN_AssignZero(t, 2 * digits);

    const std::uint32_t bDigits = QV_NN_Digits(b, digits);
    const std::uint32_t cDigits = QV_NN_Digits(c, digits);
    for (std::uint32_t i = 0; i < bDigits; i++) {
        NN_DIGIT carry = 0;
        if (b[i] != 0) {
            for (std::uint32_t j = 0; j < cDigits; j++) {
                NN_DIGIT high, low;
                dmult(b[i], c[j], &high, &low);
                if ((t[i + j] += carry) < carry)
                    carry = 1;
                else
                    carry = 0;
                if ((t[i + j] += low) < low) carry++;
                carry += high;
            }
        }
        t[i + cDigits] += carry;
    }
    QV_NN_Assign(a, t, 2 * digits);
}

NN_DIGIT QV_NN_LShift(NN_DIGIT* a, const NN_DIGIT* b, uint32_t c, uint32_t digits) {
    if (c >= NN_DIGIT_BITS) return 0;
    const unsigned back = NN_DIGIT_BITS - c;
    NN_DIGIT carry = 0;
    for (std::uint32_t i = 0; i < digits; i++) {
        const NN_DIGIT bi = b[i];
        a[i] = (bi << c) | carry;
        carry = c ? (bi >> back) : 0;
    }
    return carry;
}

NN_DIGIT QV_NN_RShift(NN_DIGIT* a, const NN_DIGIT* b, uint32_t c, uint32_t digits) {
    if (c >= NN_DIGIT_BITS) return 0;
    const unsigned back = NN_DIGIT_BITS - c;
    NN_DIGIT carry = 0;
    for (std::uint32_t i = digits; i-- > 0;) {
        const NN_DIGIT bi = b[i];
        a[i] = (bi >> c) | carry;
        carry = c ? (bi << back) : 0;
    }
    return carry;
}

int QV_NN_Cmp(const NN_DIGIT* a, const NN_DIGIT* b, uint32_t digits) {
    for (std::uint32_t i = digits; i-- > 0;) {
        if (a[i] > b[i]) return 1;
        if (a[i] < b[i]) return -1;
    }
    return 0;
}

int QV_NN_Zero(const NN_DIGIT* a, uint32_t digits) {
    for (std::uint32_t i = 0; i < digits; i++)
        if (a[i] != 0) return 0;
    return 1;
}

uint32_t QV_NN_Digits(const NN_DIGIT* a, uint32_t digits) {
    for (std::uint32_t i = digits; i-- > 0;)
        if (a[i] != 0) return i + 1;
    return 0;
}

uint32_t QV_NN_Bits(const NN_DIGIT* a, uint32_t digits) {
    const std::uint32_t n = QV_NN_Digits(a, digits);
    if (n == 0) return 0;
    return NN_DIGIT_BITS * (n - 1) + NN_DigitBits(a[n - 1]);
}

// The documented guards come first, so that the out-of-contract outcomes
// (a zero divisor, counts beyond the scratch) stay those of the reference;
// every other input goes to the engine's word-sized long division, which
// gives the same quotient and remainder.
void QV_NN_Div(NN_DIGIT* a, NN_DIGIT* b, const NN_DIGIT* c, uint32_t cDigits, const NN_DIGIT* d,
               uint32_t dDigits) {
    const std::uint32_t ddDigits = QV_NN_Digits(d, dDigits);
    if (ddDigits == 0) return;
    if (cDigits > MAX_DOUBLE_DIGITS || ddDigits > MAX_NN_DIGITS) return;
    corvane::engine::divide(a, b, c, cDigits, d, dDigits, ddDigits);
}

void QV_NN_Mod(NN_DIGIT* a, const NN_DIGIT* b, uint32_t bDigits, const NN_DIGIT* c, uint32_t cDigits) {
    NN_DIGIT t[2 * MAX_NN_DIGITS];  // quotient, discarded
    QV_NN_Div(t, a, b, bDigits, c, cDigits);
}

// Counts beyond MAX_NN_DIGITS and a zero modulus write nothing.
void QV_NN_ModMult(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, const NN_DIGIT* d, uint32_t digits) {
    if (digits > MAX_NN_DIGITS || QV_NN_Zero(d, digits)) return;
    corvane::engine::modMult(a, b, c, d, digits);
}

// Odd moduli above 1 go to the engine's constant-time Montgomery
// exponentiation; an even modulus, and the modulus 1 (where a zero exponent
// yields an unreduced 1), keep the reference.
void QV_NN_ModExp(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t cDigits, const NN_DIGIT* d,
                  uint32_t dDigits) {
    if (dDigits > MAX_NN_DIGITS) return;
    if (corvane::engine::modExpTakes(d, dDigits))
        corvane::engine::modExp(a, b, c, cDigits, d, dDigits);
    else
        referenceModExp(a, b, c, cDigits, d, dDigits);
}

// Extended Euclid tracking only the coefficient of b, as a magnitude with a
// separate sign so that no negative number arises.
void QV_NN_ModInv(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t digits) {
    if (digits > MAX_NN_DIGITS) return;
    NN_DIGIT q[MAX_NN_DIGITS], tc[MAX_NN_DIGITS], tr[MAX_NN_DIGITS];
    NN_DIGIT uc[MAX_NN_DIGITS], ur[MAX_NN_DIGITS], vc[MAX_NN_DIGITS], vr[MAX_NN_DIGITS];
    NN_DIGIT w[2 * MAX_NN_DIGITS];
    int sign = 1;

    QV_NN_AssignZero(uc, digits);
    QV_NN_AssignZero(vc, digits);
    if (digits > 0) uc[0] = 1;
    QV_NN_Assign(ur, b, digits);
    QV_NN_Assign(vr, c, digits);

    while (!QV_NN_Zero(vr, digits)) {
        QV_NN_Div(q, tr, ur, digits, vr, digits);
        QV_NN_Mult(w, q, vc, digits);
        QV_NN_Add(tc, uc, w, digits);
        QV_NN_Assign(uc, vc, digits);
        QV_NN_Assign(vc, tc, digits);
        QV_NN_Assign(ur, vr, digits);
        QV_NN_Assign(vr, tr, digits);
        sign = -sign;
    }

    if (sign < 0)
        QV_NN_Sub(a, c, uc, digits);
    else
        QV_NN_Assign(a, uc, digits);
}

// Euclid's algorithm on three buffers used in rotation instead of copying.
void QV_NN_Gcd(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t digits) {
    if (digits > MAX_NN_DIGITS) return;
    NN_DIGIT g[3][MAX_NN_DIGITS];
    QV_NN_Assign(g[0], c, digits);
    QV_NN_Assign(g[1], b, digits);

    auto next = [](int k) { return k == 2 ? 0 : k + 1; };
    auto previous = [](int k) { return k == 0 ? 2 : k - 1; };
    int k = 1;
    while (!QV_NN_Zero(g[k], digits)) {
        QV_NN_Mod(g[next(k)], g[previous(k)], digits, g[k], digits);
        k = next(k);
    }
    QV_NN_Assign(a, g[previous(k)], digits);
}

}  // extern "C"

#ifdef CORVANE_TEST_SEAMS
#include "myrsa/nn_seams.h"

namespace corvane::test_seams {

void nn_dmult(NN_DIGIT a, NN_DIGIT b, NN_DIGIT* high, NN_DIGIT* low) { dmult(a, b, high, low); }

unsigned nn_digit_bits(NN_DIGIT a) { return NN_DigitBits(a); }

NN_DIGIT nn_subdigitmult(NN_DIGIT* a, const NN_DIGIT* b, NN_DIGIT c, const NN_DIGIT* d,
                         std::uint32_t digits) {
    return subdigitmult(a, b, c, d, digits);
}

void nn_reference_div(NN_DIGIT* a, NN_DIGIT* b, const NN_DIGIT* c, std::uint32_t cDigits, const NN_DIGIT* d,
                      std::uint32_t dDigits) {
    referenceDiv(a, b, c, cDigits, d, dDigits);
}

void nn_reference_mod_mult(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, const NN_DIGIT* d,
                           std::uint32_t digits) {
    referenceModMult(a, b, c, d, digits);
}

void nn_reference_mod_exp(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, std::uint32_t cDigits,
                          const NN_DIGIT* d, std::uint32_t dDigits) {
    referenceModExp(a, b, c, cDigits, d, dDigits);
}

}  // namespace corvane::test_seams
#endif
