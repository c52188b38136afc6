#include "tests/support/nn_testing.h"

#include <sstream>
#include <stdexcept>

namespace corvane::test {

Mpz::Mpz(const NN_DIGIT* a, std::uint32_t digits) {
    mpz_init(v_);
    // Least significant word first, host byte order within a word: exactly
    // the layout of a digit array.
    if (digits > 0) mpz_import(v_, digits, -1, sizeof(NN_DIGIT), 0, 0, a);
}

std::string Mpz::hex() const {
    std::vector<char> text(mpz_sizeinbase(v_, 16) + 2);
    mpz_get_str(text.data(), 16, v_);
    return text.data();
}

Digits digitsOf(const Mpz& x, std::uint32_t digits) {
    Mpz low;
    mpz_fdiv_r_2exp(low.get(), x.get(), 32ul * digits);
    Digits out(digits, 0);
    std::size_t written = 0;
    if (mpz_sgn(low.get()) != 0) mpz_export(out.data(), &written, -1, sizeof(NN_DIGIT), 0, 0, low.get());
    return out;
}

Digits digitsFromHex(const std::string& hex, std::uint32_t digits) {
    Mpz x;
    if (mpz_set_str(x.get(), hex.c_str(), 16) != 0) throw std::runtime_error("bad hex number: " + hex);
    if (mpz_sgn(x.get()) != 0 && mpz_sizeinbase(x.get(), 2) > 32ul * digits)
        throw std::runtime_error("number does not fit in " + std::to_string(digits) + " digits: " + hex);
    return digitsOf(x, digits);
}

std::string describe(const NN_DIGIT* a, std::uint32_t digits) {
    std::ostringstream out;
    out << "[" << digits << "]";
    for (std::uint32_t i = digits; i-- > 0;) {
        char word[10];
        std::snprintf(word, sizeof word, " %08x", a[i]);
        out << word;
    }
    return out.str();
}

NN_DIGIT ShapedNumbers::digit() {
    switch (rng_.range(0, 11)) {
        case 0: return 0;
        case 1: return 0xFFFFFFFFu;
        case 2: return 0x80000000u;
        case 3: return static_cast<NN_DIGIT>(rng_.range(1, 3));
        case 4: return 0xFFFF0000u | static_cast<NN_DIGIT>(rng_.range(0, 0xFFFF));
        case 5: return NN_DIGIT{1} << rng_.range(0, 31);
        case 6: return 0xFFFFFFFFu - static_cast<NN_DIGIT>(rng_.range(1, 3));
        default: return rng_.u32();
    }
}

Digits ShapedNumbers::number(std::uint32_t digits) {
    Digits a(digits, 0);
    if (digits == 0) return a;
    // A quarter fill their count, the rest are shorter (possibly zero).
    std::uint32_t significant = rng_.range(0, 3) == 0 ? digits : count(0, digits);
    // Half draw every digit with a shape, the others are plain random with
    // one shaped top digit; occasionally all digits share one shape.
    const auto style = rng_.range(0, 9);
    const NN_DIGIT common = digit();
    for (std::uint32_t i = 0; i < significant; i++) {
        if (style == 0)
            a[i] = common;
        else if (style < 5)
            a[i] = digit();
        else
            a[i] = rng_.u32();
    }
    if (significant > 0 && style >= 5) a[significant - 1] = digit();
    return a;
}

Digits ShapedNumbers::nonzero(std::uint32_t digits) {
    Digits a = number(digits);
    if (digits > 0 && QV_NN_Zero(a.data(), digits)) a[count(0, digits - 1)] = digit() | 1u;
    return a;
}

Guarded::Guarded(std::uint32_t digits, Rng& rng) : buf_(digits + kGuard) {
    for (auto& d : buf_) d = rng.u32() | 0x01000000u;  // garbage, never zero
    before_ = buf_;
}

Guarded::Guarded(const Digits& value, std::uint32_t digits, Rng& rng) : Guarded(digits, rng) {
    for (std::size_t i = 0; i < value.size() && i < digits; i++) buf_[i] = value[i];
    before_ = buf_;
}

::testing::AssertionResult Guarded::holds(const Digits& expected) const {
    Digits want = before_;
    for (std::size_t i = 0; i < expected.size(); i++) want[i] = expected[i];
    if (want == buf_) return ::testing::AssertionSuccess();
    const auto n = static_cast<std::uint32_t>(buf_.size());
    return ::testing::AssertionFailure() << "\n  got  " << describe(buf_.data(), n) << "\n  want "
                                         << describe(want.data(), n) << "\n  (last " << kGuard
                                         << " digits are guards; " << expected.size() << " digits written)";
}

double nnVolumeScale() {
    double scale = longTestFactor();
#if defined(__SANITIZE_ADDRESS__)
    scale /= 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    scale /= 4;
#endif
#endif
#if !defined(__OPTIMIZE__)
    scale /= 2;
#endif
    return scale;
}

}  // namespace corvane::test
