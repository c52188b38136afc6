#include "engine/bignum/montgomery.h"

#include <bit>

#include "engine/bignum/division.h"
#include "engine/bignum/limbs.h"
#include "engine/bignum/sized/mont_ops.h"
#include "platform/secure_zero.h"

namespace corvane::engine {

namespace {

void setupCommon(MontModulus& mod, const Word* m, std::size_t n) {
    mod.n = n;
    for (std::size_t i = 0; i < kMaxWords; i++) mod.m[i] = i < n ? m[i] : 0;
    mod.m0inv = negatedInverse(m[0]);
}

}  // namespace

void setupPublicModulus(MontModulus& mod, const Word* m, std::size_t n) {
    setupCommon(mod, m, n);
    // R^2 = 2^(2 W n) and R = 2^(W n): a one followed by zero words.
    Word power[2 * kMaxWords + 1] = {};
    Word quotient[2 * kMaxWords + 1];
    power[2 * n] = 1;
    divideWords(quotient, mod.rr, power, 2 * n + 1, m, n);
    if ((m[n - 1] >> (kWordBits - 1)) != 0) {
        // m > R / 2 (a modulus of a whole number of words, as RSA's usually
        // are): R mod m is R - m, the n-word negation of m.
        Word borrow = 0;
        for (std::size_t i = 0; i < n; i++) mod.one[i] = subBorrow(0, m[i], borrow, borrow);
        return;
    }
    power[2 * n] = 0;
    power[n] = 1;
    divideWords(quotient, mod.one, power, n + 1, m, n);
}

void setupSecretModulus(MontModulus& mod, const Word* m, std::size_t n, std::size_t mBits) {
    setupCommon(mod, m, n);
    Word x[kMaxWords] = {}, scratch[kMaxWords];

    // x = 2^(mBits - 1), below m; doubling it (W*n + n) - (mBits - 1) times
    // gives 2^(W*n + n) mod m = 2^n * R mod m, the Montgomery form of 2^n.
    // Each doubling subtracts m under a mask when the value reaches it.
    // On the way it passes 2^(W*n) mod m = R mod m, the form of 1 (the
    // step at which it does depends on the public length of m only).
    const std::size_t top = mBits - 1;
    x[top / kWordBits] = static_cast<Word>(1) << (top % kWordBits);
    for (std::size_t i = top; i < kWordBits * n + n; i++) {
        const Word carry = addWords(x, x, x, n);
        reduceOnce(x, x, carry, mod.m, scratch, n);
        if (i + 1 == kWordBits * n)
            for (std::size_t j = 0; j < n; j++) mod.one[j] = x[j];
    }
    // Squaring the form of 2^k gives the form of 2^(2k): log2(W) squarings
    // take 2^n to 2^(W n) = R, whose form is R^2 mod m.
    montSquareTimes(mod, x, static_cast<unsigned>(std::countr_zero(kWordBits)));
    for (std::size_t i = 0; i < n; i++) mod.rr[i] = x[i];
    secure_zero_object(x);
    secure_zero_object(scratch);
}

}  // namespace corvane::engine
