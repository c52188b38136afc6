// The arithmetic engine against the documented algorithms on arbitrary
// operands: QV_NN_ModMult, QV_NN_ModExp and QV_NN_Div must leave exactly
// the digits that the documented algorithms (the seams of nn_seams.h)
// leave, in a buffer with guard digits behind it.
//
// Input: a header byte picks the operation (its value modulo 3) and whether
// the modulus is forced odd (bit 2), so that many runs reach the engine's
// Montgomery path; two further bytes give the digit counts (modulus or
// divisor 1-33; exponent 0-4 digits or dividend 0-66); the remaining bytes
// fill the operands, digit by digit, little end first, and run out as zeros.
#include <Corvane/nn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "myrsa/nn_seams.h"

namespace seams = corvane::test_seams;

namespace {

using Digits = std::vector<NN_DIGIT>;

void check(bool condition) {
    if (!condition) std::abort();
}

// Operands drawn from the input bytes in turn.
class Reader {
public:
    Reader(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
    std::uint8_t byte() { return at_ < size_ ? bytes_[at_++] : 0; }
    Digits digits(std::uint32_t count) {
        Digits d(count);
        for (auto& x : d)
            for (unsigned k = 0; k < 4; k++) x |= static_cast<NN_DIGIT>(byte()) << (8 * k);
        return d;
    }

private:
    const std::uint8_t* bytes_;
    std::size_t size_, at_ = 0;
};

constexpr NN_DIGIT kGarbage = 0xA5C3E1F7u;
constexpr std::uint32_t kGuard = 2;

Digits output(std::uint32_t digits) { return Digits(digits + kGuard, kGarbage); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    Reader in(bytes, size);
    const std::uint8_t header = in.byte();
    const std::uint32_t digits = in.byte() % MAX_NN_DIGITS + 1;
    const std::uint8_t second = in.byte();

    switch (header % 3) {
        case 0: {  // modular product
            Digits b = in.digits(digits), c = in.digits(digits), d = in.digits(digits);
            if (header & 4) d[0] |= 1;
            Digits ours = output(digits), theirs = output(digits);
            QV_NN_ModMult(ours.data(), b.data(), c.data(), d.data(), digits);
            seams::nn_reference_mod_mult(theirs.data(), b.data(), c.data(), d.data(), digits);
            check(ours == theirs);
            break;
        }
        case 1: {  // modular exponentiation, short exponents for the documented algorithm's sake
            const std::uint32_t eDigits = second % 5;
            Digits b = in.digits(digits), d = in.digits(digits), e = in.digits(eDigits);
            if (header & 4) d[0] |= 1;
            Digits ours = output(digits), theirs = output(digits);
            QV_NN_ModExp(ours.data(), b.data(), e.data(), eDigits, d.data(), digits);
            seams::nn_reference_mod_exp(theirs.data(), b.data(), e.data(), eDigits, d.data(), digits);
            check(ours == theirs);
            break;
        }
        default: {  // division
            const std::uint32_t cDigits = second % (2 * MAX_NN_DIGITS + 1);
            Digits c = in.digits(cDigits), d = in.digits(digits);
            Digits q = output(cDigits), r = output(digits), q2 = q, r2 = r;
            QV_NN_Div(q.data(), r.data(), c.data(), cDigits, d.data(), digits);
            seams::nn_reference_div(q2.data(), r2.data(), c.data(), cDigits, d.data(), digits);
            check(q == q2 && r == r2);
            break;
        }
    }
    return 0;
}
