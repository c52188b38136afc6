// RSA PKCS #1 v1.5: public-key encryption (e = 65537) and private-key (CRT)
// decryption at 512 and 1024 bits, beside OpenSSL's EVP operations under
// the same keys in the same binary; decryption throughput on one and two
// threads; and QVSimpleRSA::createEncryptData end
// to end beside EVP_PKEY_encrypt, with the parts of its time (seeding a
// fresh pool, the block operation, the data object) measured alone.
// Batches: decryption and signing of 8 and of 64 messages under one key
// through the modern batch calls, per message, beside EVP doing the same
// messages one at a time.
// The modern key objects one message at a time (encrypt_key, decrypt_key,
// sign_key), their set-up made once with the key, beside EVP.
#include <Corvane/QVSimpleRSA.h>
#include <Corvane/r_random.h>
#include <Corvane/rsa.h>
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <Corvane/corvane.hpp>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct BenchKey {
    EVP_PKEY* evp = nullptr;  // lives for the whole run
    R_RSA_PUBLIC_KEY publicKey{};
    R_RSA_PRIVATE_KEY privateKey{};
    std::uint32_t modulusLen = 0;
};

void putParam(EVP_PKEY* key, const char* name, unsigned char* field, int length) {
    BIGNUM* value = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &value) != 1 || BN_bn2binpad(value, field, length) != length)
        std::abort();
    BN_clear_free(value);
}

const BenchKey& keyOf(unsigned bits) {
    // The throughput benchmarks ask from several threads at once.
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    static std::map<unsigned, BenchKey> keys;
    auto it = keys.find(bits);
    if (it != keys.end()) return it->second;
    BenchKey k;
    k.evp = EVP_RSA_gen(bits);
    if (k.evp == nullptr) std::abort();
    k.publicKey.bits = static_cast<std::uint16_t>(bits);
    k.privateKey.bits = static_cast<std::uint16_t>(bits);
    k.modulusLen = (bits + 7) / 8;
    putParam(k.evp, OSSL_PKEY_PARAM_RSA_N, k.publicKey.modulus, MAX_RSA_MODULUS_LEN);
    putParam(k.evp, OSSL_PKEY_PARAM_RSA_E, k.publicKey.exponent, MAX_RSA_MODULUS_LEN);
    putParam(k.evp, OSSL_PKEY_PARAM_RSA_N, k.privateKey.modulus, MAX_RSA_MODULUS_LEN);
    putParam(k.evp, OSSL_PKEY_PARAM_RSA_E, k.privateKey.publicExponent, MAX_RSA_MODULUS_LEN);
    putParam(k.evp, OSSL_PKEY_PARAM_RSA_D, k.privateKey.privateExponent, MAX_RSA_MODULUS_LEN);
    putParam(k.evp, OSSL_PKEY_PARAM_RSA_FACTOR1, k.privateKey.prime[0], MAX_RSA_PRIME_LEN);
    putParam(k.evp, OSSL_PKEY_PARAM_RSA_FACTOR2, k.privateKey.prime[1], MAX_RSA_PRIME_LEN);
    putParam(k.evp, OSSL_PKEY_PARAM_RSA_EXPONENT1, k.privateKey.primeExponent[0], MAX_RSA_PRIME_LEN);
    putParam(k.evp, OSSL_PKEY_PARAM_RSA_EXPONENT2, k.privateKey.primeExponent[1], MAX_RSA_PRIME_LEN);
    putParam(k.evp, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, k.privateKey.coefficient, MAX_RSA_PRIME_LEN);
    return keys.emplace(bits, k).first->second;
}

// A short message, as QVSimpleRSA encrypts: a key or a PIN.
const std::vector<unsigned char> kMessage(32, 0x5A);

EVP_PKEY_CTX* opensslContext(const BenchKey& key, int (*init)(EVP_PKEY_CTX*)) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key.evp, nullptr);
    if (ctx == nullptr || init(ctx) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) != 1)
        std::abort();
    return ctx;
}

void EncryptCorvane(benchmark::State& state, unsigned bits) {
    const BenchKey& key = keyOf(bits);
    R_RANDOM_STRUCT pool;
    QV_R_RandomCreate(&pool);
    unsigned char out[MAX_RSA_MODULUS_LEN];
    std::uint32_t outLen = 0;
    for (auto _ : state) {
        if (QV_RSAPublicEncrypt(out, &outLen, kMessage.data(), static_cast<std::uint32_t>(kMessage.size()),
                                &key.publicKey, &pool) != 0)
            state.SkipWithError("encryption failed");
        benchmark::DoNotOptimize(out);
    }
}

void EncryptOpenSsl(benchmark::State& state, unsigned bits) {
    const BenchKey& key = keyOf(bits);
    EVP_PKEY_CTX* ctx = opensslContext(key, EVP_PKEY_encrypt_init);
    unsigned char out[512];
    for (auto _ : state) {
        std::size_t outLen = sizeof out;
        if (EVP_PKEY_encrypt(ctx, out, &outLen, kMessage.data(), kMessage.size()) != 1)
            state.SkipWithError("encryption failed");
        benchmark::DoNotOptimize(out);
    }
    EVP_PKEY_CTX_free(ctx);
}

std::vector<unsigned char> ciphertextFor(const BenchKey& key) {
    EVP_PKEY_CTX* ctx = opensslContext(key, EVP_PKEY_encrypt_init);
    std::vector<unsigned char> c(key.modulusLen);
    std::size_t len = c.size();
    if (EVP_PKEY_encrypt(ctx, c.data(), &len, kMessage.data(), kMessage.size()) != 1) std::abort();
    EVP_PKEY_CTX_free(ctx);
    return c;
}

void DecryptCorvane(benchmark::State& state, unsigned bits) {
    const BenchKey& key = keyOf(bits);
    std::vector<unsigned char> c = ciphertextFor(key);
    unsigned char out[MAX_RSA_MODULUS_LEN];
    std::uint32_t outLen = 0;
    for (auto _ : state) {
        if (QV_RSAPrivateDecrypt(out, &outLen, c.data(), static_cast<std::uint32_t>(c.size()),
                                 &key.privateKey) != 0)
            state.SkipWithError("decryption failed");
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}

void DecryptOpenSsl(benchmark::State& state, unsigned bits) {
    const BenchKey& key = keyOf(bits);
    std::vector<unsigned char> c = ciphertextFor(key);
    EVP_PKEY_CTX* ctx = opensslContext(key, EVP_PKEY_decrypt_init);
    unsigned char out[512];
    for (auto _ : state) {
        std::size_t outLen = sizeof out;
        if (EVP_PKEY_decrypt(ctx, out, &outLen, c.data(), c.size()) != 1)
            state.SkipWithError("decryption failed");
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
    EVP_PKEY_CTX_free(ctx);
}

std::string hexOf(const unsigned char* bytes, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < length; i++) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// The class with the key as hexadecimal text of the modulus's true length.
corvane::Ref<corvane::QVSimpleRSA> simpleRsaFor(const BenchKey& key) {
    auto rsa = corvane::make_ref<corvane::QVSimpleRSA>();
    const unsigned char* modulus = key.publicKey.modulus + MAX_RSA_MODULUS_LEN - key.modulusLen;
    if (rsa->setPublicKey(hexOf(modulus, key.modulusLen).c_str(), "010001") != 0) std::abort();
    return rsa;
}

void SimpleRsaCorvane(benchmark::State& state, unsigned bits) {
    auto rsa = simpleRsaFor(keyOf(bits));
    std::int32_t error = 0;
    for (auto _ : state) {
        corvane::Ref<corvane::NSData> block =
            rsa->createEncryptData(kMessage.data(), static_cast<std::int64_t>(kMessage.size()), &error);
        if (!block) state.SkipWithError("encryption failed");
        benchmark::DoNotOptimize(block);
    }
}

// The parts of createEncryptData: a fresh pool seeded from the clock and
// the operating system, the block operation on a ready pool (the
// encrypt/... cases), and the data object that carries the result.
void PartPoolSeeding(benchmark::State& state) {
    R_RANDOM_STRUCT pool;
    for (auto _ : state) {
        QV_R_RandomCreate(&pool);
        benchmark::DoNotOptimize(pool);
    }
    QV_R_RandomFinal(&pool);
}

void PartDataObject(benchmark::State& state) {
    unsigned char block[MAX_RSA_MODULUS_LEN] = {};
    for (auto _ : state) {
        corvane::Ref<corvane::NSData> data = corvane::make_ref<corvane::NSData>(block, std::size_t{64});
        benchmark::DoNotOptimize(data);
    }
}

// The key objects, whose arithmetic set-up is made once with the key:
// public encryption from a ready pool, private decryption and signing, one
// message at a time, beside EVP with the same key and a context made once.
enum class KeyOperation { encrypt, decrypt, sign };

void CachedKeyCorvane(benchmark::State& state, unsigned bits, KeyOperation operation) {
    const BenchKey& key = keyOf(bits);
    const auto privateKey = corvane::v1::RsaPrivateKey::fromRecord(key.privateKey);
    const auto publicKey = privateKey.publicKey();
    corvane::v1::RandomPool pool;
    const std::vector<unsigned char> input = operation == KeyOperation::decrypt ? ciphertextFor(key) : kMessage;
    for (auto _ : state) {
        std::vector<std::uint8_t> out = operation == KeyOperation::encrypt ? publicKey.encrypt(input, pool)
                                        : operation == KeyOperation::decrypt ? privateKey.decrypt(input)
                                                                             : privateKey.sign(input);
        benchmark::DoNotOptimize(out.data());
    }
}

void CachedKeyOpenSsl(benchmark::State& state, unsigned bits, KeyOperation operation) {
    const BenchKey& key = keyOf(bits);
    EVP_PKEY_CTX* ctx = opensslContext(key, operation == KeyOperation::encrypt   ? EVP_PKEY_encrypt_init
                                            : operation == KeyOperation::decrypt ? EVP_PKEY_decrypt_init
                                                                                 : EVP_PKEY_sign_init);
    const std::vector<unsigned char> input = operation == KeyOperation::decrypt ? ciphertextFor(key) : kMessage;
    unsigned char out[512];
    for (auto _ : state) {
        std::size_t outLen = sizeof out;
        int ok = operation == KeyOperation::encrypt ? EVP_PKEY_encrypt(ctx, out, &outLen, input.data(), input.size())
                 : operation == KeyOperation::decrypt ? EVP_PKEY_decrypt(ctx, out, &outLen, input.data(), input.size())
                                                      : EVP_PKEY_sign(ctx, out, &outLen, input.data(), input.size());
        if (ok != 1) state.SkipWithError("operation failed");
        benchmark::DoNotOptimize(out);
    }
    EVP_PKEY_CTX_free(ctx);
}

// Batches. The time of each iteration is set to the time of the whole batch
// divided by its size: the rows read as time per message. Every message
// differs (a batch of equal inputs could hide per-item work).
std::vector<std::vector<unsigned char>> batchMessages(std::size_t count) {
    std::vector<std::vector<unsigned char>> messages(count, kMessage);
    for (std::size_t i = 0; i < count; i++) messages[i][0] = static_cast<unsigned char>(i);
    return messages;
}

std::vector<std::vector<unsigned char>> batchCiphertexts(const BenchKey& key, std::size_t count) {
    EVP_PKEY_CTX* ctx = opensslContext(key, EVP_PKEY_encrypt_init);
    std::vector<std::vector<unsigned char>> blocks;
    for (const auto& message : batchMessages(count)) {
        std::vector<unsigned char> c(key.modulusLen);
        std::size_t len = c.size();
        if (EVP_PKEY_encrypt(ctx, c.data(), &len, message.data(), message.size()) != 1) std::abort();
        blocks.push_back(c);
    }
    EVP_PKEY_CTX_free(ctx);
    return blocks;
}

std::vector<corvane::v1::ByteView> viewsOf(const std::vector<std::vector<unsigned char>>& items) {
    return {items.begin(), items.end()};
}

using Clock = std::chrono::steady_clock;

void setTimePerMessage(benchmark::State& state, Clock::time_point start, std::size_t count) {
    std::chrono::duration<double> elapsed = Clock::now() - start;
    state.SetIterationTime(elapsed.count() / static_cast<double>(count));
}

// decryptBatch or signBatch on count inputs per iteration.
void BatchCorvane(benchmark::State& state, unsigned bits, bool sign) {
    const BenchKey& key = keyOf(bits);
    const auto privateKey = corvane::v1::RsaPrivateKey::fromRecord(key.privateKey);
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    const auto inputs = sign ? batchMessages(count) : batchCiphertexts(key, count);
    const auto views = viewsOf(inputs);
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        {
            std::vector<corvane::v1::RsaBatchResult> results =
                sign ? privateKey.signBatch(views) : privateKey.decryptBatch(views);
            for (const auto& result : results)
                if (result.error) state.SkipWithError("batch item failed");
            benchmark::DoNotOptimize(results.data());
        }
        setTimePerMessage(state, start, count);
    }
    state.SetItemsProcessed(state.iterations());  // per message, as the time
}

// EVP_PKEY_decrypt or EVP_PKEY_sign (PKCS #1 v1.5 padding, no digest: the
// same type-1 block) on the same inputs, one at a time, context made once.
void BatchOpenSsl(benchmark::State& state, unsigned bits, bool sign) {
    const BenchKey& key = keyOf(bits);
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    const auto inputs = sign ? batchMessages(count) : batchCiphertexts(key, count);
    EVP_PKEY_CTX* ctx = opensslContext(key, sign ? EVP_PKEY_sign_init : EVP_PKEY_decrypt_init);
    unsigned char out[512];
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        for (const auto& input : inputs) {
            std::size_t outLen = sizeof out;
            int ok = sign ? EVP_PKEY_sign(ctx, out, &outLen, input.data(), input.size())
                          : EVP_PKEY_decrypt(ctx, out, &outLen, input.data(), input.size());
            if (ok != 1) state.SkipWithError("operation failed");
            benchmark::DoNotOptimize(out);
        }
        setTimePerMessage(state, start, count);
    }
    state.SetItemsProcessed(state.iterations());  // per message, as the time
    EVP_PKEY_CTX_free(ctx);
}

}  // namespace

BENCHMARK_CAPTURE(EncryptCorvane, 512, 512u)->Name("encrypt/512/corvane");
BENCHMARK_CAPTURE(EncryptOpenSsl, 512, 512u)->Name("encrypt/512/openssl");
BENCHMARK_CAPTURE(EncryptCorvane, 1024, 1024u)->Name("encrypt/1024/corvane");
BENCHMARK_CAPTURE(EncryptOpenSsl, 1024, 1024u)->Name("encrypt/1024/openssl");
BENCHMARK_CAPTURE(DecryptCorvane, 512, 512u)->Name("decrypt/512/corvane");
BENCHMARK_CAPTURE(DecryptOpenSsl, 512, 512u)->Name("decrypt/512/openssl");
BENCHMARK_CAPTURE(DecryptCorvane, 1024, 1024u)->Name("decrypt/1024/corvane");
BENCHMARK_CAPTURE(DecryptOpenSsl, 1024, 1024u)->Name("decrypt/1024/openssl");
// Private decryption throughput on one and two threads, each thread with its
// own context: the time is wall time per decryption over all threads (the
// inverse of the throughput), the items per second the throughput.
const bool kThreadCases = [] {
    for (unsigned bits : {1024u, 512u})
        for (int threads : {1, 2}) {
            const std::string size = "decrypt_threads_" + std::to_string(threads) + "/" + std::to_string(bits);
            benchmark::RegisterBenchmark((size + "/corvane").c_str(), DecryptCorvane, bits)
                ->Threads(threads)
                ->UseRealTime();
            benchmark::RegisterBenchmark((size + "/openssl").c_str(), DecryptOpenSsl, bits)
                ->Threads(threads)
                ->UseRealTime();
        }
    return true;
}();
BENCHMARK_CAPTURE(SimpleRsaCorvane, 512, 512u)->Name("simple_rsa_encrypt/512/corvane");
BENCHMARK_CAPTURE(EncryptOpenSsl, 512, 512u)->Name("simple_rsa_encrypt/512/openssl");
BENCHMARK_CAPTURE(SimpleRsaCorvane, 1024, 1024u)->Name("simple_rsa_encrypt/1024/corvane");
BENCHMARK_CAPTURE(EncryptOpenSsl, 1024, 1024u)->Name("simple_rsa_encrypt/1024/openssl");
// Rows decrypt_batch/BITS/N and sign_batch/BITS/N, N the batch size. The
// measured time is per message, so the least time is divided by N: each
// row then runs for about half a second, as the others do.
const bool kBatchCases = [] {
    for (auto [name, bits, sign] :
         {std::tuple{"decrypt_batch", 1024u, false}, std::tuple{"decrypt_batch", 512u, false},
          std::tuple{"sign_batch", 1024u, true}})
        for (int count : {8, 64}) {
            const std::string size = std::string(name) + "/" + std::to_string(bits);
            benchmark::RegisterBenchmark((size + "/corvane").c_str(), BatchCorvane, bits, sign)
                ->Arg(count)
                ->MinTime(0.5 / count)
                ->UseManualTime();
            benchmark::RegisterBenchmark((size + "/openssl").c_str(), BatchOpenSsl, bits, sign)
                ->Arg(count)
                ->MinTime(0.5 / count)
                ->UseManualTime();
        }
    return true;
}();
// Rows encrypt_key/BITS, decrypt_key/BITS and sign_key/BITS.
const bool kCachedKeyCases = [] {
    for (auto [name, operation] : {std::tuple{"encrypt_key", KeyOperation::encrypt},
                                   std::tuple{"decrypt_key", KeyOperation::decrypt},
                                   std::tuple{"sign_key", KeyOperation::sign}})
        for (unsigned bits : {1024u, 512u}) {
            const std::string size = std::string(name) + "/" + std::to_string(bits);
            benchmark::RegisterBenchmark((size + "/corvane").c_str(), CachedKeyCorvane, bits, operation);
            benchmark::RegisterBenchmark((size + "/openssl").c_str(), CachedKeyOpenSsl, bits, operation);
        }
    return true;
}();
BENCHMARK(PartPoolSeeding)->Name("simple_rsa_part/pool_seeding");
BENCHMARK(PartDataObject)->Name("simple_rsa_part/data_object");
