/*
 * Multi-precision unsigned integers of fixed capacity.
 *
 * A number is a caller-owned array of NN_DIGIT, least significant digit
 * first, passed with a separate digit count: the count says how many digits
 * an operation reads or writes, not the number's size (high digits may be
 * zero). No operation looks beyond the count it is given.
 *
 * Contract for every function here: no failures reported, no heap, no
 * global state (all are reentrant). Caller preconditions: digit counts of
 * at most MAX_NN_DIGITS (dividends of QV_NN_Div/QV_NN_Mod at most
 * 2 * MAX_NN_DIGITS), non-zero moduli for QV_NN_ModExp/QV_NN_ModInv.
 * The operations with fixed stack scratch (Mult, Div, Mod, ModMult, ModExp,
 * ModInv, Gcd) write nothing when given counts beyond those limits, rather
 * than overrun their scratch.
 * Scratch arrays are not wiped here: callers holding secrets wipe their own
 * arrays.
 *
 * Aliasing: the outputs of Assign, Add, Sub, LShift and RShift may be the
 * same array as an input; Mult's output may be a factor's array if it holds
 * 2*digits digits; Div's outputs may alias its inputs (but not each other);
 * Mod, ModMult, ModExp, ModInv and Gcd write their result last, so it may
 * alias any input.
 */
#ifndef CORVANE_NN_H
#define CORVANE_NN_H

#include <stdint.h>

#include "CorvaneExport.h"

CORVANE_EXTERN_C_BEGIN

typedef uint32_t NN_DIGIT;

/* Capacity of one number: 33 digits (1056 bits), one more than a 1024-bit modulus. */
#define MAX_NN_DIGITS 33

/* a = the big-endian number in b[0..len), modulo 2^(32*digits). */
CORVANE_EXPORT void QV_NN_Decode(NN_DIGIT* a, uint32_t digits, const unsigned char* b, uint32_t len);
/* a = b as len big-endian bytes, modulo 2^(8*len); every byte is written. */
CORVANE_EXPORT void QV_NN_Encode(unsigned char* a, uint32_t len, const NN_DIGIT* b, uint32_t digits);

/* a = b. */
CORVANE_EXPORT void QV_NN_Assign(NN_DIGIT* a, const NN_DIGIT* b, uint32_t digits);
/* a = 0. */
CORVANE_EXPORT void QV_NN_AssignZero(NN_DIGIT* a, uint32_t digits);
/* a = 2^b, or 0 when b >= 32*digits (that product taken modulo 2^32). */
CORVANE_EXPORT void QV_NN_Assign2Exp(NN_DIGIT* a, uint32_t b, uint32_t digits);

/* a = b + c mod 2^(32*digits); returns the carry (0 or 1). */
CORVANE_EXPORT NN_DIGIT QV_NN_Add(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t digits);
/* a = b - c mod 2^(32*digits); returns the borrow (1 exactly when b < c). */
CORVANE_EXPORT NN_DIGIT QV_NN_Sub(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t digits);
/* a (2*digits digits) = b * c; digits <= MAX_NN_DIGITS. */
CORVANE_EXPORT void QV_NN_Mult(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t digits);

/* a = b * 2^c mod 2^(32*digits); returns the bits shifted out at the top.
 * c >= 32: returns 0 and leaves a unwritten. */
CORVANE_EXPORT NN_DIGIT QV_NN_LShift(NN_DIGIT* a, const NN_DIGIT* b, uint32_t c, uint32_t digits);
/* a = b div 2^c; returns the bits shifted out at the bottom, in the high end.
 * c >= 32: returns 0 and leaves a unwritten. */
CORVANE_EXPORT NN_DIGIT QV_NN_RShift(NN_DIGIT* a, const NN_DIGIT* b, uint32_t c, uint32_t digits);

/* Sign of a - b: 1, 0 or -1 (0 when digits is 0). */
CORVANE_EXPORT int QV_NN_Cmp(const NN_DIGIT* a, const NN_DIGIT* b, uint32_t digits);
/* 1 when a is zero (also when digits is 0), else 0. */
CORVANE_EXPORT int QV_NN_Zero(const NN_DIGIT* a, uint32_t digits);
/* Number of significant digits of a. */
CORVANE_EXPORT uint32_t QV_NN_Digits(const NN_DIGIT* a, uint32_t digits);
/* Number of significant bits of a. */
CORVANE_EXPORT uint32_t QV_NN_Bits(const NN_DIGIT* a, uint32_t digits);

/* a (cDigits) = c div d, b (dDigits) = c mod d. A zero divisor writes nothing. */
CORVANE_EXPORT void QV_NN_Div(NN_DIGIT* a, NN_DIGIT* b, const NN_DIGIT* c, uint32_t cDigits,
                              const NN_DIGIT* d, uint32_t dDigits);
/* a (cDigits) = b mod c. A zero modulus writes nothing. */
CORVANE_EXPORT void QV_NN_Mod(NN_DIGIT* a, const NN_DIGIT* b, uint32_t bDigits, const NN_DIGIT* c,
                              uint32_t cDigits);
/* a = b * c mod d. A zero modulus writes nothing. */
CORVANE_EXPORT void QV_NN_ModMult(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, const NN_DIGIT* d,
                                  uint32_t digits);
/* a = b^c mod d (dDigits digits); b has dDigits digits and need not be below d.
 * A zero exponent gives 1, not reduced (1 even modulo 1). */
CORVANE_EXPORT void QV_NN_ModExp(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t cDigits,
                                 const NN_DIGIT* d, uint32_t dDigits);
/* a = b^-1 mod c, for any b (also b >= c); b and c must be coprime (not
 * checked: otherwise a is no inverse). Modulo 1 the result is 1, not 0. */
CORVANE_EXPORT void QV_NN_ModInv(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t digits);
/* a = gcd(b, c). */
CORVANE_EXPORT void QV_NN_Gcd(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, uint32_t digits);

CORVANE_EXTERN_C_END

#endif /* CORVANE_NN_H */
