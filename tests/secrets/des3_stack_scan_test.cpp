// After a triple-DES decryption through CCCrypt returns, or a batch of
// messages through the short kernel's lanes, or a stream's pieces, the stack
// below the caller must hold no piece of a key or of a plaintext: the
// engines' schedules and buffers are wiped where they are declared, the
// entry points scrub the stack their kernels used, and this scan looks for
// what the compiler may have spilled besides (the vector kernels keep whole
// blocks in registers). The operation runs from one fixed frame
// over stack painted beforehand; then the dead stack is copied out and
// searched for every 16-byte window of the key and of the plaintext. 16
// random bytes never match by chance; any hit is a leak.
//
// Runs on whichever tier CORVANE_CPU selects. Under AddressSanitizer or
// ThreadSanitizer locals live in the sanitizer's own frames: it skips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_set>

#include <Corvane/corvane.hpp>

#include "engine/des/des3_engine.h"
#include "platform/CommonCrypto.h"
#include "tests/support/dead_stack.h"
#include "tests/support/test_support.h"

using namespace corvane::test;
using dead_stack::kScanBytes;

namespace {

constexpr std::size_t kWindow = 16;

// Offsets in the dead stack where some 16-byte window of a secret lies.
[[maybe_unused]] std::size_t hits(const Bytes& stack, const std::vector<Bytes>& secrets) {
    std::unordered_set<std::string> windows;
    for (const Bytes& s : secrets)
        for (std::size_t i = 0; i + kWindow <= s.size(); ++i)
            windows.emplace(reinterpret_cast<const char*>(s.data() + i), kWindow);
    std::size_t found = 0;
    for (std::size_t i = 0; i + kWindow <= stack.size(); ++i)
        found += windows.count(std::string(reinterpret_cast<const char*>(stack.data() + i), kWindow));
    return found;
}

TEST(Des3StackScan, NoKeyOrPlaintextLeftBelowTheCaller) {
#ifdef CORVANE_STACK_SCAN_SKIPPED
    GTEST_SKIP() << "locals live in the sanitizer's frames";
#else
    Rng rng(2222);
    // Short and long messages: the padded single pass, and full passes with
    // the final one delivered apart for the padding check.
    for (std::size_t blocks : {1u, 7u, 64u, 300u, 513u, 1100u}) {
        const Bytes key = rng.bytes(24), iv = rng.bytes(8), cipher = rng.bytes(blocks * 8);
        Bytes plain(cipher.size());
        for (CCOptions options : {CCOptions{0}, CCOptions{kCCOptionPKCS7Padding}}) {
            const Bytes stack = dead_stack::after([&] {
                std::size_t moved = 0;
                (void)CCCrypt(kCCDecrypt, kCCAlgorithm3DES, options, key.data(), key.size(), iv.data(),
                              cipher.data(), cipher.size(), plain.data(), plain.size(), &moved);
            });
            // The plaintext as the engine saw it, bad padding or not.
            Bytes whole(cipher.size());
            corvane::des::des3_decrypt(corvane::des::des_default_path(), key.data(), iv.data(), cipher.data(),
                                       whole.data(), blocks, nullptr);
            EXPECT_EQ(hits(stack, {key, whole}), 0u)
                << blocks << " blocks, options " << options << ", path "
                << corvane::des::des_path_name(corvane::des::des_default_path());
        }
    }
#endif
}

TEST(Des3StackScan, NoKeyOrPlaintextLeftByBatchesOrStreams) {
#ifdef CORVANE_STACK_SCAN_SKIPPED
    GTEST_SKIP() << "locals live in the sanitizer's frames";
#else
    namespace cv = corvane::v1;
    Rng rng(2223);
    std::vector<Bytes> keys, ivs, plains, sealed;
    for (std::size_t length : {3u, 40u, 300u, 2000u}) {
        keys.push_back(rng.bytes(24));
        ivs.push_back(rng.bytes(8));
        plains.push_back(rng.bytes(length));
        sealed.push_back(cv::des3Encrypt(plains.back(), keys.back(), ivs.back()));
    }
    for (bool decrypt : {false, true}) {
        std::vector<cv::Des3BatchItem> items;
        for (std::size_t i = 0; i < keys.size(); ++i) items.push_back({decrypt ? sealed[i] : plains[i], keys[i], ivs[i]});
        std::vector<cv::BatchResult> results;
        const Bytes stack = dead_stack::after(
            [&] { results = decrypt ? cv::des3DecryptBatch(items) : cv::des3EncryptBatch(items); });
        std::vector<Bytes> secrets = keys;
        secrets.insert(secrets.end(), plains.begin(), plains.end());
        EXPECT_EQ(hits(stack, secrets), 0u) << "batch, decrypt " << decrypt;
    }
    // Encryption through libcrypto's DES, one-shot and streamed.
    for (std::size_t i = 0; i < keys.size(); ++i) {
        Bytes sealedAgain(plains[i].size() + 8);
        const Bytes stack = dead_stack::after([&] {
            std::size_t moved = 0;
            (void)CCCrypt(kCCEncrypt, kCCAlgorithm3DES, kCCOptionPKCS7Padding, keys[i].data(), 24, ivs[i].data(),
                          plains[i].data(), plains[i].size(), sealedAgain.data(), sealedAgain.size(), &moved);
            cv::Des3Encryptor encryptor(keys[i], ivs[i]);
            (void)encryptor.update(plains[i]);
            (void)encryptor.finish();
        });
        EXPECT_EQ(hits(stack, {keys[i], plains[i]}), 0u) << "encryption of " << plains[i].size() << " bytes";
    }
    // A stream fed pieces small and large: the short kernel and bitsliced
    // passes, the held block in front. The pieces are moved, not copied,
    // until the scan is done: a copy here would leave the plaintext in this
    // test's own registers.
    std::vector<Bytes> pieces;
    const Bytes stack = dead_stack::after([&] {
        cv::Des3Decryptor decryptor(keys.back(), ivs.back());
        for (std::size_t at = 0; at < sealed.back().size(); at += 700)
            pieces.push_back(decryptor.update(
                cv::ByteView(sealed.back().data() + at, std::min<std::size_t>(700, sealed.back().size() - at))));
        pieces.push_back(decryptor.finish());
    });
    Bytes out;
    for (const Bytes& piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
    ASSERT_EQ(out, plains.back());
    EXPECT_EQ(hits(stack, {keys.back(), plains.back()}), 0u) << "stream";
#endif
}

}  // namespace
