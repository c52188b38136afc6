#include "engine/bignum/division.h"

namespace corvane::engine {

namespace {

unsigned leadingZeros(Word x) {
    unsigned n = 0;
    for (Word bit = static_cast<Word>(1) << (kWordBits - 1); (x & bit) == 0; bit >>= 1) n++;
    return n;
}

// out (n words) = in << s, 0 <= s < W; returns the bits shifted out.
Word shiftLeft(Word* out, const Word* in, std::size_t n, unsigned s) {
    if (s == 0) {
        for (std::size_t i = 0; i < n; i++) out[i] = in[i];
        return 0;
    }
    Word carry = 0;
    for (std::size_t i = 0; i < n; i++) {
        const Word x = in[i];
        out[i] = (x << s) | carry;
        carry = x >> (kWordBits - s);
    }
    return carry;
}

// Division of a two-word value by a normalised word d (top bit set) with a
// precomputed reciprocal v = floor((B^2 - 1) / d) - B, B = 2^W (Moller and
// Granlund, "Improved division by invariant integers", 2011): two products
// and at most two corrections instead of a hardware or library division.
class WordDivisor {
public:
    explicit WordDivisor(Word d)
        : d_(d),
          v_(static_cast<Word>(((static_cast<DWord>(~d) << kWordBits) | static_cast<Word>(~Word{0})) / d)) {}

    // q = (u1:u0) div d, r = (u1:u0) mod d; needs u1 < d.
    Word divide(Word u1, Word u0, Word& r) const {
        DWord q = static_cast<DWord>(v_) * u1;
        q += (static_cast<DWord>(u1) << kWordBits) | u0;
        Word q1 = static_cast<Word>(q >> kWordBits) + 1;
        const Word q0 = static_cast<Word>(q);
        Word rem = u0 - q1 * d_;
        if (rem > q0) {
            q1--;
            rem += d_;
        }
        if (rem >= d_) {
            q1++;
            rem -= d_;
        }
        r = rem;
        return q1;
    }

private:
    Word d_, v_;
};

}  // namespace

void divideWords(Word* q, Word* r, const Word* u, std::size_t un, const Word* v, std::size_t vn) {
    if (un < vn) {
        for (std::size_t i = 0; i < vn; i++) r[i] = i < un ? u[i] : 0;
        return;
    }

    // Normalise so that the divisor's top bit is set; the dividend gains one word.
    const unsigned s = leadingZeros(v[vn - 1]);
    // Zeroed: GCC at -O3 cannot see that vn is at least 1 and warns that
    // vv's top word may be read unset.
    Word vv[kMaxWords] = {};
    Word uu[kMaxDividendWords + 1];
    shiftLeft(vv, v, vn, s);
    uu[un] = shiftLeft(uu, u, un, s);

    const Word top = vv[vn - 1];
    const Word second = vn >= 2 ? vv[vn - 2] : 0;
    const WordDivisor divisor(top);

    for (std::size_t j = un - vn + 1; j-- > 0;) {
        // Estimate from the top two words (the top one is at most the
        // divisor's top word); the estimate is at most two too large, and
        // the divisor's second word removes nearly every excess.
        const Word u1 = uu[j + vn], u0 = uu[j + vn - 1];
        const Word below = vn >= 2 ? uu[j + vn - 2] : 0;
        Word qhat, rhat;
        bool rhatOverflows = false;
        if (u1 >= top) {  // u1 == top: the quotient word is B - 1 at most
            qhat = ~Word{0};
            rhat = u0 + top;
            rhatOverflows = rhat < top;
        } else {
            qhat = divisor.divide(u1, u0, rhat);
        }
        while (!rhatOverflows &&
               static_cast<DWord>(qhat) * second > ((static_cast<DWord>(rhat) << kWordBits) | below)) {
            qhat--;
            rhat += top;
            rhatOverflows = rhat < top;
        }

        // uu[j .. j+vn] -= qhat * vv
        Word mulCarry = 0, borrow = 0;
        for (std::size_t i = 0; i < vn; i++) {
            const Word product = mulAdd2(mulCarry, qhat, vv[i], 0, mulCarry);
            uu[i + j] = subBorrow(uu[i + j], product, borrow, borrow);
        }
        uu[j + vn] = subBorrow(uu[j + vn], mulCarry, borrow, borrow);

        // Rarely the estimate was still one too large: add the divisor back.
        if (borrow != 0) {
            Word carry = 0;
            for (std::size_t i = 0; i < vn; i++) uu[i + j] = addCarry(uu[i + j], vv[i], carry, carry);
            uu[j + vn] += carry;
            qhat--;
        }
        q[j] = qhat;
    }

    // The remainder is the low vn words, shifted back.
    for (std::size_t i = 0; i < vn; i++) {
        const Word high = i + 1 < vn ? uu[i + 1] : uu[vn];
        r[i] = s == 0 ? uu[i] : (uu[i] >> s) | (high << (kWordBits - s));
    }
}

}  // namespace corvane::engine
