// Worked examples (tests/vectors/nn_examples.vec), the file-local digit
// helpers through their test seams, and the defined outcomes of inputs
// outside the contract: zero divisors, oversized digit counts and byte
// strings longer than 2^31 bytes.
#include <Corvane/nn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <bit>
#include <cstring>

#include "myrsa/nn_seams.h"
#include "tests/support/nn_testing.h"

using namespace corvane::test;
using corvane::test_seams::nn_digit_bits;
using corvane::test_seams::nn_dmult;
using corvane::test_seams::nn_subdigitmult;

namespace {

std::uint32_t count(const VecRecord& r, const std::string& key) {
    return static_cast<std::uint32_t>(std::stoul(r.at(key)));
}
Digits number(const VecRecord& r, const std::string& key, std::uint32_t digits) {
    return digitsFromHex(r.at(key), digits);
}
NN_DIGIT digit(const VecRecord& r, const std::string& key) { return number(r, key, 1)[0]; }

// Runs one example; the output arrays carry guards, so the examples also
// show that nothing beyond the count is written.
void runExample(const VecRecord& r, Rng& rng) {
    const std::string& op = r.at("op");
    if (op == "decode") {
        const auto digits = count(r, "digits");
        const Bytes in = fromHex(r.at("bytes"));
        Guarded a(digits, rng);
        QV_NN_Decode(a.data(), digits, in.data(), static_cast<std::uint32_t>(in.size()));
        EXPECT_TRUE(a.holds(number(r, "a", digits)));
    } else if (op == "encode") {
        const auto digits = count(r, "digits"), len = count(r, "len");
        const Digits b = number(r, "b", digits);
        Bytes out(len + 2, 0x5A);
        QV_NN_Encode(out.data(), len, b.data(), digits);
        EXPECT_EQ(toHex(out), r.at("bytes") + "5a5a");
    } else if (op == "add" || op == "sub" || op == "mult") {
        const auto digits = count(r, "digits");
        const Digits b = number(r, "b", digits), c = number(r, "c", digits);
        const auto outDigits = op == "mult" ? 2 * digits : digits;
        Guarded a(outDigits, rng);
        if (op == "mult") {
            QV_NN_Mult(a.data(), b.data(), c.data(), digits);
        } else {
            const NN_DIGIT ret = op == "add" ? QV_NN_Add(a.data(), b.data(), c.data(), digits)
                                             : QV_NN_Sub(a.data(), b.data(), c.data(), digits);
            EXPECT_EQ(ret, digit(r, "ret"));
        }
        EXPECT_TRUE(a.holds(number(r, "a", outDigits)));
    } else if (op == "dmult") {
        NN_DIGIT high = 0, low = 0;
        nn_dmult(digit(r, "b"), digit(r, "c"), &high, &low);
        EXPECT_EQ(high, digit(r, "high"));
        EXPECT_EQ(low, digit(r, "low"));
    } else if (op == "lshift" || op == "rshift") {
        const auto digits = count(r, "digits"), shift = count(r, "shift");
        const Digits b = number(r, "b", digits);
        Guarded a(digits, rng);
        const NN_DIGIT ret = op == "lshift" ? QV_NN_LShift(a.data(), b.data(), shift, digits)
                                            : QV_NN_RShift(a.data(), b.data(), shift, digits);
        EXPECT_EQ(ret, digit(r, "ret"));
        EXPECT_TRUE(a.holds(number(r, "a", digits)));
    } else if (op == "assign2exp") {
        const auto digits = count(r, "digits");
        Guarded a(digits, rng);
        QV_NN_Assign2Exp(a.data(), count(r, "bit"), digits);
        EXPECT_TRUE(a.holds(number(r, "a", digits)));
    } else if (op == "bits") {
        const auto digits = count(r, "digits");
        const Digits b = number(r, "b", digits);
        EXPECT_EQ(QV_NN_Bits(b.data(), digits), count(r, "ret"));
        EXPECT_EQ(QV_NN_Digits(b.data(), digits), count(r, "sig"));
    } else if (op == "div") {
        const auto cDigits = count(r, "cDigits"), dDigits = count(r, "dDigits");
        const Digits c = number(r, "c", cDigits), d = number(r, "d", dDigits);
        Guarded q(cDigits, rng), rem(dDigits, rng);
        QV_NN_Div(q.data(), rem.data(), c.data(), cDigits, d.data(), dDigits);
        EXPECT_TRUE(q.holds(number(r, "q", cDigits))) << "quotient";
        EXPECT_TRUE(rem.holds(number(r, "r", dDigits))) << "remainder";
    } else if (op == "modexp") {
        const auto cDigits = count(r, "cDigits"), dDigits = count(r, "dDigits");
        const Digits b = number(r, "b", dDigits), c = number(r, "c", cDigits), d = number(r, "d", dDigits);
        Guarded a(dDigits, rng);
        QV_NN_ModExp(a.data(), b.data(), c.data(), cDigits, d.data(), dDigits);
        EXPECT_TRUE(a.holds(number(r, "a", dDigits)));
    } else if (op == "modinv" || op == "gcd") {
        const auto digits = count(r, "digits");
        const Digits b = number(r, "b", digits), c = number(r, "c", digits);
        Guarded a(digits, rng);
        if (op == "modinv")
            QV_NN_ModInv(a.data(), b.data(), c.data(), digits);
        else
            QV_NN_Gcd(a.data(), b.data(), c.data(), digits);
        EXPECT_TRUE(a.holds(number(r, "a", digits)));
    } else {
        ADD_FAILURE() << "unknown op " << op;
    }
}

TEST(NnExamples, WorkedExamplesHold) {
    const auto records = readVecFile(ourVector("nn_examples.vec"));
    ASSERT_GE(records.size(), 50u);
    Rng rng(0x6e6e0201);
    for (std::size_t i = 0; i < records.size(); i++) {
        SCOPED_TRACE("example " + std::to_string(i + 1) + ": " + records[i].at("op"));
        runExample(records[i], rng);
    }
}

TEST(NnDigitHelpers, DmultAndDigitBitsMatchWideArithmetic) {
    ShapedNumbers gen(0x6e6e0202);
    for (unsigned n = 0; n < nnCases(200000); n++) {
        const NN_DIGIT x = gen.digit(), y = gen.digit();
        NN_DIGIT high = 0, low = 0;
        nn_dmult(x, y, &high, &low);
        const std::uint64_t p = std::uint64_t{x} * y;
        ASSERT_EQ(high, static_cast<NN_DIGIT>(p >> 32)) << x << " * " << y;
        ASSERT_EQ(low, static_cast<NN_DIGIT>(p)) << x << " * " << y;
        ASSERT_EQ(nn_digit_bits(x), static_cast<unsigned>(std::bit_width(x))) << x;
    }
}

TEST(NnDigitHelpers, SubdigitmultMatchesGmpAndSkipsZeroMultiplier) {
    ShapedNumbers gen(0x6e6e0203);
    Rng& rng = gen.rng();
    for (unsigned n = 0; n < nnCases(100000); n++) {
        const auto digits = gen.count(0, MAX_NN_DIGITS);
        const Digits b = gen.number(digits), d = gen.number(digits);
        const NN_DIGIT c = gen.digit();
        // b - c*d = result - owed * 2^(32*digits), with result in range.
        Mpz diff, owed;
        mpz_mul_ui(diff.get(), Mpz(d).get(), c);
        mpz_sub(diff.get(), Mpz(b).get(), diff.get());
        mpz_fdiv_q_2exp(owed.get(), diff.get(), 32ul * digits);
        mpz_neg(owed.get(), owed.get());
        const bool inPlace = n % 2 == 1;
        Guarded a(inPlace ? b : Digits{}, digits, rng);
        const NN_DIGIT ret = nn_subdigitmult(a.data(), inPlace ? a.data() : b.data(), c, d.data(), digits);
        if (c == 0) {
            ASSERT_EQ(ret, 0u);
            ASSERT_TRUE(a.unchanged());
            continue;
        }
        ASSERT_TRUE(a.holds(digitsOf(diff, digits))) << describe(b.data(), digits) << " - " << c << " * "
                                                     << describe(d.data(), digits);
        ASSERT_EQ(mpz_cmp_ui(owed.get(), ret), 0);
    }
}

// Counts beyond the fixed scratch would overrun the stack; such calls write
// nothing, like a zero divisor.
TEST(NnOutOfContract, OversizedCountsWriteNothing) {
    Rng rng(0x6e6e0204);
    constexpr std::uint32_t big = MAX_NN_DIGITS + 1;
    Digits x(2 * big + 2, 0x12345677u), m(2 * big + 2, 0xFEDCBA99u);
    {
        Guarded a(2 * big, rng);
        QV_NN_Mult(a.data(), x.data(), x.data(), big);
        EXPECT_TRUE(a.unchanged()) << "Mult";
    }
    {
        Guarded q(2 * big, rng), r(big, rng);
        QV_NN_Div(q.data(), r.data(), x.data(), 2 * MAX_NN_DIGITS + 1, m.data(), 1);
        EXPECT_TRUE(q.unchanged() && r.unchanged()) << "Div, dividend too long";
        QV_NN_Div(q.data(), r.data(), x.data(), big, m.data(), big);
        EXPECT_TRUE(q.unchanged() && r.unchanged()) << "Div, divisor too long";
    }
    {
        Guarded a(big, rng);
        QV_NN_Mod(a.data(), x.data(), 2 * MAX_NN_DIGITS + 1, m.data(), 1);
        QV_NN_ModMult(a.data(), x.data(), x.data(), m.data(), big);
        QV_NN_ModExp(a.data(), x.data(), x.data(), 1, m.data(), big);
        QV_NN_ModInv(a.data(), x.data(), m.data(), big);
        QV_NN_Gcd(a.data(), x.data(), m.data(), big);
        EXPECT_TRUE(a.unchanged()) << "Mod, ModMult, ModExp, ModInv or Gcd";
    }
    // At the limits themselves the operations work.
    Digits dividend(2 * MAX_NN_DIGITS, 0xFFFFFFFFu), divisor(MAX_NN_DIGITS, 0xFFFFFFFFu);
    Guarded q(2 * MAX_NN_DIGITS, rng), r(MAX_NN_DIGITS, rng);
    QV_NN_Div(q.data(), r.data(), dividend.data(), 2 * MAX_NN_DIGITS, divisor.data(), MAX_NN_DIGITS);
    Mpz wantQ;
    mpz_tdiv_q(wantQ.get(), Mpz(dividend).get(), Mpz(divisor).get());
    EXPECT_TRUE(q.holds(digitsOf(wantQ, 2 * MAX_NN_DIGITS)));
    EXPECT_TRUE(r.holds(Digits(MAX_NN_DIGITS, 0)));
}

// A zero modulus is outside the contract of ModExp: every modular product
// then writes nothing, so the result is the initial 1.
TEST(NnOutOfContract, ModExpWithZeroModulusYieldsOne) {
    Rng rng(0x6e6e0205);
    const Digits b{7, 9}, e{0x10001, 0}, zero{0, 0};
    Guarded a(2, rng);
    QV_NN_ModExp(a.data(), b.data(), e.data(), 2, zero.data(), 2);
    EXPECT_TRUE(a.holds({1, 0}));
}

// Byte strings of 2^31 bytes or more are still read from their end (only
// the last 4*digits bytes are touched, so a sparse mapping suffices).
TEST(NnOutOfContract, DecodeReadsTheEndOfStringsLongerThan2GiB) {
    const std::size_t len = (std::size_t{1} << 31) + 4096;
    void* map = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (map == MAP_FAILED) GTEST_SKIP() << "cannot map 2 GiB of address space";
    auto* bytes = static_cast<unsigned char*>(map);
    const unsigned char tail[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::memcpy(bytes + len - 8, tail, 8);
    NN_DIGIT a[3] = {9, 9, 9};
    QV_NN_Decode(a, 2, bytes, static_cast<std::uint32_t>(len));
    munmap(map, len);
    EXPECT_EQ(a[0], 0x05060708u);
    EXPECT_EQ(a[1], 0x01020304u);
    EXPECT_EQ(a[2], 9u);
}

}  // namespace
