// Opening legacy envelopes (an RSA-wrapped triple-DES key and a payload):
// openEnvelope and openEnvelopes beside the same steps written with
// OpenSSL's EVP calls (EVP_PKEY_decrypt with PKCS #1 v1.5 padding, then
// DES-EDE3-CBC with the key's first 8 bytes as IV, both contexts made once),
// and the key unwrap beside the decryptions it is built from.
//
// Rows (ratios are the peer's time over corvane's):
//   open_envelope/BITS/PAYLOAD   one envelope per iteration
//   open_envelopes/BITS/PAYLOAD  64 envelopes per iteration: corvane's batch
//                                call, beside openEnvelope 64 times
//                                (one_at_a_time) and OpenSSL 64 times;
//                                ifma_floor is the IFMA multiply-adds alone
//                                of the batch's exponentiations and of the
//                                check of their results by the public
//                                exponent (no triple DES, nothing else):
//                                where the CPU has IFMA, the least time any
//                                batch built on those products can take
//   decrypt_key/BITS             a 24-byte key: decryptKey beside
//                                decrypt() (report), decrypt() with implicit
//                                rejection, and EVP_PKEY_decrypt
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <Corvane/corvane.hpp>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "bench/support/ifma_floor.h"

namespace cv = corvane::v1;

namespace {

constexpr std::size_t kEnvelopes = 64;

struct Fixture {
    EVP_PKEY* evp = nullptr;
    std::unique_ptr<cv::RsaPrivateKey> key;
    std::vector<cv::Envelope> envelopes;
    std::vector<cv::EnvelopeView> views;
};

// A key made by OpenSSL and envelopes sealed under it, per size.
Fixture& fixture(unsigned bits, std::size_t payload) {
    static std::map<std::pair<unsigned, std::size_t>, Fixture> made;
    Fixture& f = made[{bits, payload}];
    if (f.evp != nullptr) return f;
    f.evp = EVP_RSA_gen(bits);
    unsigned char* der = nullptr;
    const int length = i2d_PrivateKey(f.evp, &der);
    if (length <= 0) throw std::runtime_error("no key");
    f.key = std::make_unique<cv::RsaPrivateKey>(
        cv::RsaPrivateKey::fromEncoded(cv::ByteView(der, static_cast<std::size_t>(length))));
    OPENSSL_free(der);
    cv::RandomPool pool;
    const std::vector<std::uint8_t> message(payload - 1, 0x42);  // one padding byte: payload bytes in all
    for (std::size_t i = 0; i < kEnvelopes; ++i) f.envelopes.push_back(cv::sealEnvelope(f.key->publicKey(), message, pool));
    for (const cv::Envelope& e : f.envelopes) f.views.push_back({e.wrappedKey, e.payload});
    return f;
}

// OpenSSL's steps, with contexts made once.
class OpenSslOpener {
public:
    explicit OpenSslOpener(EVP_PKEY* key)
        : rsa_(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr)), des_(EVP_CIPHER_CTX_new()),
          cipher_(EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr)) {
        if (EVP_PKEY_decrypt_init(rsa_) != 1 || EVP_PKEY_CTX_set_rsa_padding(rsa_, RSA_PKCS1_PADDING) != 1)
            throw std::runtime_error("no decryption");
    }
    ~OpenSslOpener() {
        EVP_CIPHER_free(cipher_);
        EVP_CIPHER_CTX_free(des_);
        EVP_PKEY_CTX_free(rsa_);
    }
    std::size_t unwrap(const std::vector<std::uint8_t>& block, unsigned char* key) {
        std::size_t keyLength = 128;
        if (EVP_PKEY_decrypt(rsa_, key, &keyLength, block.data(), block.size()) != 1) return 0;
        return keyLength;
    }
    std::size_t open(const cv::Envelope& e, std::vector<std::uint8_t>& out) {
        unsigned char key[128];
        if (unwrap(e.wrappedKey, key) != 24) return 0;
        out.resize(e.payload.size());
        int n = 0, tail = 0;
        if (EVP_DecryptInit_ex2(des_, cipher_, key, key, nullptr) != 1 ||
            EVP_DecryptUpdate(des_, out.data(), &n, e.payload.data(), static_cast<int>(e.payload.size())) != 1 ||
            EVP_DecryptFinal_ex(des_, out.data() + n, &tail) != 1)
            return 0;
        OPENSSL_cleanse(key, sizeof key);
        return static_cast<std::size_t>(n + tail);
    }

private:
    EVP_PKEY_CTX* rsa_;
    EVP_CIPHER_CTX* des_;
    EVP_CIPHER* cipher_;
};

void OpenOneCorvane(benchmark::State& state, unsigned bits, std::size_t payload) {
    Fixture& f = fixture(bits, payload);
    std::size_t i = 0;
    for (auto _ : state) {
        const cv::Envelope& e = f.envelopes[i++ % kEnvelopes];
        benchmark::DoNotOptimize(cv::openEnvelope(*f.key, e.wrappedKey, e.payload));
    }
}

void OpenOneOpenSsl(benchmark::State& state, unsigned bits, std::size_t payload) {
    Fixture& f = fixture(bits, payload);
    OpenSslOpener opener(f.evp);
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    for (auto _ : state) {
        if (opener.open(f.envelopes[i++ % kEnvelopes], out) != payload - 1) state.SkipWithError("openssl refused");
        benchmark::DoNotOptimize(out.data());
    }
}

void OpenManyCorvane(benchmark::State& state, unsigned bits, std::size_t payload) {
    Fixture& f = fixture(bits, payload);
    for (auto _ : state) benchmark::DoNotOptimize(cv::openEnvelopes(*f.key, f.views));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEnvelopes));
}

void OpenManyOneAtATime(benchmark::State& state, unsigned bits, std::size_t payload) {
    Fixture& f = fixture(bits, payload);
    for (auto _ : state)
        for (const cv::Envelope& e : f.envelopes) benchmark::DoNotOptimize(cv::openEnvelope(*f.key, e.wrappedKey, e.payload));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEnvelopes));
}

void OpenManyOpenSsl(benchmark::State& state, unsigned bits, std::size_t payload) {
    Fixture& f = fixture(bits, payload);
    OpenSslOpener opener(f.evp);
    std::vector<std::uint8_t> out;
    for (auto _ : state)
        for (const cv::Envelope& e : f.envelopes) {
            opener.open(e, out);
            benchmark::DoNotOptimize(out.data());
        }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEnvelopes));
}

// The lanes' multiply-adds of kEnvelopes checked decryptions: two
// exponentiations each (one per prime), sixteen lanes a call, and the
// check of eight results at a time modulo n.
void OpenManyIfmaFloor(benchmark::State& state, unsigned bits) {
    const std::size_t madds = kEnvelopes / 8 *
                              (corvane_bench::laneMultiplyAdds(bits / 128, 16) +
                               corvane_bench::publicCheckMultiplyAdds(bits / 64));
    for (auto _ : state) corvane_bench::multiplyAdds(madds);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEnvelopes));
}

enum class Unwrap { decryptKey, report, implicit, openssl };

void UnwrapKey(benchmark::State& state, unsigned bits, Unwrap how) {
    Fixture& f = fixture(bits, 256);
    OpenSslOpener opener(f.evp);
    unsigned char key[128];
    std::size_t i = 0;
    for (auto _ : state) {
        const std::vector<std::uint8_t>& block = f.envelopes[i++ % kEnvelopes].wrappedKey;
        switch (how) {
            case Unwrap::decryptKey:
                benchmark::DoNotOptimize(f.key->decryptKey(block, 24));
                break;
            case Unwrap::report:
                benchmark::DoNotOptimize(f.key->decrypt(block));
                break;
            case Unwrap::implicit:
                benchmark::DoNotOptimize(f.key->decrypt(block, cv::RsaRejection::implicit));
                break;
            case Unwrap::openssl:
                benchmark::DoNotOptimize(opener.unwrap(block, key));
                break;
        }
    }
}

const bool registered = [] {
    for (unsigned bits : {512u, 1024u})
        for (std::size_t payload : {std::size_t{256}, std::size_t{4096}}) {
            const std::string size = std::to_string(bits) + "/" + std::to_string(payload);
            benchmark::RegisterBenchmark(("open_envelope/" + size + "/corvane").c_str(), OpenOneCorvane, bits, payload);
            benchmark::RegisterBenchmark(("open_envelope/" + size + "/openssl").c_str(), OpenOneOpenSsl, bits, payload);
            benchmark::RegisterBenchmark(("open_envelopes/" + size + "/corvane").c_str(), OpenManyCorvane, bits, payload);
            benchmark::RegisterBenchmark(("open_envelopes/" + size + "/one_at_a_time").c_str(), OpenManyOneAtATime, bits,
                                         payload);
            benchmark::RegisterBenchmark(("open_envelopes/" + size + "/openssl").c_str(), OpenManyOpenSsl, bits, payload);
            if (corvane_bench::multiplyAddsRun())
                benchmark::RegisterBenchmark(("open_envelopes/" + size + "/ifma_floor").c_str(), OpenManyIfmaFloor, bits);
        }
    for (unsigned bits : {512u, 1024u}) {
        const std::string row = "decrypt_key/" + std::to_string(bits);
        benchmark::RegisterBenchmark((row + "/corvane").c_str(), UnwrapKey, bits, Unwrap::decryptKey);
        benchmark::RegisterBenchmark((row + "/decrypt").c_str(), UnwrapKey, bits, Unwrap::report);
        benchmark::RegisterBenchmark((row + "/decrypt_implicit").c_str(), UnwrapKey, bits, Unwrap::implicit);
        benchmark::RegisterBenchmark((row + "/openssl").c_str(), UnwrapKey, bits, Unwrap::openssl);
    }
    return true;
}();

}  // namespace
