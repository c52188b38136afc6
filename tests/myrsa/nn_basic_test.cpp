// Differential tests of the digit-array codec and the arithmetic without
// division, against GMP, on shaped random numbers with fixed seeds. Every
// output array carries guard digits: nothing beyond the stated count may be
// written, and every allowed aliasing of output and inputs is exercised.
#include <Corvane/nn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "tests/support/nn_testing.h"

using namespace corvane::test;

namespace {

// How the output of a binary operation a = f(b, c) shares arrays with its
// inputs.
enum class Alias { None, OutIsB, OutIsC, SameInputs, AllSame };
const Alias kAliases[] = {Alias::None, Alias::OutIsB, Alias::OutIsC, Alias::SameInputs, Alias::AllSame};

const char* name(Alias a) {
    switch (a) {
        case Alias::None: return "separate arrays";
        case Alias::OutIsB: return "a == b";
        case Alias::OutIsC: return "a == c";
        case Alias::SameInputs: return "b == c";
        case Alias::AllSame: return "a == b == c";
    }
    return "?";
}

// Runs a = f(b, c) with the requested aliasing; the output array holds
// `outDigits` digits (and guards). When inputs share an array, c is b.
// Returns the operation's result value and checks the output array.
template <typename Op>
NN_DIGIT runBinary(Alias alias, Digits b, Digits c, std::uint32_t digits, std::uint32_t outDigits,
                   const Op& op, const std::function<Digits(const Digits&, const Digits&)>& expect, Rng& rng,
                   ::testing::AssertionResult& verdict) {
    if (alias == Alias::SameInputs || alias == Alias::AllSame) c = b;
    const Digits want = expect(b, c);
    const std::uint32_t size = std::max(outDigits, digits);
    NN_DIGIT result = 0;
    switch (alias) {
        case Alias::None: {
            Guarded a(outDigits, rng), bb(b, digits, rng), cc(c, digits, rng);
            result = op(a.data(), bb.data(), cc.data());
            verdict = a.holds(want);
            if (verdict && !bb.unchanged()) verdict = ::testing::AssertionFailure() << "b was written";
            if (verdict && !cc.unchanged()) verdict = ::testing::AssertionFailure() << "c was written";
            break;
        }
        case Alias::OutIsB: {
            Guarded a(b, size, rng), cc(c, digits, rng);
            result = op(a.data(), a.data(), cc.data());
            verdict = a.holds(want);
            break;
        }
        case Alias::OutIsC: {
            Guarded a(c, size, rng), bb(b, digits, rng);
            result = op(a.data(), bb.data(), a.data());
            verdict = a.holds(want);
            break;
        }
        case Alias::SameInputs: {
            Guarded a(outDigits, rng), bb(b, digits, rng);
            result = op(a.data(), bb.data(), bb.data());
            verdict = a.holds(want);
            break;
        }
        case Alias::AllSame: {
            Guarded a(b, size, rng);
            result = op(a.data(), a.data(), a.data());
            verdict = a.holds(want);
            break;
        }
    }
    return result;
}

TEST(NnCodec, DecodeMatchesGmpWithTruncationAndZeroFill) {
    ShapedNumbers gen(0x6e6e0001);
    Rng& rng = gen.rng();
    for (unsigned n = 0; n < nnCases(100000); n++) {
        const auto digits = gen.count(0, MAX_NN_DIGITS);
        const auto len = gen.count(0, 4 * MAX_NN_DIGITS + 8);
        Bytes in = rng.bytes(len);
        if (len > 0 && rng.range(0, 3) == 0) in[0] = 0;  // leading zero bytes
        Mpz x;
        if (len > 0) mpz_import(x.get(), len, 1, 1, 0, 0, in.data());
        Guarded a(digits, rng);
        QV_NN_Decode(a.data(), digits, in.data(), len);
        ASSERT_TRUE(a.holds(digitsOf(x, digits))) << "digits " << digits << " bytes " << toHex(in);
    }
}

TEST(NnCodec, EncodeMatchesGmpWithTruncationAndZeroFill) {
    ShapedNumbers gen(0x6e6e0002);
    for (unsigned n = 0; n < nnCases(100000); n++) {
        const auto digits = gen.count(0, MAX_NN_DIGITS);
        const auto len = gen.count(0, 4 * MAX_NN_DIGITS + 8);
        const Digits b = gen.number(digits);
        Mpz x(b);
        mpz_fdiv_r_2exp(x.get(), x.get(), 8ul * len);
        Bytes want(len + 4, 0xA7);  // four guard bytes
        std::fill(want.begin(), want.begin() + len, 0);
        std::size_t count = 0;
        if (mpz_sgn(x.get()) != 0) {
            Bytes tmp(len);
            mpz_export(tmp.data(), &count, 1, 1, 0, 0, x.get());
            std::memcpy(want.data() + (len - count), tmp.data(), count);
        }
        Bytes out(len + 4, 0xA7);
        QV_NN_Encode(out.data(), len, b.data(), digits);
        ASSERT_EQ(toHex(out), toHex(want)) << describe(b.data(), digits) << " into " << len << " bytes";
    }
}

TEST(NnCodec, RoundTripKeepsValueWhenBytesSuffice) {
    ShapedNumbers gen(0x6e6e0003);
    for (unsigned n = 0; n < nnCases(20000); n++) {
        const auto digits = gen.count(0, MAX_NN_DIGITS);
        const Digits b = gen.number(digits);
        const auto len = 4 * digits + gen.count(0, 5);
        Bytes bytes(len);
        QV_NN_Encode(bytes.data(), len, b.data(), digits);
        Digits back(digits);
        QV_NN_Decode(back.data(), digits, bytes.data(), len);
        ASSERT_EQ(back, b);
    }
}

TEST(NnAssign, AssignZeroAnd2ExpWriteExactlyTheirCount) {
    ShapedNumbers gen(0x6e6e0004);
    Rng& rng = gen.rng();
    for (unsigned n = 0; n < nnCases(100000); n++) {
        const auto digits = gen.count(0, MAX_NN_DIGITS);
        const Digits b = gen.number(digits);
        Guarded a(digits, rng);
        QV_NN_Assign(a.data(), b.data(), digits);
        ASSERT_TRUE(a.holds(b));

        Guarded z(digits, rng);
        QV_NN_AssignZero(z.data(), digits);
        ASSERT_TRUE(z.holds(Digits(digits, 0)));

        // Bit indices inside and beyond the capacity (beyond gives zero).
        const auto bit = gen.count(0, 32 * digits + 40);
        Mpz p;
        if (bit < 32 * digits) mpz_setbit(p.get(), bit);
        Guarded e(digits, rng);
        QV_NN_Assign2Exp(e.data(), bit, digits);
        ASSERT_TRUE(e.holds(digitsOf(p, digits))) << "bit " << bit << " digits " << digits;
    }
}

TEST(NnAddSub, MatchGmpWithCarryBorrowAndEveryAliasing) {
    ShapedNumbers gen(0x6e6e0005);
    Rng& rng = gen.rng();
    for (unsigned n = 0; n < nnCases(100000); n++) {
        const auto digits = gen.count(0, MAX_NN_DIGITS);
        const Alias alias = kAliases[n % 5];
        const Digits b = gen.number(digits), c = gen.number(digits);
        const unsigned long bits = 32ul * digits;
        ::testing::AssertionResult verdict = ::testing::AssertionSuccess();

        NN_DIGIT wantCarry = 0;
        const NN_DIGIT carry = runBinary(
            alias, b, c, digits, digits,
            [&](NN_DIGIT* a, const NN_DIGIT* x, const NN_DIGIT* y) { return QV_NN_Add(a, x, y, digits); },
            [&](const Digits& x, const Digits& y) {
                Mpz sum;
                mpz_add(sum.get(), Mpz(x).get(), Mpz(y).get());
                wantCarry = mpz_tstbit(sum.get(), bits) ? 1 : 0;
                return digitsOf(sum, digits);
            },
            rng, verdict);
        ASSERT_TRUE(verdict) << "add, " << name(alias) << "\n b " << describe(b.data(), digits) << "\n c "
                             << describe(c.data(), digits);
        ASSERT_EQ(carry, wantCarry) << "add carry, " << name(alias);

        NN_DIGIT wantBorrow = 0;
        const NN_DIGIT borrow = runBinary(
            alias, b, c, digits, digits,
            [&](NN_DIGIT* a, const NN_DIGIT* x, const NN_DIGIT* y) { return QV_NN_Sub(a, x, y, digits); },
            [&](const Digits& x, const Digits& y) {
                Mpz diff;
                mpz_sub(diff.get(), Mpz(x).get(), Mpz(y).get());
                wantBorrow = mpz_sgn(diff.get()) < 0 ? 1 : 0;
                return digitsOf(diff, digits);  // floor residue: wraps modulo 2^(32*digits)
            },
            rng, verdict);
        ASSERT_TRUE(verdict) << "sub, " << name(alias) << "\n b " << describe(b.data(), digits) << "\n c "
                             << describe(c.data(), digits);
        ASSERT_EQ(borrow, wantBorrow) << "sub borrow, " << name(alias);
    }
}

TEST(NnMult, MatchesGmpWithEveryAliasing) {
    ShapedNumbers gen(0x6e6e0006);
    Rng& rng = gen.rng();
    for (unsigned n = 0; n < nnCases(100000); n++) {
        const auto digits = gen.count(0, MAX_NN_DIGITS);
        const Alias alias = kAliases[n % 5];
        const Digits b = gen.number(digits), c = gen.number(digits);
        ::testing::AssertionResult verdict = ::testing::AssertionSuccess();
        runBinary(
            alias, b, c, digits, 2 * digits,
            [&](NN_DIGIT* a, const NN_DIGIT* x, const NN_DIGIT* y) {
                QV_NN_Mult(a, x, y, digits);
                return NN_DIGIT{0};
            },
            [&](const Digits& x, const Digits& y) {
                Mpz p;
                mpz_mul(p.get(), Mpz(x).get(), Mpz(y).get());
                return digitsOf(p, 2 * digits);
            },
            rng, verdict);
        ASSERT_TRUE(verdict) << name(alias) << "\n b " << describe(b.data(), digits) << "\n c "
                             << describe(c.data(), digits);
    }
}

TEST(NnShift, MatchGmpInPlaceAndApartAndIgnoreCountsOf32OrMore) {
    ShapedNumbers gen(0x6e6e0007);
    Rng& rng = gen.rng();
    for (unsigned n = 0; n < nnCases(100000); n++) {
        const auto digits = gen.count(0, MAX_NN_DIGITS);
        const Digits b = gen.number(digits);
        const bool inPlace = n % 2 == 1;
        const std::uint32_t shift = rng.range(0, 15) == 0
                                        ? (rng.range(0, 1) ? 0xFFFFFFFFu : gen.count(32, 100))
                                        : gen.count(0, 31);
        const Mpz x(b);
        const unsigned long bits = 32ul * digits;

        Digits wantLeft, wantRight;
        NN_DIGIT wantLeftOut = 0, wantRightOut = 0;
        if (shift < 32) {
            Mpz t;
            mpz_mul_2exp(t.get(), x.get(), shift);
            wantLeft = digitsOf(t, digits);
            mpz_tdiv_q_2exp(t.get(), t.get(), bits);
            wantLeftOut = digitsOf(t, 1)[0];
            mpz_tdiv_q_2exp(t.get(), x.get(), shift);
            wantRight = digitsOf(t, digits);
            mpz_tdiv_r_2exp(t.get(), x.get(), shift);
            mpz_mul_2exp(t.get(), t.get(), 32 - shift);
            wantRightOut = digitsOf(t, 1)[0];
        }

        for (bool left : {true, false}) {
            Guarded a(inPlace ? b : Digits{}, digits, rng);
            Guarded src(b, digits, rng);
            NN_DIGIT* in = inPlace ? a.data() : src.data();
            const NN_DIGIT out = left ? QV_NN_LShift(a.data(), in, shift, digits)
                                      : QV_NN_RShift(a.data(), in, shift, digits);
            const char* what = left ? "lshift" : "rshift";
            if (shift >= 32) {
                ASSERT_EQ(out, 0u) << what << " by " << shift;
                ASSERT_TRUE(a.unchanged()) << what << " by " << shift;
                continue;
            }
            ASSERT_TRUE(a.holds(left ? wantLeft : wantRight))
                << what << " by " << shift << (inPlace ? " in place" : "") << "\n b " << describe(b.data(), digits);
            ASSERT_EQ(out, left ? wantLeftOut : wantRightOut) << what << " by " << shift;
            ASSERT_TRUE(src.unchanged());
        }
    }
}

TEST(NnCompare, CmpZeroDigitsBitsMatchGmp) {
    ShapedNumbers gen(0x6e6e0008);
    for (unsigned n = 0; n < nnCases(100000); n++) {
        const auto digits = gen.count(0, MAX_NN_DIGITS);
        const Digits a = gen.number(digits);
        Digits b = gen.number(digits);
        switch (n % 4) {
            case 0: b = a; break;  // equal values in distinct arrays
            case 1:                // differ in one digit only
                if (digits > 0) b = a, b[gen.count(0, digits - 1)] ^= NN_DIGIT{1} << gen.count(0, 31);
                break;
            default: break;
        }
        const Mpz x(a), y(b);
        const int want = mpz_cmp(x.get(), y.get());
        ASSERT_EQ(QV_NN_Cmp(a.data(), b.data(), digits), (want > 0) - (want < 0))
            << describe(a.data(), digits) << " vs " << describe(b.data(), digits);
        ASSERT_EQ(QV_NN_Cmp(a.data(), a.data(), digits), 0);
        ASSERT_EQ(QV_NN_Zero(a.data(), digits), mpz_sgn(x.get()) == 0 ? 1 : 0);
        const std::size_t bits = mpz_sgn(x.get()) == 0 ? 0 : mpz_sizeinbase(x.get(), 2);
        ASSERT_EQ(QV_NN_Bits(a.data(), digits), bits) << describe(a.data(), digits);
        ASSERT_EQ(QV_NN_Digits(a.data(), digits), (bits + 31) / 32) << describe(a.data(), digits);
    }
}

}  // namespace
