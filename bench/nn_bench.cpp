// Modular multiplication and exponentiation at RSA sizes (512 and 1024
// bits), Corvane beside GMP (mpz_mul + mpz_mod, mpz_powm) and OpenSSL
// (BN_mod_mul, BN_mod_exp) on the same operands. Exponents: 65537 and a
// random full-size exponent. QV_NN_ModExp runs in time that depends on the
// exponent's digit count, not its value, so 65537 is passed as one digit,
// as the RSA layer passes its significant digits. The shared main prints
// the median ratios.
#include <Corvane/nn.h>
#include <benchmark/benchmark.h>
#include <gmp.h>
#include <openssl/bn.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using Digits = std::vector<NN_DIGIT>;

// Fixed operands for one size: an odd modulus with its top bit set, a base
// and a second factor below it, and a full-size exponent.
struct Operands {
    std::uint32_t digits;
    Digits modulus, base, factor, fullExponent, e65537;

    explicit Operands(unsigned bits) : digits(bits / 32) {
        std::mt19937_64 rng(bits);
        auto random = [&](std::uint32_t n) {
            Digits d(n);
            for (auto& x : d) x = static_cast<NN_DIGIT>(rng());
            return d;
        };
        modulus = random(digits);
        modulus[digits - 1] |= 0x80000000u;
        modulus[0] |= 1;
        base = random(digits);
        base[digits - 1] &= 0x7FFFFFFFu;
        factor = random(digits);
        factor[digits - 1] &= 0x7FFFFFFFu;
        fullExponent = random(digits);
        fullExponent[digits - 1] |= 0x80000000u;
        e65537 = Digits(digits, 0);
        e65537[0] = 65537;
    }
    const Digits& exponent(bool full) const { return full ? fullExponent : e65537; }
    std::uint32_t exponentDigits(bool full) const { return full ? digits : 1; }
};

const Operands& operands(unsigned bits) {
    static const Operands o512(512), o1024(1024);
    return bits == 512 ? o512 : o1024;
}

struct GmpInt {
    mpz_t v;
    explicit GmpInt(const Digits& d) {
        mpz_init(v);
        mpz_import(v, d.size(), -1, sizeof(NN_DIGIT), 0, 0, d.data());
    }
    GmpInt() { mpz_init(v); }
    ~GmpInt() { mpz_clear(v); }
};

// Digits to an OpenSSL number through big-endian bytes.
BIGNUM* toBn(const Digits& d) {
    std::vector<unsigned char> bytes(4 * d.size());
    for (std::size_t i = 0; i < d.size(); i++)
        for (unsigned k = 0; k < 4; k++)
            bytes[bytes.size() - 1 - (4 * i + k)] = static_cast<unsigned char>(d[i] >> (8 * k));
    return BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr);
}

void corvaneModMult(benchmark::State& state, unsigned bits) {
    const Operands& o = operands(bits);
    NN_DIGIT a[MAX_NN_DIGITS];
    for (auto _ : state) {
        QV_NN_ModMult(a, o.base.data(), o.factor.data(), o.modulus.data(), o.digits);
        benchmark::DoNotOptimize(a);
    }
}

void gmpModMult(benchmark::State& state, unsigned bits) {
    const Operands& o = operands(bits);
    GmpInt b(o.base), c(o.factor), m(o.modulus), t, r;
    for (auto _ : state) {
        mpz_mul(t.v, b.v, c.v);
        mpz_mod(r.v, t.v, m.v);
        benchmark::DoNotOptimize(r.v);
    }
}

void opensslModMult(benchmark::State& state, unsigned bits) {
    const Operands& o = operands(bits);
    BIGNUM *b = toBn(o.base), *c = toBn(o.factor), *m = toBn(o.modulus), *r = BN_new();
    BN_CTX* ctx = BN_CTX_new();
    for (auto _ : state) {
        if (!BN_mod_mul(r, b, c, m, ctx)) state.SkipWithError("BN_mod_mul failed");
        benchmark::DoNotOptimize(r);
    }
    BN_CTX_free(ctx);
    for (BIGNUM* x : {b, c, m, r}) BN_free(x);
}

void corvaneModExp(benchmark::State& state, unsigned bits, bool full) {
    const Operands& o = operands(bits);
    const Digits& e = o.exponent(full);
    NN_DIGIT a[MAX_NN_DIGITS];
    for (auto _ : state) {
        QV_NN_ModExp(a, o.base.data(), e.data(), o.exponentDigits(full), o.modulus.data(), o.digits);
        benchmark::DoNotOptimize(a);
    }
}

void gmpModExp(benchmark::State& state, unsigned bits, bool full) {
    const Operands& o = operands(bits);
    GmpInt b(o.base), e(o.exponent(full)), m(o.modulus), r;
    for (auto _ : state) {
        mpz_powm(r.v, b.v, e.v, m.v);
        benchmark::DoNotOptimize(r.v);
    }
}

void opensslModExp(benchmark::State& state, unsigned bits, bool full) {
    const Operands& o = operands(bits);
    BIGNUM *b = toBn(o.base), *e = toBn(o.exponent(full)), *m = toBn(o.modulus), *r = BN_new();
    BN_CTX* ctx = BN_CTX_new();
    for (auto _ : state) {
        if (!BN_mod_exp(r, b, e, m, ctx)) state.SkipWithError("BN_mod_exp failed");
        benchmark::DoNotOptimize(r);
    }
    BN_CTX_free(ctx);
    for (BIGNUM* x : {b, e, m, r}) BN_free(x);
}

// All three implementations must agree before their speed means anything.
bool resultsAgree() {
    for (unsigned bits : {512u, 1024u}) {
        const Operands& o = operands(bits);
        for (bool full : {false, true}) {
            NN_DIGIT a[MAX_NN_DIGITS];
            QV_NN_ModExp(a, o.base.data(), o.exponent(full).data(), o.exponentDigits(full), o.modulus.data(),
                         o.digits);
            GmpInt b(o.base), e(o.exponent(full)), m(o.modulus), r, ours(Digits(a, a + o.digits));
            mpz_powm(r.v, b.v, e.v, m.v);
            if (mpz_cmp(r.v, ours.v) != 0) return false;
        }
    }
    return true;
}

const bool registered = [] {
    if (!resultsAgree()) {
        std::fprintf(stderr, "QV_NN_ModExp disagrees with mpz_powm; not benchmarking\n");
        return false;
    }
    for (unsigned bits : {512u, 1024u}) {
        const std::string size = std::to_string(bits);
        benchmark::RegisterBenchmark(("modmult/" + size + "/corvane").c_str(), corvaneModMult, bits);
        benchmark::RegisterBenchmark(("modmult/" + size + "/gmp").c_str(), gmpModMult, bits);
        benchmark::RegisterBenchmark(("modmult/" + size + "/openssl").c_str(), opensslModMult, bits);
        for (bool full : {false, true}) {
            const std::string name = "modexp/" + size + (full ? "/full" : "/e65537");
            const auto unit = full ? benchmark::kMillisecond : benchmark::kMicrosecond;
            benchmark::RegisterBenchmark((name + "/corvane").c_str(), corvaneModExp, bits, full)->Unit(unit);
            benchmark::RegisterBenchmark((name + "/gmp").c_str(), gmpModExp, bits, full)->Unit(unit);
            benchmark::RegisterBenchmark((name + "/openssl").c_str(), opensslModExp, bits, full)->Unit(unit);
        }
    }
    return true;
}();

}  // namespace
