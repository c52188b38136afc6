// Reads and writes one private key in every form while every heap block
// released (operator delete and libcrypto's free, both replaced in this
// program) is searched for the key's whole DER (PKCS #1 and PKCS #8), for
// each prime's bytes and for the passphrase (as bytes and as UTF-16). A hit
// is a copy of the secret left behind in freed memory; the library must
// leave none.
#include <Corvane/keys.h>
#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <Corvane/corvane.hpp>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "engine/bignum/ifma/montgomery_ifma.h"
#include "engine/bignum/word.h"
#include "tests/support/rsa/openssl_key_files.h"
#include "tests/support/test_support.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CORVANE_HEAP_SCAN 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define CORVANE_HEAP_SCAN 0
#endif
#endif
#ifndef CORVANE_HEAP_SCAN
#define CORVANE_HEAP_SCAN 1
#endif

using namespace corvane;
using namespace corvane::test;

namespace {

// The secrets searched for, in fixed storage: the scan must not allocate.
struct Needle {
    const char* name;
    unsigned char bytes[1024];
    std::size_t size;
};
constexpr int kNeedles = 8;
Needle g_needles[kNeedles];
std::atomic<bool> g_armed{false};
std::atomic<int> g_hits[kNeedles];

// Unused where a sanitizer's runtime owns the allocator and the scan skips.
[[maybe_unused]] void inspect(const void* block, std::size_t size) noexcept {
    if (!g_armed.load(std::memory_order_relaxed)) return;
    for (int i = 0; i < kNeedles; i++) {
        const Needle& n = g_needles[i];
        if (n.size != 0 && size >= n.size && memmem(block, size, n.bytes, n.size) != nullptr) g_hits[i]++;
    }
}

#if CORVANE_HEAP_SCAN
// Every block carries its size and its offset from the real allocation in
// the 16 bytes in front of it.
struct Header {
    std::size_t size;
    std::size_t offset;
};
static_assert(sizeof(Header) <= 16);

void* scanAllocate(std::size_t size, std::size_t alignment) noexcept {
    std::size_t offset = alignment > 16 ? alignment : 16;
    void* base = nullptr;
    if (posix_memalign(&base, offset, offset + (size == 0 ? 1 : size)) != 0) return nullptr;
    auto* block = static_cast<unsigned char*>(base) + offset;
    Header header{size, offset};
    std::memcpy(block - 16, &header, sizeof header);
    return block;
}

std::size_t sizeOf(void* p) noexcept {
    Header header;
    std::memcpy(&header, static_cast<unsigned char*>(p) - 16, sizeof header);
    return header.size;
}

void scanFree(void* p) noexcept {
    if (p == nullptr) return;
    Header header;
    std::memcpy(&header, static_cast<unsigned char*>(p) - 16, sizeof header);
    inspect(p, header.size);
    std::free(static_cast<unsigned char*>(p) - header.offset);
}

void* newOrThrow(std::size_t size, std::size_t alignment) {
    if (void* p = scanAllocate(size, alignment)) return p;
    throw std::bad_alloc();
}

void* sslMalloc(std::size_t size, const char*, int) { return scanAllocate(size, 0); }
void* sslRealloc(void* p, std::size_t size, const char*, int) {
    void* grown = scanAllocate(size, 0);
    if (grown == nullptr || p == nullptr) return grown;
    std::size_t old = sizeOf(p);
    std::memcpy(grown, p, old < size ? old : size);
    scanFree(p);
    return grown;
}
void sslFree(void* p, const char*, int) { scanFree(p); }

// Before main, so that it precedes libcrypto's first allocation.
const bool g_sslInstalled = CRYPTO_set_mem_functions(sslMalloc, sslRealloc, sslFree) == 1;
#endif

}  // namespace

#if CORVANE_HEAP_SCAN
void* operator new(std::size_t size) { return newOrThrow(size, 0); }
void* operator new[](std::size_t size) { return newOrThrow(size, 0); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return scanAllocate(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return scanAllocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) { return newOrThrow(size, std::size_t(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return newOrThrow(size, std::size_t(a)); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return scanAllocate(size, std::size_t(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return scanAllocate(size, std::size_t(a));
}
void operator delete(void* p) noexcept { scanFree(p); }
void operator delete[](void* p) noexcept { scanFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { scanFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { scanFree(p); }
void operator delete(void* p, std::size_t) noexcept { scanFree(p); }
void operator delete[](void* p, std::size_t) noexcept { scanFree(p); }
void operator delete(void* p, std::align_val_t) noexcept { scanFree(p); }
void operator delete[](void* p, std::align_val_t) noexcept { scanFree(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { scanFree(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { scanFree(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { scanFree(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { scanFree(p); }
#endif

namespace {

// Arms the scan for one step and reports its hits.
template <typename Step>
int hitsOf(const char* name, Step step) {
    for (auto& h : g_hits) h = 0;
    g_armed = true;
    step();
    g_armed = false;
    int total = 0;
    for (int i = 0; i < kNeedles; i++) {
        total += g_hits[i];
        if (g_hits[i] != 0)
            ADD_FAILURE() << name << ": " << g_hits[i] << " freed block(s) held " << g_needles[i].name;
    }
    return total;
}

[[maybe_unused]] void setNeedle(int i, const char* name, const void* bytes, std::size_t size) {
    ASSERT_LE(size, sizeof g_needles[i].bytes);
    g_needles[i].name = name;
    std::memcpy(g_needles[i].bytes, bytes, size);
    g_needles[i].size = size;
}

// The prime's bytes without the leading zeros of its field.
[[maybe_unused]] std::span<const unsigned char> primeBytes(const unsigned char (&field)[MAX_RSA_PRIME_LEN]) {
    std::size_t first = 0;
    while (first < sizeof field && field[first] == 0) first++;
    return {field + first, sizeof field - first};
}

}  // namespace

TEST(KeyHeapScan, NoFreedBlockHoldsTheKeyOrThePassphrase) {
#if !CORVANE_HEAP_SCAN
    GTEST_SKIP() << "the heap scan replaces the allocator, which this sanitizer build's runtime owns";
#else
    ASSERT_TRUE(g_sslInstalled) << "libcrypto allocated before the scan's functions were installed";
    TempDir dir;
    OpensslKeyFiles files(dir, 1024);
    // Longer than any short-string buffer, so that every copy is a heap block.
    const std::string passphrase = kKeyFilePassphrase;
    const std::string pkcs1 = readTextFile(files.path(KeyForm::privatePkcs1Der));
    const std::string pkcs8 = readTextFile(files.path(KeyForm::privatePkcs8Der));
    R_RSA_PRIVATE_KEY key;
    ASSERT_TRUE(loadRsaPrivateKey(bytesOf(pkcs8), key));
    setNeedle(0, "the PKCS #1 DER", pkcs1.data(), pkcs1.size());
    setNeedle(1, "the PKCS #8 DER", pkcs8.data(), pkcs8.size());
    setNeedle(2, "p", primeBytes(key.prime[0]).data(), primeBytes(key.prime[0]).size());
    setNeedle(3, "q", primeBytes(key.prime[1]).data(), primeBytes(key.prime[1]).size());
    setNeedle(4, "the passphrase", passphrase.data(), passphrase.size());
    // The passphrase as the older PKCS #8 schemes derive from it: UTF-16.
    std::string wide;
    for (char c : passphrase) wide += {'\0', c};
    setNeedle(5, "the passphrase as UTF-16", wide.data(), wide.size());
    // The key objects keep p as the arithmetic's words: its low word, as
    // this host holds it.
    const auto pWord = [&](std::size_t w) {
        std::uint64_t word = 0;
        for (std::size_t i = 0; i < 8; i++)
            word |= std::uint64_t{key.prime[0][MAX_RSA_PRIME_LEN - 1 - 8 * w - i]} << (8 * i);
        return word;
    };
    const corvane::engine::Word pLow = static_cast<corvane::engine::Word>(pWord(0));
    setNeedle(6, "p as the arithmetic's words", &pLow, sizeof pLow);
    // And its two lowest 52-bit digits, as the key objects keep them for the
    // IFMA kernels where those run; a live key object holds them.
    const std::uint64_t digitMask = (std::uint64_t{1} << 52) - 1;
    const std::uint64_t pDigits[2] = {pWord(0) & digitMask,
                                      ((pWord(0) >> 52) | (pWord(1) << 12)) & digitMask};
    setNeedle(7, "p as the IFMA kernels' digits", pDigits, sizeof pDigits);
    if (corvane::engine::ifmaAvailable()) {
        const v1::RsaPrivateKey live = v1::RsaPrivateKey::fromRecord(key);
        ASSERT_NE(memmem(&live, sizeof live, pDigits, sizeof pDigits), nullptr);
    }

    // The scan itself: a copy freed by operator delete and one freed by
    // libcrypto are each found.
    for (auto& h : g_hits) h = 0;
    g_armed = true;
    {
        Bytes copy(pkcs1.begin(), pkcs1.end());
        // Kept observable, so that the compiler cannot drop the block.
        ::testing::Test::RecordProperty("copy", copy[copy.size() / 2]);
    }
    g_armed = false;
    ASSERT_GE(g_hits[0], 1);
    g_hits[1] = 0;
    g_armed = true;
    OPENSSL_free(OPENSSL_memdup(pkcs8.data(), pkcs8.size()));
    g_armed = false;
    ASSERT_GE(g_hits[1], 1);

    int hits = 0;
    int steps = 0;
    for (KeyForm form :
         {KeyForm::privatePkcs8Pem, KeyForm::privatePkcs8Der, KeyForm::privatePkcs1Pem,
          KeyForm::privatePkcs1Der, KeyForm::encryptedPkcs8Pem, KeyForm::encryptedPkcs8Der,
          KeyForm::encryptedPkcs1Pem, KeyForm::encryptedPkcs8TripleDesPem, KeyForm::encryptedPkcs8DesPem}) {
        const std::string path = files.path(form);
        const Bytes bytes = bytesOf(readTextFile(path));
        const KeyPassphrase text(passphrase);
        const KeyPassphrase callback([&](std::span<char> buffer) {
            std::memcpy(buffer.data(), passphrase.data(), passphrase.size());
            return passphrase.size();
        });
        for (const KeyPassphrase* answer : {&text, &callback}) {
            R_RSA_PRIVATE_KEY record;
            R_RSA_PUBLIC_KEY publicRecord;
            hits += hitsOf(path.c_str(), [&] {
                EXPECT_TRUE(loadRsaPrivateKey(bytes, record, *answer));
                EXPECT_TRUE(loadRsaPrivateKeyFile(path.c_str(), record, *answer));
                EXPECT_TRUE(loadRsaPublicKey(bytes, publicRecord, *answer));
                EXPECT_TRUE(loadRsaPublicKeyFile(path.c_str(), publicRecord, *answer));
                v1::RsaPrivateKey fromBytes = v1::RsaPrivateKey::fromEncoded(bytes, *answer);
                v1::RsaPrivateKey fromFile = v1::RsaPrivateKey::fromFile(path, *answer);
            });
            steps += 6;
        }
    }
    for (RsaKeyFormat format : {RsaKeyFormat::standard, RsaKeyFormat::pkcs1}) {
        for (std::string_view secret : {std::string_view(), std::string_view(passphrase)}) {
            std::string pem;
            std::vector<std::uint8_t> der;
            v1::RsaPrivateKey object = v1::RsaPrivateKey::fromRecord(key);
            std::string fromObject;
            hits += hitsOf("writing", [&] {
                EXPECT_FALSE(rsaPrivateKeyToPem(key, pem, format, secret));
                fromObject = object.toPem(format, secret);
                if (format == RsaKeyFormat::standard || secret.empty()) {
                    EXPECT_FALSE(rsaPrivateKeyToDer(key, der, format, secret));
                    steps++;
                }
            });
            steps += 2;
        }
    }
    // Key objects on the heap that have run operations (their set-up is in
    // use) and are copied, moved and destroyed there.
    hits += hitsOf("key objects", [&] {
        auto object = std::make_unique<v1::RsaPrivateKey>(v1::RsaPrivateKey::fromRecord(key));
        const std::vector<std::uint8_t> block = object->publicKey().encrypt("heap");
        const std::vector<v1::ByteView> blocks(9, v1::ByteView(block));
        EXPECT_EQ(object->decryptBatch(blocks)[8].bytes, bytesOf("heap"));
        auto copy = std::make_unique<v1::RsaPrivateKey>(*object);
        auto moved = std::make_unique<v1::RsaPrivateKey>(std::move(*object));
        EXPECT_EQ(copy->sign("heap"), moved->sign("heap"));
    });
    steps++;
    std::printf("heap scan: %d steps, %d freed blocks holding a secret\n", steps, hits);
    EXPECT_EQ(hits, 0);
#endif
}
