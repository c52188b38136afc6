#include "engine/division.h"

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

}  // namespace

void divideWords(Word* q, Word* r, const Word* u, std::size_t un, const Word* v, std::size_t vn) {
    if (un < vn) {
        for (std::size_t i = 0; i < vn; i++) r[i] = i < un ? u[i] : 0;
        return;
    }

    // Normalise so that the divisor's top bit is set; the dividend gains one word.
    const unsigned s = leadingZeros(v[vn - 1]);
    Word vv[kMaxWords];
    Word uu[kMaxDividendWords + 1];
    shiftLeft(vv, v, vn, s);
    uu[un] = shiftLeft(uu, u, un, s);

    const Word top = vv[vn - 1];
    const Word second = vn >= 2 ? vv[vn - 2] : 0;
    const DWord base = static_cast<DWord>(1) << kWordBits;

    for (std::size_t j = un - vn + 1; j-- > 0;) {
        // Estimate from the top two words; the estimate is at most two too large.
        const DWord numerator = (static_cast<DWord>(uu[j + vn]) << kWordBits) | uu[j + vn - 1];
        DWord qhat = numerator / top;
        DWord rhat = numerator - qhat * top;
        const Word below = vn >= 2 ? uu[j + vn - 2] : 0;
        while (qhat >= base || qhat * second > ((rhat << kWordBits) | below)) {
            qhat--;
            rhat += top;
            if (rhat >= base) break;
        }

        // uu[j .. j+vn] -= qhat * vv
        const Word qw = static_cast<Word>(qhat);
        Word mulCarry = 0, borrow = 0;
        for (std::size_t i = 0; i < vn; i++) {
            const Word product = mulAdd2(mulCarry, qw, vv[i], 0, mulCarry);
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
        q[j] = static_cast<Word>(qhat);
    }

    // The remainder is the low vn words, shifted back.
    for (std::size_t i = 0; i < vn; i++) {
        const Word high = i + 1 < vn ? uu[i + 1] : uu[vn];
        r[i] = s == 0 ? uu[i] : (uu[i] >> s) | (high << (kWordBits - s));
    }
}

}  // namespace corvane::engine
