// Constant-time check of triple-DES decryption, run under valgrind memcheck
// (see tests/CMakeLists.txt): the key and the ciphertext are marked
// undefined, so memcheck reports every conditional jump and every memory
// address that depends on them. CCCrypt decrypts, with and without padding,
// in CBC and ECB, messages of one block (the short-message kernel) up to
// past a kernel's full pass (bitsliced passes and a short remainder), on the
// path CORVANE_CPU selects; then des3DecryptBatch and des3EncryptBatch run
// messages of several lengths, each under its own undefined key, through
// the short kernel's lanes, and the kernel's own CBC encryption runs one
// chain. A run without reports shows that no branch and no index of the
// engines, their key schedules or the padding checks depends on the keys or
// the data (the padding verdicts and lengths are declared public where they
// are returned). The results are made defined again and compared with
// OpenSSL's, computed beforehand.
//
// With --control it instead decrypts through OpenSSL's DES, which indexes
// its S-box tables with key-dependent values: a control that the marking
// reaches the cipher, registered as a test that must see reports.
#include <openssl/evp.h>
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>

#include <Corvane/corvane.hpp>

#include "engine/des/des3_engine.h"
#include "platform/CommonCrypto.h"
#include "tests/support/des3_support.h"
#include "tests/support/test_support.h"

using corvane::test::Bytes;

namespace cv = corvane::v1;

// Batches both ways, keys and data undefined, and the short kernel's own
// CBC encryption of one chain.
bool batches(corvane::test::Rng& rng) {
    bool right = true;
    std::vector<Bytes> keys, ivs, plains, sealed;
    for (std::size_t length : {0u, 5u, 8u, 100u, 700u}) {
        keys.push_back(rng.bytes(24));
        ivs.push_back(rng.bytes(8));
        plains.push_back(rng.bytes(length));
        sealed.push_back(*corvane::test::opensslDes3(true, keys.back(), ivs.back(), plains.back(), true));
    }
    for (bool decrypt : {true, false}) {
        std::vector<cv::Des3BatchItem> items;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            Bytes& data = decrypt ? sealed[i] : plains[i];
            VALGRIND_MAKE_MEM_UNDEFINED(keys[i].data(), keys[i].size());
            VALGRIND_MAKE_MEM_UNDEFINED(data.data(), data.size());
            items.push_back({data, keys[i], ivs[i]});
        }
        std::vector<cv::BatchResult> results = decrypt ? cv::des3DecryptBatch(items) : cv::des3EncryptBatch(items);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            VALGRIND_MAKE_MEM_DEFINED(keys[i].data(), keys[i].size());
            VALGRIND_MAKE_MEM_DEFINED(plains[i].data(), plains[i].size());
            VALGRIND_MAKE_MEM_DEFINED(sealed[i].data(), sealed[i].size());
            VALGRIND_MAKE_MEM_DEFINED(results[i].bytes.data(), results[i].bytes.size());
            if (results[i].error || results[i].bytes != (decrypt ? plains[i] : sealed[i])) {
                std::fprintf(stderr, "wrong batch result: item %zu, decrypt %d\n", i, decrypt);
                right = false;
            }
        }
    }
    const corvane::des::ShortKernel& kernel = corvane::des::des_short_kernel(corvane::des::des_default_path());
    Bytes key = rng.bytes(24), chain = rng.bytes(8), plain = rng.bytes(40), out(40);
    const auto expected = corvane::test::opensslDes3(true, key, chain, plain, false);
    VALGRIND_MAKE_MEM_UNDEFINED(key.data(), key.size());
    VALGRIND_MAKE_MEM_UNDEFINED(plain.data(), plain.size());
    corvane::des::ShortSchedule schedule;
    kernel.schedule(key.data(), corvane::des::Direction::encrypt, schedule);
    kernel.encrypt(schedule, chain.data(), plain.data(), out.data(), 5);
    VALGRIND_MAKE_MEM_DEFINED(out.data(), out.size());
    if (!expected || out != *expected) {
        std::fprintf(stderr, "wrong chain encryption\n");
        right = false;
    }
    return right;
}

int main(int argc, char** argv) {
    const bool control = argc > 1 && std::strcmp(argv[1], "--control") == 0;
    corvane::test::Rng rng(46);
    int failures = 0;
    for (std::size_t length : {8u, 16u, 520u, 4104u}) {
        for (bool ecb : {false, true}) {
            for (bool padding : {false, true}) {
                Bytes key = rng.bytes(24);
                const Bytes iv = rng.bytes(8), plain = rng.bytes(padding ? length - 3 : length);
                auto cipher = corvane::test::opensslDes3(true, key, ecb ? Bytes{} : iv, plain, padding);
                if (!cipher) return 2;
                Bytes out(cipher->size());
                std::size_t moved = 0;
                VALGRIND_MAKE_MEM_UNDEFINED(key.data(), key.size());
                if (!control) VALGRIND_MAKE_MEM_UNDEFINED(cipher->data(), cipher->size());
                if (control) {
                    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
                    int n = 0;
                    EVP_DecryptInit_ex(ctx, ecb ? EVP_des_ede3_ecb() : EVP_des_ede3_cbc(), nullptr, key.data(),
                                       iv.data());
                    EVP_CIPHER_CTX_set_padding(ctx, 0);
                    EVP_DecryptUpdate(ctx, out.data(), &n, cipher->data(), static_cast<int>(cipher->size()));
                    EVP_CIPHER_CTX_free(ctx);
                    return 0;
                }
                const CCCryptorStatus status =
                    CCCrypt(kCCDecrypt, kCCAlgorithm3DES,
                            (ecb ? kCCOptionECBMode : 0) | (padding ? kCCOptionPKCS7Padding : 0), key.data(), 24,
                            iv.data(), cipher->data(), cipher->size(), out.data(), out.size(), &moved);
                VALGRIND_MAKE_MEM_DEFINED(out.data(), out.size());
                VALGRIND_MAKE_MEM_DEFINED(&moved, sizeof moved);
                VALGRIND_MAKE_MEM_DEFINED(&status, sizeof status);
                out.resize(moved);
                if (status != kCCSuccess || out != plain) {
                    std::fprintf(stderr, "wrong result: %zu bytes, ecb %d, padding %d\n", length, ecb, padding);
                    ++failures;
                }
            }
        }
    }
    if (!batches(rng)) ++failures;
    std::printf("%s\n", failures == 0 ? "all decryptions right" : "wrong decryptions");
    return failures == 0 ? 0 : 1;
}
