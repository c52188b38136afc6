// Triple-DES CBC with PKCS #7 padding, both ways: QVDes3::createDes3EncryptData
// and createDes3DecryptData beside OpenSSL's EVP DES-EDE3-CBC, at 1 KiB and
// 1 MiB. Decryption runs on the bitsliced engine's widest path that the CPU
// and CORVANE_CPU allow (portable, avx2, avx512: run once per setting to
// compare the tiers); the path is printed in the benchmark context.
//
// Our side is measured as applications call it: each call prepares its key
// and IV areas, allocates and wipes its working buffer and returns a new data
// object. OpenSSL gets its cipher fetched once and writes into a buffer
// allocated outside the timed loop; like our adapter it makes one cipher
// context per message.
#include <Corvane/Foundation.h>
#include <Corvane/QVDes3.h>
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

using corvane::make_ref;
using corvane::NSData;
using corvane::QVDes3;
using corvane::Ref;

namespace {

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * 1024;

std::vector<std::uint8_t> randomBytes(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<std::uint8_t> b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

void encryptCorvane(benchmark::State& state, std::size_t n) {
    auto plain = randomBytes(n, n), key = randomBytes(24, 1), iv = randomBytes(8, 2);
    Ref<NSData> data = make_ref<NSData>(plain.data(), plain.size());
    Ref<NSData> keyData = make_ref<NSData>(key.data(), key.size());
    Ref<NSData> ivData = make_ref<NSData>(iv.data(), iv.size());
    for (auto _ : state) {
        std::int32_t error = 0;
        Ref<NSData> out = QVDes3::createDes3EncryptData(data.get(), keyData.get(), ivData.get(), &error);
        benchmark::DoNotOptimize(out.get());
        if (!out) state.SkipWithError("encryption failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void encryptOpenSsl(benchmark::State& state, std::size_t n) {
    auto plain = randomBytes(n, n), key = randomBytes(24, 1), iv = randomBytes(8, 2);
    std::vector<std::uint8_t> out(n + 8);
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
    for (auto _ : state) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int moved = 0, last = 0;
        bool ok = ctx != nullptr && EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv.data()) == 1 &&
                  EVP_EncryptUpdate(ctx, out.data(), &moved, plain.data(), static_cast<int>(n)) == 1 &&
                  EVP_EncryptFinal_ex(ctx, out.data() + moved, &last) == 1;
        EVP_CIPHER_CTX_free(ctx);
        benchmark::DoNotOptimize(out.data());
        if (!ok) state.SkipWithError("encryption failed");
    }
    EVP_CIPHER_free(cipher);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

std::vector<std::uint8_t> opensslEncrypt(const std::vector<std::uint8_t>& plain, const std::vector<std::uint8_t>& key,
                                         const std::vector<std::uint8_t>& iv) {
    std::vector<std::uint8_t> out(plain.size() + 8);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int moved = 0, last = 0;
    EVP_EncryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, key.data(), iv.data());
    EVP_EncryptUpdate(ctx, out.data(), &moved, plain.data(), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx, out.data() + moved, &last);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<std::size_t>(moved + last));
    return out;
}

void decryptCorvane(benchmark::State& state, std::size_t n) {
    auto key = randomBytes(24, 1), iv = randomBytes(8, 2);
    auto cipher = opensslEncrypt(randomBytes(n, n), key, iv);
    Ref<NSData> data = make_ref<NSData>(cipher.data(), cipher.size());
    Ref<NSData> keyData = make_ref<NSData>(key.data(), key.size());
    Ref<NSData> ivData = make_ref<NSData>(iv.data(), iv.size());
    for (auto _ : state) {
        std::int32_t error = 0;
        Ref<NSData> out = QVDes3::createDes3DecryptData(data.get(), keyData.get(), ivData.get(), &error);
        benchmark::DoNotOptimize(out.get());
        if (!out) state.SkipWithError("decryption failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void decryptOpenSsl(benchmark::State& state, std::size_t n) {
    auto key = randomBytes(24, 1), iv = randomBytes(8, 2);
    auto cipher = opensslEncrypt(randomBytes(n, n), key, iv);
    std::vector<std::uint8_t> out(cipher.size());
    EVP_CIPHER* evp = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
    for (auto _ : state) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int moved = 0, last = 0;
        bool ok = ctx != nullptr && EVP_DecryptInit_ex(ctx, evp, nullptr, key.data(), iv.data()) == 1 &&
                  EVP_DecryptUpdate(ctx, out.data(), &moved, cipher.data(), static_cast<int>(cipher.size())) == 1 &&
                  EVP_DecryptFinal_ex(ctx, out.data() + moved, &last) == 1;
        EVP_CIPHER_CTX_free(ctx);
        benchmark::DoNotOptimize(out.data());
        if (!ok) state.SkipWithError("decryption failed");
    }
    EVP_CIPHER_free(evp);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

// The tier the library runs on: CORVANE_CPU as set, or the widest.
const bool kTierNoted = [] {
    const char* tier = std::getenv("CORVANE_CPU");
    benchmark::AddCustomContext("CORVANE_CPU", tier != nullptr ? tier : "unset (widest path)");
    return true;
}();

}  // namespace

BENCHMARK_CAPTURE(decryptCorvane, 1KiB, kKiB)->Name("decrypt/1KiB/corvane");
BENCHMARK_CAPTURE(decryptOpenSsl, 1KiB, kKiB)->Name("decrypt/1KiB/openssl");
BENCHMARK_CAPTURE(decryptCorvane, 1MiB, kMiB)->Name("decrypt/1MiB/corvane")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decryptOpenSsl, 1MiB, kMiB)->Name("decrypt/1MiB/openssl")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encryptCorvane, 1KiB, kKiB)->Name("encrypt/1KiB/corvane");
BENCHMARK_CAPTURE(encryptOpenSsl, 1KiB, kKiB)->Name("encrypt/1KiB/openssl");
BENCHMARK_CAPTURE(encryptCorvane, 1MiB, kMiB)->Name("encrypt/1MiB/corvane")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encryptOpenSsl, 1MiB, kMiB)->Name("encrypt/1MiB/openssl")->Unit(benchmark::kMillisecond);
