// The arithmetic package against GMP. The first input byte picks an
// operation and an aliasing form; the following bytes give digit counts,
// shift counts and the numbers' digits (missing bytes read as zero). Every
// call stays inside the documented contract, or lands on one of the
// documented out-of-contract outcomes, and must give exactly GMP's result:
//
//  - codec, add, subtract, multiply, shifts, comparisons and sizes;
//  - division and remainder for dividends of up to 66 digits; a zero divisor
//    or modulus writes nothing;
//  - modular multiplication, exponentiation (a zero exponent gives 1, also
//    modulo 1), inverse (modulo 1 it is 1; no value is checked when the
//    numbers are not coprime), gcd;
//  - shift counts of 32 or more return 0 and write nothing; counts beyond
//    the capacity (digits above 33, dividends above 66) write nothing;
//  - outputs given as the same array as an input, where the header allows.
//
// Every array is a heap block of exactly its stated size, preset with
// garbage, so the sanitizer catches any access beyond it and a check finds
// any digit written that should not be.
#include <Corvane/nn.h>
#include <gmp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t kMax = MAX_NN_DIGITS;
constexpr NN_DIGIT kGarbage = 0xA5C3E1F7u;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "nn_fuzz: %s\n", what);
    std::abort();
}
void check(bool condition, const char* what) {
    if (!condition) fail(what);
}

// The fuzzer's bytes, read front to back; zero once they run out.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
    std::uint8_t byte() {
        if (n_ == 0) return 0;
        n_--;
        return *p_++;
    }
    std::uint32_t upTo(std::uint32_t max) { return byte() % (max + 1); }
    NN_DIGIT digit() {
        NN_DIGIT d = 0;
        for (int i = 0; i < 4; i++) d |= NN_DIGIT{byte()} << (8 * i);
        return d;
    }

private:
    const std::uint8_t* p_;
    std::size_t n_;
};

// A digit array of exactly `size` digits: `value` digits from the input,
// garbage above them.
using Number = std::vector<NN_DIGIT>;
Number number(Input& in, std::uint32_t value, std::uint32_t size) {
    Number a(std::max<std::uint32_t>(size, 1), kGarbage);
    for (std::uint32_t i = 0; i < value; i++) a[i] = in.digit();
    return a;
}

// GMP integer with RAII.
struct Z {
    mpz_t v;
    Z() { mpz_init(v); }
    Z(const NN_DIGIT* a, std::uint32_t digits) {
        mpz_init(v);
        if (digits > 0) mpz_import(v, digits, -1, sizeof(NN_DIGIT), 0, 0, a);
    }
    explicit Z(unsigned long x) { mpz_init_set_ui(v, x); }
    ~Z() { mpz_clear(v); }
    Z(const Z&) = delete;
    Z& operator=(const Z&) = delete;
};

// a[0..digits) holds exactly x (x must fit).
bool holds(const NN_DIGIT* a, std::uint32_t digits, const mpz_t x) {
    if (mpz_sgn(x) < 0 || (mpz_sgn(x) != 0 && mpz_sizeinbase(x, 2) > 32ul * digits)) return false;
    Z got(a, digits);
    return mpz_cmp(got.v, x) == 0;
}
// x mod 2^(32 digits).
void truncate(mpz_t x, std::uint32_t digits) { mpz_fdiv_r_2exp(x, x, 32ul * digits); }

// ---------------------------------------------------------------------------

void codec(Input& in) {
    const std::uint32_t digits = in.upTo(kMax), len = in.upTo(4 * kMax + 8);
    std::vector<unsigned char> bytes(std::max<std::uint32_t>(len, 1));
    for (std::uint32_t i = 0; i < len; i++) bytes[i] = in.byte();
    Number a(std::max<std::uint32_t>(digits, 1), kGarbage);
    QV_NN_Decode(a.data(), digits, bytes.data(), len);
    Z x;
    if (len > 0) mpz_import(x.v, len, 1, 1, 0, 0, bytes.data());
    truncate(x.v, digits);
    check(holds(a.data(), digits, x.v), "Decode");

    const std::uint32_t outLen = in.upTo(4 * kMax + 8);
    std::vector<unsigned char> out(std::max<std::uint32_t>(outLen, 1), 0x5A);
    QV_NN_Encode(out.data(), outLen, a.data(), digits);
    mpz_fdiv_r_2exp(x.v, x.v, 8ul * outLen);
    std::vector<unsigned char> want(std::max<std::uint32_t>(outLen, 1), 0);
    std::size_t count = 0;
    if (mpz_sgn(x.v) != 0) mpz_export(want.data(), &count, 1, 1, 0, 0, x.v);
    // mpz_export writes the significant bytes; right-align them.
    std::rotate(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(count), want.begin() + outLen);
    check(std::equal(out.begin(), out.begin() + outLen, want.begin()), "Encode");
}

void addSub(Input& in, bool alias) {
    const std::uint32_t digits = in.upTo(kMax);
    Number b = number(in, digits, digits), c = number(in, digits, digits);
    Z zb(b.data(), digits), zc(c.data(), digits), sum, diff;
    mpz_add(sum.v, zb.v, zc.v);
    mpz_sub(diff.v, zb.v, zc.v);
    const NN_DIGIT carry = digits > 0 && mpz_sizeinbase(sum.v, 2) > 32ul * digits ? 1 : 0;
    const NN_DIGIT borrow = mpz_cmp(zb.v, zc.v) < 0 ? 1 : 0;
    truncate(sum.v, digits);
    truncate(diff.v, digits);

    Number a = alias ? b : Number(b.size(), kGarbage);
    check(QV_NN_Add(a.data(), alias ? a.data() : b.data(), c.data(), digits) == carry, "Add carry");
    check(holds(a.data(), digits, sum.v) && std::equal(a.begin() + digits, a.end(), b.begin() + digits),
          "Add");
    a = alias ? b : Number(b.size(), kGarbage);
    check(QV_NN_Sub(a.data(), alias ? a.data() : b.data(), c.data(), digits) == borrow, "Sub borrow");
    check(holds(a.data(), digits, diff.v), "Sub");
}

void mult(Input& in, bool alias) {
    const std::uint32_t digits = in.upTo(kMax);
    Number b = number(in, digits, alias ? 2 * digits : digits), c = number(in, digits, digits);
    Z product;
    mpz_mul(product.v, Z(b.data(), digits).v, Z(c.data(), digits).v);
    Number a = alias ? b : Number(std::max<std::uint32_t>(2 * digits, 1), kGarbage);
    QV_NN_Mult(a.data(), alias ? a.data() : b.data(), c.data(), digits);
    check(holds(a.data(), 2 * digits, product.v), "Mult");
}

void shifts(Input& in, bool alias) {
    const std::uint32_t digits = in.upTo(kMax), shift = in.upTo(40);
    Number b = number(in, digits, digits);
    Z zb(b.data(), digits), value, carry;
    for (bool left : {true, false}) {
        Number a = alias ? b : Number(b.size(), kGarbage);
        const Number before = a;
        NN_DIGIT out = left ? QV_NN_LShift(a.data(), alias ? a.data() : b.data(), shift, digits)
                            : QV_NN_RShift(a.data(), alias ? a.data() : b.data(), shift, digits);
        if (shift >= 32) {
            check(out == 0 && a == before, "shift of 32 or more wrote");
            continue;
        }
        if (left) {
            mpz_mul_2exp(value.v, zb.v, shift);
            mpz_fdiv_q_2exp(carry.v, value.v, 32ul * digits);
            truncate(value.v, digits);
        } else {
            mpz_fdiv_q_2exp(value.v, zb.v, shift);
            mpz_fdiv_r_2exp(carry.v, zb.v, shift);
            mpz_mul_2exp(carry.v, carry.v, 32 - shift);
            if (shift == 0) mpz_set_ui(carry.v, 0);
        }
        check(holds(a.data(), digits, value.v), left ? "LShift" : "RShift");
        check(mpz_cmp_ui(carry.v, out) == 0, left ? "LShift carry" : "RShift carry");
    }
}

void queries(Input& in) {
    const std::uint32_t digits = in.upTo(kMax);
    Number a = number(in, digits, digits), b = number(in, digits, digits);
    // Equal numbers are likely only when made so.
    if (in.byte() & 1) b = a;
    Z za(a.data(), digits), zb(b.data(), digits);
    const int sign = mpz_cmp(za.v, zb.v);
    check(QV_NN_Cmp(a.data(), b.data(), digits) == (sign > 0) - (sign < 0), "Cmp");
    check(QV_NN_Zero(a.data(), digits) == (mpz_sgn(za.v) == 0), "Zero");
    const std::uint32_t bits = mpz_sgn(za.v) == 0 ? 0 : static_cast<std::uint32_t>(mpz_sizeinbase(za.v, 2));
    check(QV_NN_Bits(a.data(), digits) == bits, "Bits");
    check(QV_NN_Digits(a.data(), digits) == (bits + 31) / 32, "Digits");

    const std::uint32_t exponent = in.byte() < 16 ? in.digit() : in.upTo(255) * 5;
    Number p(std::max<std::uint32_t>(digits, 1), kGarbage);
    QV_NN_Assign2Exp(p.data(), exponent, digits);
    Z power;
    if (exponent < 32 * digits) mpz_setbit(power.v, exponent);
    check(holds(p.data(), digits, power.v), "Assign2Exp");
}

void divide(Input& in, std::uint8_t form) {
    const std::uint32_t cDigits = in.upTo(2 * kMax), dDigits = in.upTo(kMax);
    Number c = number(in, cDigits, cDigits), d = number(in, dDigits, dDigits);
    if (in.byte() % 8 == 7) std::fill(d.begin(), d.end(), 0);  // the zero divisor
    Z zc(c.data(), cDigits), zd(d.data(), dDigits), q, r;
    const bool zero = mpz_sgn(zd.v) == 0;
    if (!zero) mpz_fdiv_qr(q.v, r.v, zc.v, zd.v);

    // Outputs distinct, or one of them the array of an input (never each other).
    Number a(c.size(), kGarbage), b(d.size(), kGarbage);
    Number shared;
    NN_DIGIT *qa = a.data(), *rb = b.data();
    const NN_DIGIT *cc = c.data(), *dd = d.data();
    switch (form % 4) {
        case 1:
            shared = c;
            qa = shared.data();
            cc = qa;
            break;  // quotient over the dividend
        case 2:
            shared = d;
            rb = shared.data();
            dd = rb;
            break;  // remainder over the divisor
        case 3:     // remainder over the dividend
            shared = c;
            shared.resize(std::max(c.size(), d.size()), kGarbage);
            rb = shared.data();
            cc = rb;
            break;
        default:
            break;
    }
    const Number aBefore = a, bBefore = b, sharedBefore = shared;
    QV_NN_Div(qa, rb, cc, cDigits, dd, dDigits);
    if (zero) {
        check(a == aBefore && b == bBefore && shared == sharedBefore, "Div by zero wrote");
        return;
    }
    check(holds(qa, cDigits, q.v), "Div quotient");
    check(holds(rb, dDigits, r.v), "Div remainder");
}

void modulo(Input& in, bool alias) {
    const std::uint32_t bDigits = in.upTo(2 * kMax), cDigits = in.upTo(kMax);
    Number b = number(in, bDigits, bDigits), c = number(in, cDigits, cDigits);
    if (in.byte() % 8 == 7) std::fill(c.begin(), c.end(), 0);
    Z zb(b.data(), bDigits), zc(c.data(), cDigits), r;
    const bool zero = mpz_sgn(zc.v) == 0;
    if (!zero) mpz_fdiv_r(r.v, zb.v, zc.v);
    // The result over the number reduced.
    Number a = alias ? b : Number(c.size(), kGarbage);
    if (alias && a.size() < c.size()) a.resize(c.size(), kGarbage);
    const Number before = a;
    QV_NN_Mod(a.data(), alias ? a.data() : b.data(), bDigits, c.data(), cDigits);
    if (zero)
        check(a == before, "Mod by zero wrote");
    else
        check(holds(a.data(), cDigits, r.v), "Mod");
}

// The result array is fresh, or the array of one of the inputs (form 1-3),
// or, for the product of a number with itself, of both factors (form 4).
struct Operands {
    Number a, b, c, d;
    NN_DIGIT* out = nullptr;
    const NN_DIGIT *x = nullptr, *y = nullptr, *m = nullptr;
};
Operands operands(Input& in, std::uint32_t digits, std::uint32_t yDigits, std::uint8_t form) {
    Operands o;
    o.b = number(in, digits, digits);
    o.c = number(in, yDigits, yDigits);
    o.d = number(in, digits, digits);
    if (form % 5 == 4) o.c = o.b;
    o.a.assign(std::max({o.b.size(), o.c.size(), o.d.size()}), kGarbage);
    o.x = o.b.data();
    o.y = o.c.data();
    o.m = o.d.data();
    switch (form % 5) {
        case 1:
            std::copy(o.b.begin(), o.b.end(), o.a.begin());
            o.x = o.a.data();
            break;
        case 2:
            std::copy(o.c.begin(), o.c.end(), o.a.begin());
            o.y = o.a.data();
            break;
        case 3:
            std::copy(o.d.begin(), o.d.end(), o.a.begin());
            o.m = o.a.data();
            break;
        case 4:
            std::copy(o.b.begin(), o.b.end(), o.a.begin());
            o.x = o.y = o.a.data();
            break;
        default:
            break;
    }
    o.out = o.a.data();
    return o;
}

void modMult(Input& in, std::uint8_t form) {
    const std::uint32_t digits = in.upTo(kMax);
    Operands o = operands(in, digits, digits, form);
    if (in.byte() % 8 == 7) {
        std::fill(o.d.begin(), o.d.end(), 0);
        o.m = o.d.data();
    }
    Z zb(o.b.data(), digits), zc(o.c.data(), digits), zd(o.m, digits), r;
    const bool zero = mpz_sgn(zd.v) == 0;
    if (!zero) {
        mpz_mul(r.v, zb.v, zc.v);
        mpz_fdiv_r(r.v, r.v, zd.v);
    }
    const Number before = o.a;
    QV_NN_ModMult(o.out, o.x, o.y, o.m, digits);
    if (zero)
        check(o.a == before, "ModMult by zero wrote");
    else
        check(holds(o.out, digits, r.v), "ModMult");
}

void modExp(Input& in, std::uint8_t form) {
    const std::uint32_t dDigits = in.upTo(kMax);
    // The reference exponentiation costs about cDigits * dDigits^2 digit
    // products per bit pair; keeping that bounded keeps each run quick.
    const std::uint32_t cDigits =
        std::min(in.upTo(kMax), std::max<std::uint32_t>(1, 4096 / (dDigits * dDigits + 1)));
    Operands o = operands(in, dDigits, cDigits, form % 4);  // no squaring form
    Z zb(o.b.data(), dDigits), zc(o.c.data(), cDigits), zd(o.d.data(), dDigits), r;
    if (mpz_sgn(zd.v) == 0) return;  // a zero modulus is outside the contract, with no outcome stated
    if (mpz_sgn(zc.v) == 0)
        mpz_set_ui(r.v, 1);  // not reduced, also modulo 1
    else
        mpz_powm(r.v, zb.v, zc.v, zd.v);
    QV_NN_ModExp(o.out, o.x, o.y, cDigits, o.m, dDigits);
    check(holds(o.out, dDigits, r.v), "ModExp");
}

void modInv(Input& in, std::uint8_t form) {
    const std::uint32_t digits = in.upTo(kMax);
    Operands o = operands(in, digits, digits, form % 4);
    // b is the number, c the modulus (d is not used).
    Z zb(o.b.data(), digits), zc(o.c.data(), digits), r, g;
    if (mpz_sgn(zc.v) == 0) return;  // outside the contract, no outcome stated
    const Number before = o.a;
    const NN_DIGIT* modulus = form % 4 == 2 ? o.y : o.c.data();
    QV_NN_ModInv(o.out, o.x, modulus, digits);
    mpz_gcd(g.v, zb.v, zc.v);
    if (mpz_cmp_ui(zc.v, 1) == 0) {
        mpz_set_ui(r.v, 1);  // modulo 1 the result is 1
    } else if (mpz_cmp_ui(g.v, 1) != 0) {
        // Not coprime: no inverse to compare; only the digits written are checked.
        check(std::equal(o.a.begin() + digits, o.a.end(), before.begin() + digits), "ModInv wrote beyond");
        return;
    } else {
        mpz_invert(r.v, zb.v, zc.v);
    }
    check(holds(o.out, digits, r.v), "ModInv");
}

void gcd(Input& in, std::uint8_t form) {
    const std::uint32_t digits = in.upTo(kMax);
    Operands o = operands(in, digits, digits, form % 3);
    Z zb(o.b.data(), digits), zc(o.c.data(), digits), r;
    mpz_gcd(r.v, zb.v, zc.v);
    QV_NN_Gcd(o.out, o.x, o.y, digits);
    check(holds(o.out, digits, r.v), "Gcd");
}

// Counts beyond the capacity: the operations with fixed scratch write nothing.
void beyondCapacity(Input& in, std::uint8_t form) {
    const std::uint32_t over = kMax + 1 + in.upTo(8), overDividend = 2 * kMax + 1 + in.upTo(8);
    Number x = number(in, overDividend, overDividend), y = number(in, over, over), z = number(in, over, over);
    // Non-zero and as long as their counts, so that only the size can stop
    // the work. (Division looks at the divisor's significant digits: one
    // that fits the capacity is divided by whatever its count.)
    y[0] |= 1;
    z[0] |= 1;
    y[over - 1] |= 1;
    z[over - 1] |= 1;
    Number a(2 * overDividend, kGarbage), b(2 * overDividend, kGarbage);
    const Number aBefore = a, bBefore = b;
    switch (form % 7) {
        case 0:
            QV_NN_Mult(a.data(), y.data(), z.data(), over);
            break;
        case 1:
            QV_NN_Div(a.data(), b.data(), x.data(), overDividend, y.data(), kMax);
            break;
        case 2:
            QV_NN_Div(a.data(), b.data(), x.data(), 2 * kMax, y.data(), over);
            break;
        case 3:
            QV_NN_Mod(a.data(), x.data(), overDividend, y.data(), kMax);
            break;
        case 4:
            QV_NN_ModMult(a.data(), y.data(), z.data(), y.data(), over);
            break;
        case 5:
            QV_NN_ModExp(a.data(), y.data(), z.data(), 1, y.data(), over);
            break;
        default:
            QV_NN_ModInv(a.data(), y.data(), z.data(), over);
            QV_NN_Gcd(b.data(), y.data(), z.data(), over);
            break;
    }
    check(a == aBefore && b == bBefore, "a count beyond the capacity wrote");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Input in(data + 1, size - 1);
    const std::uint8_t op = data[0] % 12, form = data[0] / 12;
    switch (op) {
        case 0:
            codec(in);
            break;
        case 1:
            addSub(in, form & 1);
            break;
        case 2:
            mult(in, form & 1);
            break;
        case 3:
            shifts(in, form & 1);
            break;
        case 4:
            queries(in);
            break;
        case 5:
            divide(in, form);
            break;
        case 6:
            modulo(in, form & 1);
            break;
        case 7:
            modMult(in, form);
            break;
        case 8:
            modExp(in, form);
            break;
        case 9:
            modInv(in, form);
            break;
        case 10:
            gcd(in, form);
            break;
        default:
            beyondCapacity(in, form);
            break;
    }
    return 0;
}
