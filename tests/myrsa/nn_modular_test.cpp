// Differential tests of division and the modular operations against GMP,
// on shaped random numbers with fixed seeds: dividends up to 66 digits,
// divisors whose normalised top digit is all ones or has an all-ones upper
// half (the two special paths of the quotient estimate), numbers shorter
// than their count, and every allowed aliasing of result and inputs. Guard
// digits after each array show that nothing beyond the count is written.
#include <Corvane/nn.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/nn_testing.h"

using namespace corvane::test;

namespace {

constexpr std::uint32_t kMaxDividend = 2 * MAX_NN_DIGITS;

// A divisor of `digits` digits, mostly nonzero, often with a top digit that
// makes the normalised divisor start with 0xFFFFFFFF or 0xFFFFxxxx.
Digits divisor(ShapedNumbers& gen, std::uint32_t digits) {
    Digits d = gen.nonzero(digits);
    const std::uint32_t top = QV_NN_Digits(d.data(), digits);
    if (top > 0) {
        switch (gen.rng().range(0, 5)) {
            case 0: d[top - 1] = 0xFFFFFFFFu; break;
            case 1: d[top - 1] = 0xFFFF0000u | static_cast<NN_DIGIT>(gen.rng().range(0, 0xFFFF)); break;
            case 2: d[top - 1] = 0xFFFFFFFFu >> gen.rng().range(1, 31); break;  // all ones once normalised
            default: break;
        }
    }
    return d;
}

enum class DivAlias { None, QuotientIsDividend, RemainderIsDividend, QuotientIsDivisor, RemainderIsDivisor };

TEST(NnDiv, MatchesGmpWithEveryAliasingAndLeavesGuardsAlone) {
    ShapedNumbers gen(0x6e6e0101);
    Rng& rng = gen.rng();
    for (unsigned n = 0; n < nnCases(100000); n++) {
        const auto cDigits = gen.count(0, kMaxDividend);
        const auto dDigits = gen.count(1, MAX_NN_DIGITS);
        const Digits c = gen.number(cDigits);
        const Digits d = divisor(gen, dDigits);
        const auto alias = static_cast<DivAlias>(n % 5);
        const Mpz x(c), y(d);
        Mpz q, r;
        mpz_tdiv_qr(q.get(), r.get(), x.get(), y.get());
        const Digits wantQ = digitsOf(q, cDigits), wantR = digitsOf(r, dDigits);

        Guarded a(cDigits, rng), b(dDigits, rng), cc(c, cDigits, rng), dd(d, dDigits, rng);
        Guarded shared(alias == DivAlias::QuotientIsDividend || alias == DivAlias::RemainderIsDividend ? c : d,
                       std::max(cDigits, dDigits), rng);
        switch (alias) {
            case DivAlias::None: QV_NN_Div(a.data(), b.data(), cc.data(), cDigits, dd.data(), dDigits); break;
            case DivAlias::QuotientIsDividend:
                QV_NN_Div(shared.data(), b.data(), shared.data(), cDigits, dd.data(), dDigits);
                break;
            case DivAlias::RemainderIsDividend:
                QV_NN_Div(a.data(), shared.data(), shared.data(), cDigits, dd.data(), dDigits);
                break;
            case DivAlias::QuotientIsDivisor:
                QV_NN_Div(shared.data(), b.data(), cc.data(), cDigits, shared.data(), dDigits);
                break;
            case DivAlias::RemainderIsDivisor:
                QV_NN_Div(a.data(), shared.data(), cc.data(), cDigits, shared.data(), dDigits);
                break;
        }
        const bool quotientShared = alias == DivAlias::QuotientIsDividend || alias == DivAlias::QuotientIsDivisor;
        const bool remainderShared = alias == DivAlias::RemainderIsDividend || alias == DivAlias::RemainderIsDivisor;
        const auto context = [&] {
            return "alias " + std::to_string(static_cast<int>(alias)) + "\n c " + describe(c.data(), cDigits) +
                   "\n d " + describe(d.data(), dDigits);
        };
        ASSERT_TRUE(quotientShared ? shared.holds(wantQ) : a.holds(wantQ)) << "quotient, " << context();
        ASSERT_TRUE(remainderShared ? shared.holds(wantR) : b.holds(wantR)) << "remainder, " << context();
        ASSERT_TRUE(cc.unchanged() && dd.unchanged()) << "inputs written, " << context();
    }
}

TEST(NnDiv, ZeroDivisorWritesNothing) {
    ShapedNumbers gen(0x6e6e0102);
    Rng& rng = gen.rng();
    for (unsigned n = 0; n < nnCases(2000); n++) {
        const auto cDigits = gen.count(0, kMaxDividend);
        const auto dDigits = gen.count(0, MAX_NN_DIGITS);
        const Digits c = gen.number(cDigits), zero(dDigits, 0);
        Guarded a(cDigits, rng), b(dDigits, rng);
        QV_NN_Div(a.data(), b.data(), c.data(), cDigits, zero.data(), dDigits);
        ASSERT_TRUE(a.unchanged() && b.unchanged());

        Guarded m(dDigits, rng);
        QV_NN_Mod(m.data(), c.data(), cDigits, zero.data(), dDigits);
        ASSERT_TRUE(m.unchanged());

        const Digits f = gen.number(dDigits), g = gen.number(dDigits);
        Guarded mm(dDigits, rng);
        QV_NN_ModMult(mm.data(), f.data(), g.data(), zero.data(), dDigits);
        ASSERT_TRUE(mm.unchanged());
    }
}

TEST(NnMod, MatchesGmpApartAndInPlace) {
    ShapedNumbers gen(0x6e6e0103);
    Rng& rng = gen.rng();
    for (unsigned n = 0; n < nnCases(100000); n++) {
        const auto bDigits = gen.count(0, kMaxDividend);
        const auto cDigits = gen.count(1, MAX_NN_DIGITS);
        const Digits b = gen.number(bDigits), c = divisor(gen, cDigits);
        Mpz r;
        mpz_tdiv_r(r.get(), Mpz(b).get(), Mpz(c).get());
        const Digits want = digitsOf(r, cDigits);
        const std::uint32_t size = std::max(bDigits, cDigits);
        switch (n % 3) {
            case 0: {
                Guarded a(cDigits, rng);
                QV_NN_Mod(a.data(), b.data(), bDigits, c.data(), cDigits);
                ASSERT_TRUE(a.holds(want)) << describe(b.data(), bDigits) << " mod " << describe(c.data(), cDigits);
                break;
            }
            case 1: {
                Guarded a(b, size, rng);
                QV_NN_Mod(a.data(), a.data(), bDigits, c.data(), cDigits);
                ASSERT_TRUE(a.holds(want)) << "a == b";
                break;
            }
            default: {
                Guarded a(c, size, rng);
                QV_NN_Mod(a.data(), b.data(), bDigits, a.data(), cDigits);
                ASSERT_TRUE(a.holds(want)) << "a == c";
                break;
            }
        }
    }
}

// The result array of ModMult may be any of its inputs; the factors may be
// one array (a square).
enum class MulAlias { None, OutIsB, OutIsC, OutIsD, Square, SquareInPlace };

TEST(NnModMult, MatchesGmpWithEveryAliasing) {
    ShapedNumbers gen(0x6e6e0104);
    Rng& rng = gen.rng();
    for (unsigned n = 0; n < nnCases(100000); n++) {
        const auto digits = gen.count(1, MAX_NN_DIGITS);
        const auto alias = static_cast<MulAlias>(n % 6);
        const Digits b = gen.number(digits), d = divisor(gen, digits);
        const Digits c = (alias == MulAlias::Square || alias == MulAlias::SquareInPlace) ? b : gen.number(digits);
        Mpz p;
        mpz_mul(p.get(), Mpz(b).get(), Mpz(c).get());
        mpz_tdiv_r(p.get(), p.get(), Mpz(d).get());
        const Digits want = digitsOf(p, digits);

        Guarded out(alias == MulAlias::OutIsB || alias == MulAlias::SquareInPlace ? b
                    : alias == MulAlias::OutIsC                                  ? c
                    : alias == MulAlias::OutIsD                                  ? d
                                                                                 : Digits{},
                    digits, rng);
        NN_DIGIT* a = out.data();
        switch (alias) {
            case MulAlias::None: QV_NN_ModMult(a, b.data(), c.data(), d.data(), digits); break;
            case MulAlias::OutIsB: QV_NN_ModMult(a, a, c.data(), d.data(), digits); break;
            case MulAlias::OutIsC: QV_NN_ModMult(a, b.data(), a, d.data(), digits); break;
            case MulAlias::OutIsD: QV_NN_ModMult(a, b.data(), c.data(), a, digits); break;
            case MulAlias::Square: QV_NN_ModMult(a, b.data(), b.data(), d.data(), digits); break;
            case MulAlias::SquareInPlace: QV_NN_ModMult(a, a, a, d.data(), digits); break;
        }
        ASSERT_TRUE(out.holds(want)) << "alias " << static_cast<int>(alias) << "\n b " << describe(b.data(), digits)
                                     << "\n c " << describe(c.data(), digits) << "\n d "
                                     << describe(d.data(), digits);
    }
}

// b^c mod d, except that a zero exponent gives 1 unreduced.
Digits expectedPower(const Digits& b, const Digits& c, const Digits& d, std::uint32_t dDigits) {
    const Mpz e(c);
    if (mpz_sgn(e.get()) == 0) {
        Digits one(dDigits, 0);
        one[0] = 1;
        return one;
    }
    Mpz r;
    mpz_powm(r.get(), Mpz(b).get(), e.get(), Mpz(d).get());
    return digitsOf(r, dDigits);
}

void checkModExp(ShapedNumbers& gen, std::uint32_t dDigits, std::uint32_t cDigits, unsigned aliasCase) {
    Rng& rng = gen.rng();
    const Digits b = gen.number(dDigits);  // not reduced: may exceed d
    const Digits c = gen.number(cDigits);
    const Digits d = divisor(gen, dDigits);
    const Digits want = expectedPower(b, c, d, dDigits);
    const auto context = [&] {
        return "alias " + std::to_string(aliasCase) + "\n b " + describe(b.data(), dDigits) + "\n c " +
               describe(c.data(), cDigits) + "\n d " + describe(d.data(), dDigits);
    };
    switch (aliasCase % 4) {
        case 0: {
            Guarded a(dDigits, rng);
            QV_NN_ModExp(a.data(), b.data(), c.data(), cDigits, d.data(), dDigits);
            ASSERT_TRUE(a.holds(want)) << context();
            break;
        }
        case 1: {
            Guarded a(b, dDigits, rng);
            QV_NN_ModExp(a.data(), a.data(), c.data(), cDigits, d.data(), dDigits);
            ASSERT_TRUE(a.holds(want)) << context();
            break;
        }
        case 2: {
            Guarded a(c, std::max(cDigits, dDigits), rng);
            QV_NN_ModExp(a.data(), b.data(), a.data(), cDigits, d.data(), dDigits);
            ASSERT_TRUE(a.holds(want)) << context();
            break;
        }
        default: {
            Guarded a(d, dDigits, rng);
            QV_NN_ModExp(a.data(), b.data(), c.data(), cDigits, a.data(), dDigits);
            ASSERT_TRUE(a.holds(want)) << context();
            break;
        }
    }
}

TEST(NnModExp, SmallExponentsMatchGmpWithEveryAliasing) {
    ShapedNumbers gen(0x6e6e0105);
    for (unsigned n = 0; n < nnCases(40000); n++) {
        // Short moduli keep the volume affordable; exponents of 0 to 2 digits.
        const auto dDigits = gen.rng().range(0, 7) == 0 ? gen.count(1, MAX_NN_DIGITS) : gen.count(1, 4);
        checkModExp(gen, dDigits, gen.count(0, 2), n);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(NnModExp, FullSizeExponentsMatchGmp) {
    ShapedNumbers gen(0x6e6e0106);
    for (unsigned n = 0; n < nnCases(200); n++) {
        const auto dDigits = gen.count(1, MAX_NN_DIGITS);
        checkModExp(gen, dDigits, gen.count(dDigits > 2 ? dDigits - 2 : 1, dDigits + 2), n);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

// Coprime pairs including b >= c and b much longer than c, checked against
// mpz_invert. The modulus is at least 2: modulo 1 the inverse comes out as
// 1 (see the examples table) where GMP reduces it to 0.
TEST(NnModInv, MatchesGmpForCoprimePairsIncludingLargerB) {
    ShapedNumbers gen(0x6e6e0107);
    Rng& rng = gen.rng();
    unsigned checked = 0, largerB = 0;
    for (unsigned n = 0; checked < nnCases(20000); n++) {
        const auto digits = gen.count(1, MAX_NN_DIGITS);
        const Digits c = divisor(gen, gen.count(1, digits));
        Digits b = gen.number(digits);
        Digits cFull(c);
        cFull.resize(digits, 0);
        const Mpz x(b), m(cFull);
        Mpz g, want;
        mpz_gcd(g.get(), x.get(), m.get());
        if (mpz_cmp_ui(g.get(), 1) != 0 || mpz_cmp_ui(m.get(), 2) < 0) continue;
        ASSERT_NE(mpz_invert(want.get(), x.get(), m.get()), 0);
        checked++;
        if (mpz_cmp(x.get(), m.get()) >= 0) largerB++;

        Guarded a(n % 3 == 1 ? b : n % 3 == 2 ? cFull : Digits{}, digits, rng);
        const NN_DIGIT* bIn = n % 3 == 1 ? a.data() : b.data();
        const NN_DIGIT* cIn = n % 3 == 2 ? a.data() : cFull.data();
        QV_NN_ModInv(a.data(), bIn, cIn, digits);
        ASSERT_TRUE(a.holds(digitsOf(want, digits)))
            << "alias " << n % 3 << "\n b " << describe(b.data(), digits) << "\n c "
            << describe(cFull.data(), digits);
    }
    EXPECT_GT(largerB, checked / 4) << "too few cases with b >= c";
}

TEST(NnGcd, MatchesGmpIncludingZerosAndEqualOperands) {
    ShapedNumbers gen(0x6e6e0108);
    Rng& rng = gen.rng();
    for (unsigned n = 0; n < nnCases(30000); n++) {
        const auto digits = gen.count(0, MAX_NN_DIGITS);
        const Digits b = gen.number(digits);
        const Digits c = n % 7 == 0 ? b : gen.number(digits);
        Mpz g;
        mpz_gcd(g.get(), Mpz(b).get(), Mpz(c).get());
        const Digits want = digitsOf(g, digits);
        Guarded a(n % 4 == 1 ? b : n % 4 == 2 ? c : Digits{}, digits, rng);
        switch (n % 4) {
            case 0: QV_NN_Gcd(a.data(), b.data(), c.data(), digits); break;
            case 1: QV_NN_Gcd(a.data(), a.data(), c.data(), digits); break;
            case 2: QV_NN_Gcd(a.data(), b.data(), a.data(), digits); break;
            default: QV_NN_Gcd(a.data(), b.data(), b.data(), digits); break;
        }
        const Digits& want2 = n % 4 == 3 ? digitsOf(Mpz(b), digits) : want;  // gcd(b, b) = b
        ASSERT_TRUE(a.holds(want2)) << "case " << n % 4 << "\n b " << describe(b.data(), digits) << "\n c "
                                    << describe(c.data(), digits);
    }
}

}  // namespace
