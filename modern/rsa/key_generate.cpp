// New RSA keys: two primes from the caller's random pool, found by an
// incremental search from random odd starting points and tested with
// libcrypto's primality test, then the CRT values, the record, and the
// checks every key object passes.
#include <openssl/bn.h>

#include <Corvane/modern/rsa.hpp>
#include <string>
#include <vector>

#include "modern/support/failures.h"
#include "modern/support/openssl_handles.h"
#include "platform/secure_zero.h"

namespace corvane::v1 {

namespace {

constexpr unsigned kSmallestBits = 512;
constexpr unsigned long kPublicExponent = 65537;

using corvane::detail::BnCtxPtr;
using corvane::detail::BnPtr;

BnPtr secretNumber() {
    BnPtr n(BN_secure_new());
    if (!n) throw std::bad_alloc();
    return n;
}

void check(int ok) {
    if (ok != 1) throw std::bad_alloc();
}

// A prime of exactly `bits` bits whose top two bits are set (so that two
// of them make a modulus of exactly the sum of their sizes) and for which
// p - 1 is prime to e: the first such number from a random odd start,
// counting up by two; a start whose search runs past `bits` bits is
// dropped for a new one.
BnPtr randomPrime(unsigned bits, RandomPool& pool, const BIGNUM* e, BN_CTX* ctx) {
    std::vector<std::uint8_t> bytes((bits + 7) / 8);
    BnPtr candidate = secretNumber(), less = secretNumber(), divisor = secretNumber();
    for (;;) {
        pool.generate(bytes);
        check(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), candidate.get()) != nullptr);
        secure_zero(bytes.data(), bytes.size());
        // Returns 0 when there is nothing above the bits to clear.
        static_cast<void>(BN_mask_bits(candidate.get(), static_cast<int>(bits)));
        check(BN_set_bit(candidate.get(), static_cast<int>(bits) - 1));
        check(BN_set_bit(candidate.get(), static_cast<int>(bits) - 2));
        check(BN_set_bit(candidate.get(), 0));
        while (BN_num_bits(candidate.get()) == static_cast<int>(bits)) {
            check(BN_sub(less.get(), candidate.get(), BN_value_one()));
            check(BN_gcd(divisor.get(), less.get(), e, ctx));
            if (BN_is_one(divisor.get())) {
                const int prime = BN_check_prime(candidate.get(), ctx, nullptr);
                if (prime < 0) throw std::bad_alloc();
                if (prime == 1) return candidate;
            }
            check(BN_add_word(candidate.get(), 2));
        }
    }
}

// number into the field as a big-endian value of the field's length.
template <std::size_t N>
void put(const BIGNUM* number, unsigned char (&field)[N]) {
    check(BN_bn2binpad(number, field, static_cast<int>(N)) == static_cast<int>(N) ? 1 : 0);
}

}  // namespace

RsaPrivateKey RsaPrivateKey::generate(unsigned bits, RandomPool& pool) {
    if (bits < kSmallestBits || bits > MAX_RSA_MODULUS_BITS)
        corvane::detail::throwError(ErrorCode::invalidInput, "a key of " + std::to_string(bits) +
                                                                 " bits was asked for; keys have 512 to 1024");
    BnCtxPtr ctx(BN_CTX_secure_new());
    BnPtr e(BN_new());
    if (!ctx || !e || BN_set_word(e.get(), kPublicExponent) != 1) throw std::bad_alloc();
    BnPtr p = randomPrime((bits + 1) / 2, pool, e.get(), ctx.get());
    BnPtr q = randomPrime(bits / 2, pool, e.get(), ctx.get());
    while (BN_cmp(p.get(), q.get()) == 0) q = randomPrime(bits / 2, pool, e.get(), ctx.get());
    // The larger prime first, as the readers put it.
    if (BN_cmp(p.get(), q.get()) < 0) std::swap(p, q);

    BnPtr n = secretNumber(), p1 = secretNumber(), q1 = secretNumber(), lambda = secretNumber(),
          gcd = secretNumber(), d = secretNumber(), dP = secretNumber(), dQ = secretNumber(), qInv = secretNumber();
    check(BN_mul(n.get(), p.get(), q.get(), ctx.get()));
    check(BN_sub(p1.get(), p.get(), BN_value_one()));
    check(BN_sub(q1.get(), q.get(), BN_value_one()));
    // d = e^-1 mod lcm(p - 1, q - 1), the smallest private exponent.
    check(BN_mul(lambda.get(), p1.get(), q1.get(), ctx.get()));
    check(BN_gcd(gcd.get(), p1.get(), q1.get(), ctx.get()));
    check(BN_div(lambda.get(), nullptr, lambda.get(), gcd.get(), ctx.get()));
    check(BN_mod_inverse(d.get(), e.get(), lambda.get(), ctx.get()) != nullptr);
    check(BN_mod(dP.get(), d.get(), p1.get(), ctx.get()));
    check(BN_mod(dQ.get(), d.get(), q1.get(), ctx.get()));
    check(BN_mod_inverse(qInv.get(), q.get(), p.get(), ctx.get()) != nullptr);

    struct WipedRecord {
        R_RSA_PRIVATE_KEY record{};
        ~WipedRecord() { secure_zero_object(record); }
    } made;
    R_RSA_PRIVATE_KEY& record = made.record;
    record.bits = static_cast<std::uint16_t>(BN_num_bits(n.get()));
    put(n.get(), record.modulus);
    put(e.get(), record.publicExponent);
    put(d.get(), record.privateExponent);
    put(p.get(), record.prime[0]);
    put(q.get(), record.prime[1]);
    put(dP.get(), record.primeExponent[0]);
    put(dQ.get(), record.primeExponent[1]);
    put(qInv.get(), record.coefficient);
    return fromRecord(record);
}

}  // namespace corvane::v1
