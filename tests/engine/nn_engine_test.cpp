// The arithmetic engine against the documented algorithms it stands in for
// (reached through the seams of nn_seams.h): QV_NN_ModExp, QV_NN_ModMult
// and QV_NN_Div must leave exactly the digits the documented algorithms
// leave, guard digits included, for every digit count from 1 to 33 and for
// the shapes that stress Montgomery arithmetic: small moduli, moduli just
// above a power of two, moduli whose top word is all ones, bases 0, 1, m - 1
// and beyond m, exponents 0, 1, all ones and random. Even moduli and the
// modulus 1 (which keep the documented algorithm) ride along, so the choice
// between the two is checked too. Fixed seeds; CORVANE_LONG_TESTS=1 runs 100
// times the volume.
#include <Corvane/nn.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "myrsa/nn_seams.h"
#include "tests/support/nn_testing.h"

using namespace corvane::test;
namespace seams = corvane::test_seams;

namespace {

enum class Modulus { Small, AbovePowerOfTwo, AllOnesTopWord, Random, Even, One };
constexpr Modulus kModuli[] = {Modulus::Small,          Modulus::AbovePowerOfTwo,
                               Modulus::AllOnesTopWord, Modulus::Random,
                               Modulus::Even,           Modulus::One};

// A modulus of the given shape whose significant digits fill `digits`,
// except the small ones and 1, which sit in the lowest digit.
Digits modulusOf(Modulus shape, std::uint32_t digits, Rng& rng) {
    Digits m(digits, 0);
    switch (shape) {
        case Modulus::Small:
            m[0] = static_cast<NN_DIGIT>(rng.range(1, 127) * 2 + 1);
            break;
        case Modulus::AbovePowerOfTwo:
            m[digits - 1] = NN_DIGIT{1} << rng.range(digits == 1 ? 2 : 0, 31);
            m[0] |= static_cast<NN_DIGIT>(rng.range(0, 7) * 2 + 1);
            break;
        case Modulus::AllOnesTopWord:
            for (auto& x : m) x = rng.u32();
            // The top 64 bits, whichever word size the engine uses.
            m[digits - 1] = 0xFFFFFFFFu;
            if (digits >= 2) m[digits - 2] = 0xFFFFFFFFu;
            m[0] |= 1;
            break;
        case Modulus::Random:
            for (auto& x : m) x = rng.u32();
            m[digits - 1] |= NN_DIGIT{1} << rng.range(0, 31);
            m[0] |= 1;
            break;
        case Modulus::Even:
            for (auto& x : m) x = rng.u32();
            m[digits - 1] |= 1;
            m[0] &= ~NN_DIGIT{1};
            if (digits == 1 && m[0] == 0) m[0] = 2;
            break;
        case Modulus::One:
            m[0] = 1;
            break;
    }
    return m;
}

enum class Operand { Zero, One, ModulusMinusOne, Random, AboveModulus };
constexpr Operand kOperands[] = {Operand::Zero, Operand::One, Operand::ModulusMinusOne, Operand::Random,
                                 Operand::AboveModulus};

// A value of `digits` digits; Random is below m, AboveModulus at or above it
// where the digits allow.
Digits operandOf(Operand kind, const Digits& m, Rng& rng) {
    const auto digits = static_cast<std::uint32_t>(m.size());
    Digits x(digits, 0);
    switch (kind) {
        case Operand::Zero:
            break;
        case Operand::One:
            x[0] = 1;
            break;
        case Operand::ModulusMinusOne: {
            const Digits one = operandOf(Operand::One, m, rng);
            QV_NN_Sub(x.data(), m.data(), one.data(), digits);
            break;
        }
        case Operand::Random: {
            Digits r(2 * digits);
            for (auto& d : r) d = rng.u32();
            QV_NN_Mod(x.data(), r.data(), 2 * digits, m.data(), digits);
            break;
        }
        case Operand::AboveModulus:
            for (auto& d : x) d = rng.u32();
            if (QV_NN_Cmp(x.data(), m.data(), digits) < 0) x = m;
            break;
    }
    return x;
}

enum class Exponent { Zero, One, AllOnes, Random };
constexpr Exponent kExponents[] = {Exponent::Zero, Exponent::One, Exponent::AllOnes, Exponent::Random};

Digits exponentOf(Exponent kind, std::uint32_t digits, Rng& rng) {
    Digits e(digits, 0);
    switch (kind) {
        case Exponent::Zero:
            break;
        case Exponent::One:
            if (digits > 0) e[0] = 1;
            break;
        case Exponent::AllOnes:
            std::fill(e.begin(), e.end(), 0xFFFFFFFFu);
            break;
        case Exponent::Random:
            for (auto& d : e) d = rng.u32();
            break;
    }
    return e;
}

// QV_NN_ModExp and the documented exponentiation on the same inputs, each
// into a buffer preset with the same garbage, must leave the same digits.
::testing::AssertionResult sameModExp(const Digits& b, const Digits& e, const Digits& m, Rng& rng) {
    const auto dDigits = static_cast<std::uint32_t>(m.size());
    const auto eDigits = static_cast<std::uint32_t>(e.size());
    Guarded ours(dDigits, rng);
    Guarded theirs = ours;
    QV_NN_ModExp(ours.data(), b.data(), e.data(), eDigits, m.data(), dDigits);
    seams::nn_reference_mod_exp(theirs.data(), b.data(), e.data(), eDigits, m.data(), dDigits);
    theirs.mark();
    if (ours.holds(theirs.snapshot())) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "\n b " << describe(b.data(), dDigits) << "\n e " << describe(e.data(), eDigits) << "\n m "
           << describe(m.data(), dDigits) << ours.holds(theirs.snapshot()).message();
}

TEST(EngineModExp, EveryDigitCountModulusShapeBaseAndExponentKind) {
    Rng rng(0x656e0001);
    const unsigned rounds = nnCases(2);
    for (unsigned round = 0; round < rounds; round++) {
        for (std::uint32_t digits = 1; digits <= MAX_NN_DIGITS; digits++) {
            for (Modulus shape : kModuli) {
                const Digits m = modulusOf(shape, digits, rng);
                for (Operand base : kOperands) {
                    const Digits b = operandOf(base, m, rng);
                    for (Exponent kind : kExponents) {
                        // Short exponents keep the documented algorithm affordable.
                        const auto eDigits =
                            static_cast<std::uint32_t>(rng.range(kind == Exponent::Zero ? 0 : 1, 2));
                        ASSERT_TRUE(sameModExp(b, exponentOf(kind, eDigits, rng), m, rng))
                            << "digits " << digits << " modulus " << static_cast<int>(shape) << " base "
                            << static_cast<int>(base) << " exponent " << static_cast<int>(kind);
                    }
                }
            }
        }
    }
}

TEST(EngineModExp, FullLengthExponents) {
    Rng rng(0x656e0002);
    for (unsigned n = 0; n < nnCases(60); n++) {
        const auto digits = static_cast<std::uint32_t>(rng.range(1, MAX_NN_DIGITS));
        const Digits m = modulusOf(kModuli[n % 4], digits, rng);
        const Digits b = operandOf(Operand::Random, m, rng);
        const auto eDigits = static_cast<std::uint32_t>(rng.range(digits, digits + 2));
        ASSERT_TRUE(sameModExp(b, exponentOf(n % 5 == 0 ? Exponent::AllOnes : Exponent::Random, eDigits, rng),
                               m, rng));
    }
}

// The result may be any of the inputs' arrays.
TEST(EngineModExp, ResultMayAliasEachInput) {
    Rng rng(0x656e0003);
    for (unsigned n = 0; n < nnCases(400); n++) {
        const auto digits = static_cast<std::uint32_t>(rng.range(1, MAX_NN_DIGITS));
        const Digits m = modulusOf(Modulus::Random, digits, rng);
        const Digits b = operandOf(n % 2 ? Operand::Random : Operand::AboveModulus, m, rng);
        const Digits e = exponentOf(Exponent::Random, static_cast<std::uint32_t>(rng.range(1, 2)), rng);
        const auto eDigits = static_cast<std::uint32_t>(e.size());
        Digits want(digits);
        seams::nn_reference_mod_exp(want.data(), b.data(), e.data(), eDigits, m.data(), digits);

        Digits a = n % 3 == 0 ? b : n % 3 == 1 ? m : e;
        a.resize(std::max<std::size_t>(a.size(), digits));
        const NN_DIGIT* bIn = n % 3 == 0 ? a.data() : b.data();
        const NN_DIGIT* mIn = n % 3 == 1 ? a.data() : m.data();
        const NN_DIGIT* eIn = n % 3 == 2 ? a.data() : e.data();
        QV_NN_ModExp(a.data(), bIn, eIn, eDigits, mIn, digits);
        a.resize(digits);
        ASSERT_EQ(a, want) << "alias " << n % 3 << "\n m " << describe(m.data(), digits);
    }
}

TEST(EngineModMult, EveryDigitCountModulusShapeAndFactorKind) {
    Rng rng(0x656e0004);
    for (unsigned round = 0; round < nnCases(10); round++) {
        for (std::uint32_t digits = 1; digits <= MAX_NN_DIGITS; digits++) {
            for (Modulus shape : kModuli) {
                const Digits m = modulusOf(shape, digits, rng);
                for (Operand x : kOperands) {
                    for (Operand y : kOperands) {
                        const Digits b = operandOf(x, m, rng), c = operandOf(y, m, rng);
                        Guarded ours(digits, rng);
                        Guarded theirs = ours;
                        QV_NN_ModMult(ours.data(), b.data(), c.data(), m.data(), digits);
                        seams::nn_reference_mod_mult(theirs.data(), b.data(), c.data(), m.data(), digits);
                        theirs.mark();
                        ASSERT_TRUE(ours.holds(theirs.snapshot()))
                            << "\n b " << describe(b.data(), digits) << "\n c " << describe(c.data(), digits)
                            << "\n m " << describe(m.data(), digits);
                    }
                }
            }
        }
    }
}

// Every dividend count from 0 to 66 against every divisor count, with
// divisors shorter than their count and dividends shorter than the divisor;
// also the counts beyond the scratch, which write nothing either way.
TEST(EngineDiv, EveryCountPairAndTheOutOfRangeCounts) {
    ShapedNumbers gen(0x656e0005);
    Rng& rng = gen.rng();
    for (unsigned round = 0; round < nnCases(10); round++) {
        for (std::uint32_t cDigits = 0; cDigits <= 2 * MAX_NN_DIGITS + 2; cDigits++) {
            for (std::uint32_t dDigits = 1; dDigits <= MAX_NN_DIGITS + 1; dDigits++) {
                const Digits c = gen.number(cDigits);
                const Digits d = gen.number(dDigits);  // zero at times: nothing is written then
                Guarded q(cDigits, rng), r(dDigits, rng);
                Guarded q2 = q, r2 = r;
                QV_NN_Div(q.data(), r.data(), c.data(), cDigits, d.data(), dDigits);
                seams::nn_reference_div(q2.data(), r2.data(), c.data(), cDigits, d.data(), dDigits);
                q2.mark();
                r2.mark();
                ASSERT_TRUE(q.holds(q2.snapshot()) && r.holds(r2.snapshot()))
                    << "\n c " << describe(c.data(), cDigits) << "\n d " << describe(d.data(), dDigits);
            }
        }
    }
}

}  // namespace
