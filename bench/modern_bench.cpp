// The modern layer's overhead over the legacy calls it stands on: MD5 of
// 1 KiB, Base64 encoding and decoding of 1 KiB, and RSA-1024 encryption
// (from a pool seeded once, and with a fresh pool per call as QVSimpleRSA
// does); and loading a 1024-bit private key, checks included, beside
// OpenSSL's own load. Each case runs the legacy call ("corvane") and the modern one
// ("modern") in the same binary, so the printed ratio is modern time /
// legacy time: 1.00x is no overhead, 1.05x is 5%.
//
// The legacy side is measured as applications call it: Base64 results go to
// an autorelease pool drained once per iteration; the modern side needs none.
// The streaming objects are measured the same way against the one-shot
// functions at 1 MiB (case "*-stream/1MiB": "corvane" is the one-shot call,
// "stream" the object fed in 64 KiB pieces; ratio = stream time / one-shot
// time), both allocating their results and writing into warm memory.
//
// The differences sought are a few percent, so on a shared machine run with
// --benchmark_enable_random_interleaving=true --benchmark_repetitions=20,
// which spreads the machine's drift over both sides.
#include <Corvane/Foundation.h>
#include <Corvane/QVGTMBase64.h>
#include <Corvane/QVSimpleRSA.h>
#include <Corvane/keys.h>
#include <Corvane/md5.h>
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace cv = corvane::v1;

namespace {

std::vector<std::uint8_t> randomBytes(std::size_t n) {
    std::mt19937_64 rng(n);
    std::vector<std::uint8_t> b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

const std::vector<std::uint8_t> kKiB = randomBytes(1024);

// A 1024-bit public key from OpenSSL, through the key reader.
const R_RSA_PUBLIC_KEY& publicKey1024() {
    static const R_RSA_PUBLIC_KEY key = [] {
        EVP_PKEY* pkey = EVP_RSA_gen(1024);
        BIO* bio = BIO_new(BIO_s_mem());
        if (pkey == nullptr || bio == nullptr || PEM_write_bio_PUBKEY(bio, pkey) != 1) std::abort();
        char* pem = nullptr;
        long length = BIO_get_mem_data(bio, &pem);
        R_RSA_PUBLIC_KEY record;
        if (!corvane::loadRsaPublicKey(std::string_view(pem, static_cast<std::size_t>(length)), record))
            std::abort();
        BIO_free(bio);
        EVP_PKEY_free(pkey);
        return record;
    }();
    return key;
}

// A short message, as QVSimpleRSA encrypts: a key or a PIN.
const std::vector<std::uint8_t> kMessage(32, 0x5A);

// ---- MD5 ------------------------------------------------------------------

void md5Legacy(benchmark::State& state) {
    unsigned char digest[16];
    for (auto _ : state) {
        MD5_CTX ctx;
        QvMD5Init(&ctx);
        QvMD5Update(&ctx, kKiB.data(), static_cast<std::uint32_t>(kKiB.size()));
        QvMD5Final(digest, &ctx);
        benchmark::DoNotOptimize(digest);
    }
}

void md5Modern(benchmark::State& state) {
    for (auto _ : state) {
        cv::Md5::Digest digest = cv::md5(kKiB);
        benchmark::DoNotOptimize(digest);
    }
}

// ---- Base64 ---------------------------------------------------------------

void encodeLegacy(benchmark::State& state) {
    for (auto _ : state) {
        corvane::NSAutoreleasePool pool;
        auto* text = corvane::QVGTMBase64::encodeBytes(kKiB.data(), kKiB.size());
        benchmark::DoNotOptimize(text);
    }
}

void encodeModern(benchmark::State& state) {
    for (auto _ : state) {
        std::string text = cv::base64Encode(kKiB);
        benchmark::DoNotOptimize(text);
    }
}

const std::string kKiBText = cv::base64Encode(kKiB);

void decodeLegacy(benchmark::State& state) {
    for (auto _ : state) {
        corvane::NSAutoreleasePool pool;
        auto* bytes = corvane::QVGTMBase64::decodeBytes(kKiBText.data(), kKiBText.size());
        benchmark::DoNotOptimize(bytes);
    }
}

void decodeModern(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<std::uint8_t> bytes = cv::base64Decode(kKiBText);
        benchmark::DoNotOptimize(bytes);
    }
}

// ---- RSA-1024 encryption ----------------------------------------------------

void encryptLegacy(benchmark::State& state) {
    const R_RSA_PUBLIC_KEY& key = publicKey1024();
    R_RANDOM_STRUCT pool;
    QV_R_RandomCreate(&pool);
    unsigned char block[MAX_RSA_MODULUS_LEN];
    std::uint32_t blockLen = 0;
    for (auto _ : state) {
        if (QV_RSAPublicEncrypt(block, &blockLen, kMessage.data(),
                                static_cast<std::uint32_t>(kMessage.size()), &key, &pool) != 0)
            state.SkipWithError("encryption failed");
        benchmark::DoNotOptimize(block);
    }
    QV_R_RandomFinal(&pool);
}

void encryptModern(benchmark::State& state) {
    cv::RsaPublicKey key = cv::RsaPublicKey::fromRecord(publicKey1024());
    cv::RandomPool pool;
    for (auto _ : state) {
        std::vector<std::uint8_t> block = key.encrypt(kMessage, pool);
        benchmark::DoNotOptimize(block);
    }
}

void freshPoolLegacy(benchmark::State& state) {
    corvane::RsaHexKey hex;
    if (corvane::rsaPublicKeyToHex(publicKey1024(), hex)) std::abort();
    corvane::Ref<corvane::QVSimpleRSA> rsa = corvane::make_ref<corvane::QVSimpleRSA>();
    if (rsa->setPublicKey(hex.modulus.c_str(), hex.exponent.c_str()) != 0) std::abort();
    for (auto _ : state) {
        std::int32_t error = 0;
        corvane::Ref<corvane::NSData> block =
            rsa->createEncryptData(kMessage.data(), static_cast<std::int64_t>(kMessage.size()), &error);
        benchmark::DoNotOptimize(block);
    }
}

void freshPoolModern(benchmark::State& state) {
    cv::RsaPublicKey key = cv::RsaPublicKey::fromRecord(publicKey1024());
    for (auto _ : state) {
        std::vector<std::uint8_t> block = key.encrypt(kMessage);
        benchmark::DoNotOptimize(block);
    }
}

// A 1024-bit private key as PKCS #8 PEM from OpenSSL.
// One 1024-bit key as PEM, plain or (PBES2 as OpenSSL writes it: PBKDF2
// with HMAC-SHA256, 2048 iterations, AES-256-CBC) under kBenchPassphrase.
constexpr const char* kBenchPassphrase = "bench";
const std::string& privatePem1024(bool encrypted = false) {
    static const std::array<std::string, 2> pems = [] {
        EVP_PKEY* pkey = EVP_RSA_gen(1024);
        std::string out[2];
        for (int i = 0; i < 2; i++) {
            BIO* bio = BIO_new(BIO_s_mem());
            const EVP_CIPHER* cipher = i == 1 ? EVP_aes_256_cbc() : nullptr;
            if (pkey == nullptr || bio == nullptr ||
                PEM_write_bio_PrivateKey(bio, pkey, cipher, nullptr, 0, nullptr,
                                         const_cast<char*>(kBenchPassphrase)) != 1)
                std::abort();
            char* text = nullptr;
            long length = BIO_get_mem_data(bio, &text);
            out[i].assign(text, static_cast<std::size_t>(length));
            BIO_free(bio);
        }
        EVP_PKEY_free(pkey);
        return std::array<std::string, 2>{out[0], out[1]};
    }();
    return pems[encrypted ? 1 : 0];
}

// Loading a private key with every consistency check (the primes' tests
// dominate), beside OpenSSL's own load of the same PEM, which checks nothing;
// range(0) 1 for the encrypted key (the derivation and the decryption added).
void keyLoadCorvane(benchmark::State& state) {
    const bool encrypted = state.range(0) != 0;
    R_RSA_PRIVATE_KEY key;
    for (auto _ : state) {
        if (!corvane::loadRsaPrivateKey(privatePem1024(encrypted), key, kBenchPassphrase)) std::abort();
        benchmark::DoNotOptimize(key);
    }
}

void keyLoadOpenssl(benchmark::State& state) {
    const std::string& pem = privatePem1024(state.range(0) != 0);
    for (auto _ : state) {
        BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
        EVP_PKEY* pkey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>(kBenchPassphrase));
        if (pkey == nullptr) std::abort();
        benchmark::DoNotOptimize(pkey);
        EVP_PKEY_free(pkey);
        BIO_free(bio);
    }
}

}  // namespace

// ---- streaming objects against the one-shot functions, 1 MiB -----------------

const std::vector<std::uint8_t>& mebibyte() {
    static const std::vector<std::uint8_t> data = randomBytes(1 << 20);
    return data;
}
constexpr std::size_t kPiece = 64 << 10;
const std::string kDes3Key = "0123456789abcdefghijklmn";
const std::string kDes3Iv = "initvect";

// Feeds the input in pieces to update(), then finish(), allocating results.
template <typename Coder, typename Input>
void streamAllocating(benchmark::State& state, Coder& coder, const Input& input, std::size_t piece = kPiece) {
    for (auto _ : state) {
        for (std::size_t at = 0; at < input.size(); at += piece) {
            auto out = coder.update(cv::ByteView(reinterpret_cast<const std::uint8_t*>(input.data()) + at,
                                                 std::min(piece, input.size() - at)));
            benchmark::DoNotOptimize(out.data());
        }
        auto last = coder.finish();
        benchmark::DoNotOptimize(last.data());
    }
}

// The same into one warm buffer.
template <typename Coder, typename Input, typename Out>
void streamWarm(benchmark::State& state, Coder& coder, const Input& input, Out& out, std::size_t piece = kPiece) {
    for (auto _ : state) {
        std::size_t written = 0;
        for (std::size_t at = 0; at < input.size(); at += piece)
            written += coder.update(cv::ByteView(reinterpret_cast<const std::uint8_t*>(input.data()) + at,
                                                 std::min(piece, input.size() - at)),
                                    std::span(out).subspan(written));
        written += coder.finish(std::span(out).subspan(written));
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
}

void encodeOneShot(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(cv::base64Encode(mebibyte()).data());
}
void encodeStream(benchmark::State& state) {
    cv::Base64Encoder encoder;
    streamAllocating(state, encoder, mebibyte());
}
void encodeOneShotWarm(benchmark::State& state) {
    std::string out(cv::base64EncodedSize(mebibyte().size(), cv::Base64Padding::padded), '\0');
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            cv::base64Encode(mebibyte(), out, cv::Base64Alphabet::standard, cv::Base64Padding::padded));
        benchmark::ClobberMemory();
    }
}
void encodeStreamWarm(benchmark::State& state) {
    cv::Base64Encoder encoder;
    std::string out(cv::base64EncodedSize(mebibyte().size(), cv::Base64Padding::padded) + 4, '\0');
    streamWarm(state, encoder, mebibyte(), out);
}

const std::string& mebibyteText() {
    static const std::string text = cv::base64Encode(mebibyte());
    return text;
}
void decodeOneShot(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(cv::base64Decode(mebibyteText()).data());
}
void decodeStream(benchmark::State& state) {
    cv::Base64Decoder decoder;
    streamAllocating(state, decoder, mebibyteText());
}
// The same in one piece, which shows what the cutting into pieces costs.
void decodeStreamOnePiece(benchmark::State& state) {
    cv::Base64Decoder decoder;
    streamAllocating(state, decoder, mebibyteText(), mebibyteText().size());
}
void decodeOneShotWarm(benchmark::State& state) {
    std::vector<std::uint8_t> out(cv::base64DecodedCapacity(mebibyteText().size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            cv::base64Decode(mebibyteText(), out, cv::Base64Alphabet::standard, cv::Base64Padding::padded));
        benchmark::ClobberMemory();
    }
}
void decodeStreamWarm(benchmark::State& state) {
    cv::Base64Decoder decoder;
    std::vector<std::uint8_t> out(cv::base64DecodedCapacity(mebibyteText().size()) + 3);
    streamWarm(state, decoder, mebibyteText(), out);
}

void decodeStreamWarmOnePiece(benchmark::State& state) {
    cv::Base64Decoder decoder;
    std::vector<std::uint8_t> out(cv::base64DecodedCapacity(mebibyteText().size()) + 3);
    streamWarm(state, decoder, mebibyteText(), out, mebibyteText().size());
}

void des3EncryptOneShot(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(cv::des3Encrypt(mebibyte(), kDes3Key, kDes3Iv).data());
}
void des3EncryptStream(benchmark::State& state) {
    cv::Des3Encryptor encryptor(kDes3Key, kDes3Iv);
    streamAllocating(state, encryptor, mebibyte());
}
void des3EncryptOneShotWarm(benchmark::State& state) {
    std::vector<std::uint8_t> out(cv::des3EncryptedSize(mebibyte().size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(cv::des3Encrypt(mebibyte(), kDes3Key, kDes3Iv, out));
        benchmark::ClobberMemory();
    }
}
void des3EncryptStreamWarm(benchmark::State& state) {
    cv::Des3Encryptor encryptor(kDes3Key, kDes3Iv);
    std::vector<std::uint8_t> out(cv::des3EncryptedSize(mebibyte().size()));
    streamWarm(state, encryptor, mebibyte(), out);
}

const std::vector<std::uint8_t>& mebibyteSealed() {
    static const std::vector<std::uint8_t> sealed = cv::des3Encrypt(mebibyte(), kDes3Key, kDes3Iv);
    return sealed;
}
void des3DecryptOneShot(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(cv::des3Decrypt(mebibyteSealed(), kDes3Key, kDes3Iv).data());
}
void des3DecryptStream(benchmark::State& state) {
    cv::Des3Decryptor decryptor(kDes3Key, kDes3Iv);
    streamAllocating(state, decryptor, mebibyteSealed());
}
void des3DecryptOneShotWarm(benchmark::State& state) {
    std::vector<std::uint8_t> out(mebibyteSealed().size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(cv::des3Decrypt(mebibyteSealed(), kDes3Key, kDes3Iv, std::span(out)));
        benchmark::ClobberMemory();
    }
}
void des3DecryptStreamWarm(benchmark::State& state) {
    cv::Des3Decryptor decryptor(kDes3Key, kDes3Iv);
    std::vector<std::uint8_t> out(mebibyteSealed().size() + 8);
    streamWarm(state, decryptor, mebibyteSealed(), out);
}

BENCHMARK(md5Legacy)->Name("md5/1KiB/corvane");
BENCHMARK(md5Modern)->Name("md5/1KiB/modern");
BENCHMARK(encodeLegacy)->Name("base64-encode/1KiB/corvane");
BENCHMARK(encodeModern)->Name("base64-encode/1KiB/modern");
BENCHMARK(decodeLegacy)->Name("base64-decode/1KiB/corvane");
BENCHMARK(decodeModern)->Name("base64-decode/1KiB/modern");
BENCHMARK(encryptLegacy)->Name("rsa-encrypt/1024/corvane");
BENCHMARK(encryptModern)->Name("rsa-encrypt/1024/modern");
BENCHMARK(freshPoolLegacy)->Name("rsa-encrypt-fresh-pool/1024/corvane");
BENCHMARK(freshPoolModern)->Name("rsa-encrypt-fresh-pool/1024/modern");
BENCHMARK(keyLoadCorvane)->Name("key-load/1024/corvane")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(keyLoadOpenssl)->Name("key-load/1024/openssl")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(keyLoadCorvane)->Name("key-load-encrypted/1024/corvane")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(keyLoadOpenssl)->Name("key-load-encrypted/1024/openssl")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(encodeOneShot)->Name("base64-encode-stream/1MiB/corvane");
BENCHMARK(encodeStream)->Name("base64-encode-stream/1MiB/stream");
BENCHMARK(encodeOneShotWarm)->Name("base64-encode-stream-warm/1MiB/corvane");
BENCHMARK(encodeStreamWarm)->Name("base64-encode-stream-warm/1MiB/stream");
BENCHMARK(decodeOneShot)->Name("base64-decode-stream/1MiB/corvane");
BENCHMARK(decodeStream)->Name("base64-decode-stream/1MiB/stream");
BENCHMARK(decodeStreamOnePiece)->Name("base64-decode-stream/1MiB/stream-one-piece");
BENCHMARK(decodeOneShotWarm)->Name("base64-decode-stream-warm/1MiB/corvane");
BENCHMARK(decodeStreamWarmOnePiece)->Name("base64-decode-stream-warm/1MiB/stream-one-piece");
BENCHMARK(decodeStreamWarm)->Name("base64-decode-stream-warm/1MiB/stream");
BENCHMARK(des3EncryptOneShot)->Name("des3-encrypt-stream/1MiB/corvane");
BENCHMARK(des3EncryptStream)->Name("des3-encrypt-stream/1MiB/stream");
BENCHMARK(des3EncryptOneShotWarm)->Name("des3-encrypt-stream-warm/1MiB/corvane");
BENCHMARK(des3EncryptStreamWarm)->Name("des3-encrypt-stream-warm/1MiB/stream");
BENCHMARK(des3DecryptOneShot)->Name("des3-decrypt-stream/1MiB/corvane");
BENCHMARK(des3DecryptStream)->Name("des3-decrypt-stream/1MiB/stream");
BENCHMARK(des3DecryptOneShotWarm)->Name("des3-decrypt-stream-warm/1MiB/corvane");
BENCHMARK(des3DecryptStreamWarm)->Name("des3-decrypt-stream-warm/1MiB/stream");
