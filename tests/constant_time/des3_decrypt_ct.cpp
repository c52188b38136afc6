// Constant-time check of triple-DES decryption, run under valgrind memcheck
// (see tests/CMakeLists.txt): the key is marked undefined, so memcheck
// reports every conditional jump and every memory address that depends on
// it. CCCrypt decrypts, with and without padding, in CBC and ECB, messages of
// one block up to past a kernel's full pass, on the path CORVANE_CPU selects;
// a run without reports shows that no branch and no index of the engine, its
// key schedule or the padding check depends on the key (the padding verdict
// and length are declared public where CCCrypt returns them). The results
// are made defined again and compared with OpenSSL's, computed beforehand.
//
// With --control it instead decrypts through OpenSSL's DES, which indexes
// its S-box tables with key-dependent values: a control that the marking
// reaches the cipher, registered as a test that must see reports.
#include <openssl/evp.h>
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>

#include "CommonCrypto.h"
#include "des3_support.h"
#include "test_support.h"

using corvane::test::Bytes;

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
    std::printf("%s\n", failures == 0 ? "all decryptions right" : "wrong decryptions");
    return failures == 0 ? 0 : 1;
}
