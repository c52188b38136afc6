#include "modern/keys/checks.h"

#include <algorithm>

#include "modern/support/openssl_handles.h"

namespace corvane::detail {

namespace {

bool isZero(std::span<const std::uint8_t> bytes) noexcept {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

ErrorCode refuse(ErrorCode code, const char* why, const char** detail) noexcept {
    if (detail != nullptr) *detail = why;
    return code;
}

// A secret number from a record field, marked for constant-time use.
BnPtr secretNumber(std::span<const std::uint8_t> bytes) noexcept {
    BnPtr number(BN_secure_new());
    if (number && BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), number.get()) == nullptr)
        number.reset();
    if (number) BN_set_flags(number.get(), BN_FLG_CONSTTIME);
    return number;
}

// Miller-Rabin with random bases: 1 probably prime, 0 composite, -1 failure.
// w is odd and above 1. Every round and every squaring runs whatever an
// earlier one found, so the time does not tell where a composite showed;
// and each round squares at least kLeastSquarings times (in Montgomery
// form, the extra results unused), so that the time does not tell how many
// factors of 2 w - 1 has either, for all but one prime in 2^8: a record
// that came out of a decryption and the stand-in run in its place (see
// decrypted_key.cpp) then cost the same.
constexpr int kLeastSquarings = 8;

int probablyPrime(const BIGNUM* w, BN_CTX* ctx) noexcept {
    if (BN_is_word(w, 3)) return 1;
    BN_CTX_start(ctx);
    BIGNUM* w1 = BN_CTX_get(ctx);
    BIGNUM* m = BN_CTX_get(ctx);
    BIGNUM* range = BN_CTX_get(ctx);
    BIGNUM* b = BN_CTX_get(ctx);
    BIGNUM* z = BN_CTX_get(ctx);
    BIGNUM* oneM = BN_CTX_get(ctx);   // 1 in Montgomery form
    BIGNUM* minusOneM = BN_CTX_get(ctx);  // w - 1 in Montgomery form
    int result = -1;
    std::unique_ptr<BN_MONT_CTX, Deleter<BN_MONT_CTX, BN_MONT_CTX_free>> mont(BN_MONT_CTX_new());
    if (minusOneM != nullptr && mont && BN_sub(w1, w, BN_value_one()) && BN_MONT_CTX_set(mont.get(), w, ctx) &&
        BN_copy(range, w1) != nullptr && BN_sub_word(range, 2) && BN_to_montgomery(oneM, BN_value_one(), mont.get(), ctx) &&
        BN_to_montgomery(minusOneM, w1, mont.get(), ctx)) {
        int a = 1;
        while (!BN_is_bit_set(w1, a)) a++;
        if (BN_rshift(m, w1, a)) {
            BN_set_flags(m, BN_FLG_CONSTTIME);
            const int squarings = a > kLeastSquarings ? a : kLeastSquarings;
            bool composite = false, failed = false;
            for (int round = 0; round < kPrimeTestRounds && !failed; round++) {
                // b in [2, w - 2], from 64 bits more than w reduced (a
                // bias below 2^-64), not by drawing again until one fits:
                // how often that happens depends on w's top bits, and the
                // time of the check with it.
                failed = !BN_priv_rand_ex(b, BN_num_bits(w) + 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY, 0, ctx) ||
                         !BN_mod(b, b, range, ctx) || !BN_add_word(b, 2) ||
                         !BN_mod_exp_mont_consttime(z, b, m, w, ctx, mont.get()) ||
                         !BN_to_montgomery(z, z, mont.get(), ctx);
                // The round passes when z is 1 or w - 1, or becomes w - 1
                // before it becomes 1, within a - 1 squarings.
                bool passed = BN_cmp(z, oneM) == 0 || BN_cmp(z, minusOneM) == 0;
                bool settled = passed;
                for (int j = 1; j < squarings && !failed; j++) {
                    failed = !BN_mod_mul_montgomery(z, z, z, mont.get(), ctx);
                    const bool counts = j < a;
                    const bool minusOne = BN_cmp(z, minusOneM) == 0, one = BN_cmp(z, oneM) == 0;
                    passed = passed || (counts & !settled & minusOne);
                    settled = settled || (counts & (minusOne | one));
                }
                composite = composite || !passed;
            }
            result = failed ? -1 : composite ? 0 : 1;
        }
    }
    BN_CTX_end(ctx);
    return result;
}

// The number the primality test runs on: w itself when it is odd, else w + 1,
// so that a prime that is even (and already refused) costs the test as a
// true one does. w above 1.
const BIGNUM* oddForTest(const BIGNUM* w, BIGNUM* scratch) noexcept {
    if (BN_is_odd(w)) return w;
    if (BN_copy(scratch, w) == nullptr || !BN_set_bit(scratch, 0)) return nullptr;
    return scratch;
}

}  // namespace

unsigned significantBits(std::span<const std::uint8_t> bigEndian) noexcept {
    for (std::size_t i = 0; i < bigEndian.size(); i++) {
        if (bigEndian[i] == 0) continue;
        unsigned top = 0;
        for (unsigned b = bigEndian[i]; b != 0; b >>= 1) top++;
        return static_cast<unsigned>((bigEndian.size() - i - 1) * 8) + top;
    }
    return 0;
}

ErrorCode checkPublicFields(std::span<const std::uint8_t, MAX_RSA_MODULUS_LEN> modulus,
                            std::span<const std::uint8_t, MAX_RSA_MODULUS_LEN> exponent,
                            const char** detail) noexcept {
    if (significantBits(modulus) < kMinModulusBits)
        return refuse(ErrorCode::keyTooSmall, "the modulus has fewer than 96 bits", detail);
    if ((modulus.back() & 1) == 0) return refuse(ErrorCode::keyInvalid, "the modulus is even", detail);
    const unsigned exponentBits = significantBits(exponent);
    if (exponentBits == 0) return refuse(ErrorCode::keyInvalid, "the public exponent is zero", detail);
    if (exponentBits == 1) return refuse(ErrorCode::keyInvalid, "the public exponent is 1", detail);
    if ((exponent.back() & 1) == 0)
        return refuse(ErrorCode::keyInvalid, "the public exponent is even", detail);
    return ErrorCode::ok;
}

ErrorCode checkPrivateRecord(const R_RSA_PRIVATE_KEY& key, const char** detail) noexcept {
    if (ErrorCode e = checkPublicFields(key.modulus, key.publicExponent, detail); e != ErrorCode::ok)
        return e;
    const std::span<const std::uint8_t> secrets[] = {key.privateExponent,  key.prime[0],
                                                     key.prime[1],         key.primeExponent[0],
                                                     key.primeExponent[1], key.coefficient};
    for (auto field : secrets)
        if (isZero(field)) return refuse(ErrorCode::keyIncomplete, "a private value is zero", detail);
    return ErrorCode::ok;
}

ErrorCode checkPrivateKey(const R_RSA_PRIVATE_KEY& key, const char** detail) noexcept {
    // Every check runs whatever an earlier one found, and the first failure
    // in this order is the answer: the time a refusal takes does not tell
    // which check failed, which matters for a key that came out of a
    // decryption (an altered copy's values may be anything).
    ErrorCode code = ErrorCode::ok;
    const char* why = nullptr;
    auto note = [&](bool failed, ErrorCode c, const char* text) {
        if (failed && code == ErrorCode::ok) {
            code = c;
            why = text;
        }
    };
    const char* recordWhy = nullptr;
    const ErrorCode record = checkPrivateRecord(key, &recordWhy);
    note(record != ErrorCode::ok, record, recordWhy);
    const ErrorCode inconsistent = ErrorCode::keyInconsistent;
    note(key.bits != significantBits(key.modulus), inconsistent, "bits is not the modulus's bit count");
    note((key.prime[0][MAX_RSA_PRIME_LEN - 1] & 1) == 0, inconsistent, "p is even");
    note((key.prime[1][MAX_RSA_PRIME_LEN - 1] & 1) == 0, inconsistent, "q is even");

    BnCtxPtr ctx(BN_CTX_secure_new());
    BnPtr n = secretNumber(key.modulus), e = secretNumber(key.publicExponent),
          d = secretNumber(key.privateExponent), p = secretNumber(key.prime[0]),
          q = secretNumber(key.prime[1]), dP = secretNumber(key.primeExponent[0]),
          dQ = secretNumber(key.primeExponent[1]), qInv = secretNumber(key.coefficient), t = secretNumber({}),
          u = secretNumber({}), p1 = secretNumber({}), q1 = secretNumber({}), scratch = secretNumber({});
    if (!ctx || !n || !e || !d || !p || !q || !dP || !dQ || !qInv || !t || !u || !p1 || !q1 || !scratch)
        return ErrorCode::outOfMemory;
    BN_CTX* c = ctx.get();
    // A modulus of zero (a zero or unit prime, refused above) becomes 1, so
    // that the operations below still run.
    auto nonZero = [](BIGNUM* x) { return !BN_is_zero(x) || BN_one(x); };
    note(BN_cmp(p.get(), q.get()) == 0, inconsistent, "p equals q");
    if (!BN_mul(t.get(), p.get(), q.get(), c)) return ErrorCode::outOfMemory;
    note(BN_cmp(t.get(), n.get()) != 0, inconsistent, "n is not p * q");
    note(BN_is_one(p.get()), inconsistent, "p is 1");
    note(BN_is_one(q.get()), inconsistent, "q is 1");
    if (!BN_sub(p1.get(), p.get(), BN_value_one()) || !BN_sub(q1.get(), q.get(), BN_value_one()) ||
        !nonZero(p1.get()) || !nonZero(q1.get()) || !BN_mod(t.get(), d.get(), p1.get(), c))
        return ErrorCode::outOfMemory;
    note(BN_cmp(t.get(), dP.get()) != 0, inconsistent, "dP is not d mod (p - 1)");
    if (!BN_mod(t.get(), d.get(), q1.get(), c)) return ErrorCode::outOfMemory;
    note(BN_cmp(t.get(), dQ.get()) != 0, inconsistent, "dQ is not d mod (q - 1)");
    note(BN_cmp(qInv.get(), p.get()) >= 0, inconsistent, "qInv is not below p");
    if (!BN_copy(u.get(), p.get()) || !nonZero(u.get()) ||
        !BN_mod_mul(t.get(), q.get(), qInv.get(), u.get(), c))
        return ErrorCode::outOfMemory;
    note(!BN_is_one(t.get()), inconsistent, "q * qInv is not 1 mod p");
    if (!BN_mod_mul(t.get(), e.get(), dP.get(), p1.get(), c) ||
        !BN_mod_mul(u.get(), e.get(), dQ.get(), q1.get(), c))
        return ErrorCode::outOfMemory;
    note(!BN_is_one(t.get()) || !BN_is_one(u.get()), inconsistent, "e * d is not 1 modulo p - 1 and q - 1");
    for (const BIGNUM* prime : {p.get(), q.get()}) {
        // Primes of 0 or 1 are refused above and too small to test.
        if (BN_cmp(prime, BN_value_one()) <= 0) continue;
        const BIGNUM* tested = oddForTest(prime, scratch.get());
        const int verdict = tested != nullptr ? probablyPrime(tested, c) : -1;
        if (verdict < 0) return ErrorCode::outOfMemory;
        note(verdict == 0, inconsistent, prime == p.get() ? "p is not prime" : "q is not prime");
    }
    if (code != ErrorCode::ok && detail != nullptr) *detail = why;
    return code;
}

}  // namespace corvane::detail
