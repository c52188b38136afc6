// Triple-DES CBC with PKCS #7 padding, both ways, beside OpenSSL's EVP
// DES-EDE3-CBC and Botan's TripleDES/CBC/PKCS7, from 8 B to 1 MiB. Each
// peer makes one call per message as an application would: OpenSSL a
// context per message with the cipher fetched once, Botan one object whose
// key and IV are set per message; all write into buffers allocated outside
// the timed loop. Rows:
//
//  decrypt/, encrypt/          the cipher call CCCrypt (decryption picks the
//                              short-message kernel or bitsliced passes by
//                              length, encryption runs OpenSSL's cipher);
//  decrypt-<path>/             the engine on one path (portable, avx2,
//                              avx512: those this CPU has), by length;
//  decrypt-short/, -bitsliced/ the default path forced onto one engine, for
//                              the length where they cross;
//  encrypt-ct/                 CBC encryption on the constant-time short
//                              kernel (schedule, chain, padding), measured
//                              against OpenSSL to decide the default;
//  qvdes3-*, modern-*          QVDes3 as applications call it (a new data
//                              object per call) and cv::des3Encrypt /
//                              des3Decrypt (a new vector per call);
//  stream-decrypt/             Des3Decryptor fed 4 KiB pieces of 256 KiB,
//                              beside the one-shot call on the whole
//                              ("oneshot": a ratio above 0.9 is within 10%);
//  batch-*/64x256B             des3EncryptBatch / des3DecryptBatch of 64
//                              messages of 256 B, each under its own key,
//                              beside OpenSSL one message at a time.
//
// Run with --benchmark_enable_random_interleaving=true so that the peers'
// repetitions interleave with ours. Linked against the static test archive,
// which holds the internal names the shared library does not export.
#include <Corvane/Foundation.h>
#include <Corvane/QVDes3.h>
#include <Corvane/corvane.hpp>
#include <benchmark/benchmark.h>
#include <botan/cipher_mode.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/des/des3_engine.h"
#include "engine/des/des_short.h"
#include "platform/CommonCrypto.h"

namespace cv = corvane::v1;
using corvane::make_ref;
using corvane::NSData;
using corvane::QVDes3;
using corvane::Ref;
using corvane::des::DesMethod;
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

Bytes opensslCbc(bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& in) {
    Bytes out(in.size() + 8);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int moved = 0, last = 0;
    EVP_CipherInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, key.data(), iv.data(), encrypt ? 1 : 0);
    EVP_CipherUpdate(ctx, out.data(), &moved, in.data(), static_cast<int>(in.size()));
    EVP_CipherFinal_ex(ctx, out.data() + moved, &last);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<std::size_t>(moved + last));
    return out;
}

// n plaintext bytes padded and encrypted: the input of the decryptions.
Bytes ciphertextOf(std::size_t n) { return opensslCbc(true, kKey, kIv, randomBytes(n, n)); }
Bytes inputOf(std::size_t n, bool encrypt) { return encrypt ? randomBytes(n, n) : ciphertextOf(n); }

void setBytes(benchmark::State& state, std::size_t n) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

// ---- peers ----------------------------------------------------------------------

void openssl(benchmark::State& state, std::size_t n, bool encrypt) {
    const Bytes in = inputOf(n, encrypt);
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
    setBytes(state, n);
}

void botan(benchmark::State& state, std::size_t n, bool encrypt) {
    const Bytes in = inputOf(n, encrypt);
    auto mode = Botan::Cipher_Mode::create_or_throw("TripleDES/CBC/PKCS7",
                                                    encrypt ? Botan::ENCRYPTION : Botan::DECRYPTION);
    Botan::secure_vector<std::uint8_t> buffer;
    buffer.reserve(in.size() + 8);
    for (auto _ : state) {
        mode->set_key(kKey.data(), kKey.size());
        mode->start(kIv.data(), kIv.size());
        buffer.assign(in.begin(), in.end());
        mode->finish(buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    setBytes(state, n);
}

// ---- ours -----------------------------------------------------------------------

void cccrypt(benchmark::State& state, std::size_t n, bool encrypt) {
    const Bytes in = inputOf(n, encrypt);
    Bytes out(in.size() + 8);
    for (auto _ : state) {
        std::size_t moved = 0;
        const CCCryptorStatus status =
            CCCrypt(encrypt ? kCCEncrypt : kCCDecrypt, kCCAlgorithm3DES, kCCOptionPKCS7Padding, kKey.data(), 24,
                    kIv.data(), in.data(), in.size(), out.data(), out.size(), &moved);
        benchmark::DoNotOptimize(out.data());
        if (status != kCCSuccess) state.SkipWithError("CCCrypt failed");
    }
    setBytes(state, n);
}

// The engine on one path and method, with the last block apart as CCCrypt
// takes it for the padding check.
void engine(benchmark::State& state, std::size_t n, DesPath path, DesMethod method) {
    if (!corvane::des::des_path_available(path)) {
        state.SkipWithError("path not available on this CPU");
        return;
    }
    const Bytes in = ciphertextOf(n);
    Bytes out(in.size());
    std::uint8_t last[8];
    for (auto _ : state) {
        corvane::des::des3_decrypt(path, kKey.data(), kIv.data(), in.data(), out.data(), in.size() / 8, last, method);
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(last);
    }
    setBytes(state, n);
}

// CBC encryption with padding on the short kernel: what CCCrypt would do
// with it as its encryption.
void encryptConstantTime(benchmark::State& state, std::size_t n, bool) {
    const Bytes in = randomBytes(n, n);
    Bytes out(n + 8);
    const corvane::des::ShortKernel& kernel = corvane::des::des_short_kernel(corvane::des::des_default_path());
    for (auto _ : state) {
        corvane::des::ShortSchedule schedule;
        kernel.schedule(kKey.data(), corvane::des::Direction::encrypt, schedule);
        std::uint8_t chain[8], tail[8];
        std::memcpy(chain, kIv.data(), 8);
        const std::size_t whole = n / 8 * 8;
        kernel.encrypt(schedule, chain, in.data(), out.data(), whole / 8);
        std::memcpy(tail, in.data() + whole, n - whole);
        std::memset(tail + (n - whole), static_cast<int>(8 - (n - whole)), 8 - (n - whole));
        kernel.encrypt(schedule, chain, tail, out.data() + whole, 1);
        corvane::des::scrub_short_stack();
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, n);
}

void qvdes3(benchmark::State& state, std::size_t n, bool encrypt) {
    const Bytes in = inputOf(n, encrypt);
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
    setBytes(state, n);
}

void modern(benchmark::State& state, std::size_t n, bool encrypt) {
    const Bytes in = inputOf(n, encrypt);
    for (auto _ : state) {
        Bytes out = encrypt ? cv::des3Encrypt(in, kKey, kIv) : cv::des3Decrypt(in, kKey, kIv);
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, n);
}

void modernSpan(benchmark::State& state, std::size_t n, bool encrypt) {
    const Bytes in = inputOf(n, encrypt);
    Bytes out(in.size() + 8);
    for (auto _ : state) {
        benchmark::DoNotOptimize(encrypt ? cv::des3Encrypt(in, kKey, kIv, out) : cv::des3Decrypt(in, kKey, kIv, out));
    }
    setBytes(state, n);
}

// ---- streams and batches ----------------------------------------------------------

constexpr std::size_t kStreamSize = 256 * kKiB;
constexpr std::size_t kPiece = 4 * kKiB;

void streamDecrypt(benchmark::State& state, std::size_t n, bool) {
    const Bytes in = ciphertextOf(n);
    Bytes out(in.size());
    cv::Des3Decryptor decryptor(kKey, kIv);
    for (auto _ : state) {
        std::size_t written = 0;
        for (std::size_t at = 0; at < in.size(); at += kPiece) {
            const std::size_t piece = std::min(kPiece, in.size() - at);
            written += decryptor.update(cv::ByteView(in.data() + at, piece), std::span(out).subspan(written));
        }
        written += decryptor.finish(std::span(out).subspan(written));
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, n);
}

void oneShotDecrypt(benchmark::State& state, std::size_t n, bool) {
    const Bytes in = ciphertextOf(n);
    Bytes out(in.size());
    for (auto _ : state) benchmark::DoNotOptimize(cv::des3Decrypt(in, kKey, kIv, std::span(out)));
    setBytes(state, n);
}

constexpr std::size_t kBatchItems = 64;
constexpr std::size_t kBatchSize = 256;

struct BatchInput {
    std::vector<Bytes> keys, ivs, data;
    std::vector<cv::Des3BatchItem> items;
    explicit BatchInput(bool encrypt) {
        for (std::size_t i = 0; i < kBatchItems; ++i) {
            keys.push_back(randomBytes(24, 100 + i));
            ivs.push_back(randomBytes(8, 200 + i));
            const Bytes plain = randomBytes(kBatchSize, 300 + i);
            data.push_back(encrypt ? plain : opensslCbc(true, keys.back(), ivs.back(), plain));
        }
        for (std::size_t i = 0; i < kBatchItems; ++i) items.push_back({data[i], keys[i], ivs[i]});
    }
};

void batch(benchmark::State& state, std::size_t, bool encrypt) {
    const BatchInput input(encrypt);
    for (auto _ : state) {
        std::vector<cv::BatchResult> results =
            encrypt ? cv::des3EncryptBatch(input.items) : cv::des3DecryptBatch(input.items);
        benchmark::DoNotOptimize(results.data());
        if (results.back().error) state.SkipWithError("batch item refused");
    }
    setBytes(state, kBatchItems * kBatchSize);
}

void batchOpenssl(benchmark::State& state, std::size_t, bool encrypt) {
    const BatchInput input(encrypt);
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
    Bytes out(kBatchSize + 8);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kBatchItems; ++i) {
            EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
            int moved = 0, last = 0;
            EVP_CipherInit_ex(ctx, cipher, nullptr, input.keys[i].data(), input.ivs[i].data(), encrypt ? 1 : 0);
            EVP_CipherUpdate(ctx, out.data(), &moved, input.data[i].data(), static_cast<int>(input.data[i].size()));
            EVP_CipherFinal_ex(ctx, out.data() + moved, &last);
            EVP_CIPHER_CTX_free(ctx);
            benchmark::DoNotOptimize(out.data());
        }
    }
    EVP_CIPHER_free(cipher);
    setBytes(state, kBatchItems * kBatchSize);
}

// ---- registration -------------------------------------------------------------------

using Body = void (*)(benchmark::State&, std::size_t, bool);

std::string sizeName(std::size_t n) {
    if (n >= kMiB) return std::to_string(n / kMiB) + "MiB";
    if (n >= kKiB) return std::to_string(n / kKiB) + "KiB";
    return std::to_string(n) + "B";
}

void add(const std::string& name, std::size_t n, Body body, bool encrypt) {
    auto* b = benchmark::RegisterBenchmark(name.c_str(), body, n, encrypt);
    if (n >= kMiB) b->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
    const char* tier = std::getenv("CORVANE_CPU");
    const DesPath path = corvane::des::des_default_path();
    benchmark::AddCustomContext("CORVANE_CPU", tier != nullptr ? tier : "unset (widest path)");
    benchmark::AddCustomContext("triple-DES decryption path", std::string(corvane::des::des_path_name(path)));
    benchmark::AddCustomContext("short-message limit (blocks)", std::to_string(corvane::des::des_short_limit(path)));
    const std::size_t sizes[] = {8, 16, 64, 128, 256, 512, kKiB, 2 * kKiB, 4 * kKiB, 16 * kKiB, kMiB};
    for (std::size_t n : sizes) {
        const std::string size = sizeName(n);
        for (bool encrypt : {false, true}) {
            const std::string op = encrypt ? "encrypt" : "decrypt";
            add(op + "/" + size + "/corvane", n, cccrypt, encrypt);
            add(op + "/" + size + "/openssl", n, openssl, encrypt);
            add(op + "/" + size + "/botan", n, botan, encrypt);
            add("qvdes3-" + op + "/" + size + "/corvane", n, qvdes3, encrypt);
            add("qvdes3-" + op + "/" + size + "/openssl", n, openssl, encrypt);
            add("modern-" + op + "/" + size + "/corvane", n, modern, encrypt);
            add("modern-" + op + "/" + size + "/openssl", n, openssl, encrypt);
            add("modern-span-" + op + "/" + size + "/corvane", n, modernSpan, encrypt);
            add("modern-span-" + op + "/" + size + "/openssl", n, openssl, encrypt);
        }
        add("encrypt-ct/" + size + "/corvane", n, encryptConstantTime, true);
        add("encrypt-ct/" + size + "/openssl", n, openssl, true);
        for (DesMethod method : {DesMethod::shortKernel, DesMethod::bitsliced}) {
            const std::string name =
                std::string("decrypt-") + (method == DesMethod::shortKernel ? "short" : "bitsliced") + "/" + size;
            auto* b = benchmark::RegisterBenchmark((name + "/corvane").c_str(), engine, n, path, method);
            if (n >= kMiB) b->Unit(benchmark::kMillisecond);
            add(name + "/openssl", n, openssl, false);
        }
        for (DesPath p : {DesPath::portable, DesPath::avx2, DesPath::avx512}) {
            if (!corvane::des::des_path_available(p)) continue;
            const std::string name = "decrypt-" + std::string(corvane::des::des_path_name(p)) + "/" + size;
            auto* b = benchmark::RegisterBenchmark((name + "/corvane").c_str(), engine, n, p, DesMethod::byLength);
            if (n >= kMiB) b->Unit(benchmark::kMillisecond);
            add(name + "/openssl", n, openssl, false);
        }
    }
    add("stream-decrypt/256KiB/corvane", kStreamSize, streamDecrypt, false);
    add("stream-decrypt/256KiB/oneshot", kStreamSize, oneShotDecrypt, false);
    for (bool encrypt : {false, true}) {
        const std::string name = std::string("batch-") + (encrypt ? "encrypt" : "decrypt") + "/64x256B";
        add(name + "/corvane", 0, batch, encrypt);
        add(name + "/openssl", 0, batchOpenssl, encrypt);
    }
    return true;
}();

}  // namespace
