// Triple-DES CBC with PKCS #7 padding, both ways, beside OpenSSL's EVP
// DES-EDE3-CBC at 1 KiB and 1 MiB, in three layers:
//
//  encrypt/, decrypt/         the cipher call CCCrypt (decryption on the
//                             bitsliced engine's widest available path,
//                             encryption through EVP), into a buffer
//                             allocated outside the timed loop, as OpenSSL's;
//  decrypt-<path>/            the engine forced onto one path (portable,
//                             avx2, avx512: those this CPU has), with the
//                             padding check CCCrypt adds;
//  qvdes3-encrypt/, -decrypt/ QVDes3 as applications call it: each call
//                             prepares its key and IV areas, allocates and
//                             wipes its working buffer and returns a new data
//                             object (at 1 MiB, two fresh mebibytes whose
//                             page faults cost more than the cipher).
//
// OpenSSL gets its cipher fetched once and writes into a buffer allocated
// outside the timed loop; like CCCrypt's encryption it makes one cipher
// context per message. Linked against the static test archive, which holds
// the internal names the shared library does not export.
#include <Corvane/Foundation.h>
#include <Corvane/QVDes3.h>
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "CommonCrypto.h"
#include "des/des3_engine.h"

using corvane::make_ref;
using corvane::NSData;
using corvane::QVDes3;
using corvane::Ref;
using corvane::des::DesPath;

namespace {

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * 1024;
using Bytes = std::vector<std::uint8_t>;

Bytes randomBytes(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

const Bytes kKey = randomBytes(24, 1), kIv = randomBytes(8, 2);

// n plaintext bytes padded and encrypted: the input of the decryptions.
Bytes ciphertextOf(std::size_t n) {
    const Bytes plain = randomBytes(n, n);
    Bytes out(n + 8);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int moved = 0, last = 0;
    EVP_EncryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, kKey.data(), kIv.data());
    EVP_EncryptUpdate(ctx, out.data(), &moved, plain.data(), static_cast<int>(n));
    EVP_EncryptFinal_ex(ctx, out.data() + moved, &last);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<std::size_t>(moved + last));
    return out;
}

void openssl(benchmark::State& state, std::size_t n, bool encrypt) {
    const Bytes in = encrypt ? randomBytes(n, n) : ciphertextOf(n);
    Bytes out(in.size() + 8);
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
    for (auto _ : state) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int moved = 0, last = 0;
        bool ok = ctx != nullptr &&
                  EVP_CipherInit_ex(ctx, cipher, nullptr, kKey.data(), kIv.data(), encrypt ? 1 : 0) == 1 &&
                  EVP_CipherUpdate(ctx, out.data(), &moved, in.data(), static_cast<int>(in.size())) == 1 &&
                  EVP_CipherFinal_ex(ctx, out.data() + moved, &last) == 1;
        EVP_CIPHER_CTX_free(ctx);
        benchmark::DoNotOptimize(out.data());
        if (!ok) state.SkipWithError("OpenSSL failed");
    }
    EVP_CIPHER_free(cipher);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void cccrypt(benchmark::State& state, std::size_t n, bool encrypt) {
    const Bytes in = encrypt ? randomBytes(n, n) : ciphertextOf(n);
    Bytes out(in.size() + 8);
    for (auto _ : state) {
        std::size_t moved = 0;
        const CCCryptorStatus status =
            CCCrypt(encrypt ? kCCEncrypt : kCCDecrypt, kCCAlgorithm3DES, kCCOptionPKCS7Padding, kKey.data(), 24,
                    kIv.data(), in.data(), in.size(), out.data(), out.size(), &moved);
        benchmark::DoNotOptimize(out.data());
        if (status != kCCSuccess) state.SkipWithError("CCCrypt failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

// The engine on one path, with the padding check's work (the last block
// apart) as CCCrypt does it.
void enginePath(benchmark::State& state, std::size_t n, DesPath path) {
    if (!corvane::des::des_path_available(path)) {
        state.SkipWithError("path not available on this CPU");
        return;
    }
    const Bytes in = ciphertextOf(n);
    Bytes out(in.size());
    std::uint8_t last[8];
    for (auto _ : state) {
        corvane::des::des3_decrypt(path, kKey.data(), kIv.data(), in.data(), out.data(), in.size() / 8, last);
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(last);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void qvdes3(benchmark::State& state, std::size_t n, bool encrypt) {
    const Bytes in = encrypt ? randomBytes(n, n) : ciphertextOf(n);
    Ref<NSData> data = make_ref<NSData>(in.data(), in.size());
    Ref<NSData> keyData = make_ref<NSData>(kKey.data(), kKey.size());
    Ref<NSData> ivData = make_ref<NSData>(kIv.data(), kIv.size());
    for (auto _ : state) {
        std::int32_t error = 0;
        Ref<NSData> out = encrypt ? QVDes3::createDes3EncryptData(data.get(), keyData.get(), ivData.get(), &error)
                                  : QVDes3::createDes3DecryptData(data.get(), keyData.get(), ivData.get(), &error);
        benchmark::DoNotOptimize(out.get());
        if (!out) state.SkipWithError("QVDes3 failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void add(const std::string& name, std::size_t n, void (*fn)(benchmark::State&, std::size_t, bool), bool encrypt) {
    auto* b = benchmark::RegisterBenchmark(name.c_str(), fn, n, encrypt);
    if (n == kMiB) b->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
    const char* tier = std::getenv("CORVANE_CPU");
    benchmark::AddCustomContext("CORVANE_CPU", tier != nullptr ? tier : "unset (widest path)");
    benchmark::AddCustomContext("triple-DES decryption path",
                                std::string(corvane::des::des_path_name(corvane::des::des_default_path())));
    // 64 bytes: a short message, which costs a decryption pass as much as 512
    // blocks do.
    for (std::size_t n : {std::size_t{64}, kKiB, kMiB}) {
        const std::string size = n == 64 ? "64B" : n == kKiB ? "1KiB" : "1MiB";
        for (bool encrypt : {false, true}) {
            const std::string op = encrypt ? "encrypt" : "decrypt";
            add(op + "/" + size + "/corvane", n, cccrypt, encrypt);
            add(op + "/" + size + "/openssl", n, openssl, encrypt);
            add("qvdes3-" + op + "/" + size + "/corvane", n, qvdes3, encrypt);
            add("qvdes3-" + op + "/" + size + "/openssl", n, openssl, encrypt);
        }
        for (DesPath path : {DesPath::portable, DesPath::avx2, DesPath::avx512}) {
            if (!corvane::des::des_path_available(path)) continue;
            const std::string name = "decrypt-" + std::string(corvane::des::des_path_name(path)) + "/" + size;
            auto* ours = benchmark::RegisterBenchmark((name + "/corvane").c_str(), enginePath, n, path);
            add(name + "/openssl", n, openssl, false);
            if (n == kMiB) ours->Unit(benchmark::kMillisecond);
        }
    }
    return true;
}();

}  // namespace
