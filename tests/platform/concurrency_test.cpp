// Many threads using the library at once, as the thread rules allow: shared
// immutable objects whose references every thread copies and drops, objects
// made on one thread and released on another, a pool stack per thread (and
// the no-pool fallback), one QVSimpleRSA per thread encrypting, Base64,
// triple-DES and random keys, random pools, the log sink replaced while
// others log. Run under ThreadSanitizer by the tsan preset, where any data
// race is a failure; everywhere else it checks the results and that every
// object made is destroyed exactly once.
#include <Corvane/QVDes3.h>
#include <Corvane/QVGTMBase64.h>
#include <Corvane/QVSimpleRSA.h>
#include <Corvane/r_random.h>
#include <Corvane/rsa.h>
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

constexpr int kThreads = 8;

std::atomic<long> g_alive{0};

// Counts how many exist, so that the test can see every one destroyed.
class Token : public NSObject {
public:
    explicit Token(int owner) : owner_(owner) { g_alive++; }
    int owner() const { return owner_; }

protected:
    ~Token() override { g_alive--; }

private:
    int owner_;
};

// Objects handed from one thread to another; whoever takes one drops it.
class Mailbox {
public:
    void put(Ref<NSObject> object) {
        std::lock_guard<std::mutex> lock(mutex_);
        objects_.push_back(std::move(object));
    }
    Ref<NSObject> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (objects_.empty()) return nullptr;
        Ref<NSObject> object = std::move(objects_.front());
        objects_.erase(objects_.begin());
        return object;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        objects_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<Ref<NSObject>> objects_;
};

// What every thread shares: immutable objects and read-only key records.
struct Shared {
    std::vector<Ref<NSData>> messages;
    Ref<NSData> des3Key, des3Iv, notCiphertext;
    std::string modulusHex, exponentHex;
    R_RSA_PRIVATE_KEY privateKey{};
    Mailbox mailbox;
    std::atomic<long> operations{0};
    std::atomic<long> failures{0};
    std::atomic<long> logged{0};
};

void expect(Shared& s, bool condition, const char* what) {
    s.operations++;
    if (!condition) {
        if (s.failures++ < 10) std::fprintf(stderr, "concurrency: %s failed\n", what);
    }
}

bool sameBytes(const NSData* a, const NSData* b) {
    return a != nullptr && b != nullptr && a->length() == b->length() &&
           std::memcmp(a->bytes(), b->bytes(), a->length()) == 0;
}

void work(Shared& s, int id, int iterations) {
    Ref<QVSimpleRSA> rsa = make_ref<QVSimpleRSA>();
    expect(s, rsa && rsa->setPublicKey(s.modulusHex.c_str(), s.exponentHex.c_str()) == 0, "setPublicKey");
    std::vector<Ref<NSData>> held;
    for (int i = 0; i < iterations; i++) {
        NSAutoreleasePool outer;
        // References to shared objects, copied and dropped out of order.
        for (const auto& m : s.messages) held.push_back(m);
        if (held.size() > 12) held.erase(held.begin() + static_cast<long>(i % 5), held.begin() + 8);
        const Ref<NSData> message = s.messages[static_cast<std::size_t>(i + id) % s.messages.size()];

        // RSA: this thread's own object; decrypted with the shared private record now and then.
        std::int32_t error = 1;
        Ref<NSData> block = rsa->createEncryptDataForData(message.get(), &error);
        expect(s, block && error == 0 && block->length() == 64, "RSA encryption");
        if (block && i % 8 == 0) {
            unsigned char plain[MAX_RSA_MODULUS_LEN];
            std::uint32_t plainLen = 0;
            int status =
                QV_RSAPrivateDecrypt(plain, &plainLen, static_cast<const unsigned char*>(block->bytes()),
                                     static_cast<std::uint32_t>(block->length()), &s.privateKey);
            expect(s,
                   status == 0 && plainLen == message->length() &&
                       std::memcmp(plain, message->bytes(), plainLen) == 0,
                   "RSA decryption");
        }

        // Base64 in a nested pool; the text outlives it through a retained
        // reference. (The empty message has no encoding: nil.)
        const bool empty = message->length() == 0;
        Ref<NSString> kept;
        {
            NSAutoreleasePool inner;
            NSString* text = QVGTMBase64::stringByWebSafeEncodingData(message.get(), i % 2 == 0);
            NSMutableData* back = QVGTMBase64::webSafeDecodeString(text);
            expect(s, empty ? back == nullptr : sameBytes(back, message.get()), "Base64 round trip");
            kept = Ref<NSString>::retain(text);
        }
        NSMutableData* standard = QVGTMBase64::decodeData(QVGTMBase64::encodeData(message.get()));
        expect(s, empty ? standard == nullptr : sameBytes(standard, message.get()), "Base64 standard");

        // Triple-DES, and a decryption that fails and logs while the sink may be changing.
        Ref<NSData> sealed =
            QVDes3::createDes3EncryptData(message.get(), s.des3Key.get(), s.des3Iv.get(), &error);
        Ref<NSData> opened =
            QVDes3::createDes3DecryptData(sealed.get(), s.des3Key.get(), s.des3Iv.get(), &error);
        expect(s, sameBytes(opened.get(), message.get()), "triple-DES round trip");
        expect(s,
               !QVDes3::createDes3DecryptData(s.notCiphertext.get(), s.des3Key.get(), nullptr, &error) &&
                   error == -5,
               "triple-DES refusal");
        Ref<NSData> key = QVDes3::createRandomDes3Key();
        expect(s, key && key->length() == 24, "random key");

        // A random pool of this thread's own.
        R_RANDOM_STRUCT pool;
        QV_R_RandomCreate(&pool);
        unsigned char bytes[48];
        expect(s, QV_R_GenerateBytes(bytes, sizeof bytes, &pool) == 0, "random pool");
        QV_R_RandomFinal(&pool);

        // Objects made here go to other threads, which drop them; the
        // autoreleased token is also retained by the mailbox, so its last
        // release happens on whichever thread comes last.
        Ref<Token> token = make_ref<Token>(id);
        token->retain()->autorelease();
        s.mailbox.put(token);
        s.mailbox.put(kept);
        s.mailbox.put(block);
        for (int k = 0; k < 3; k++) {
            Ref<NSObject> other = s.mailbox.take();
            const auto* t = dynamic_cast<const Token*>(other.get());
            expect(s, t == nullptr || (t->owner() >= 0 && t->owner() < kThreads), "token");
        }

        // One thread replaces the sink now and then while the others log through it.
        if (id == 0 && i % 16 == 0) {
            NSLogSetSink([&s](const std::string&) { s.logged++; });
        }
    }
    // Autoreleased with no pool in place: kept until this thread exits.
    Ref<Token> late = make_ref<Token>(id);
    late->retain()->autorelease();
}

TEST(Concurrency, EightThreadsShareObjectsAndUseEveryClass) {
    const RsaKey& key = cachedRsaKey(512);
    Shared s;
    s.modulusHex = toHex(key.parts.n);
    s.exponentHex = toHex(key.parts.e);
    s.privateKey = key.privateKey;
    for (const char* text : {"", "PIN 1234", "a somewhat longer message of forty bytes", "x"})
        s.messages.push_back(make_ref<NSData>(text, std::strlen(text)));
    s.des3Key = make_ref<NSData>("a triple-DES key, 24 b..", 24);
    s.des3Iv = make_ref<NSData>("an IV!!!", 8);
    s.notCiphertext = make_ref<NSData>("13 bytes long", 13);
    NSLogSink previous = NSLogSetSink([&s](const std::string&) { s.logged++; });

    const int iterations = static_cast<int>(200 * longTestFactor());
    std::vector<std::thread> threads;
    for (int id = 0; id < kThreads; id++)
        threads.emplace_back([&s, id, iterations] { work(s, id, iterations); });
    for (auto& t : threads) t.join();
    s.mailbox.clear();
    NSLogSetSink(std::move(previous));

    EXPECT_EQ(s.failures, 0);
    EXPECT_EQ(g_alive, 0) << "every object made is destroyed, on whichever thread dropped it last";
    EXPECT_GE(s.logged, kThreads * iterations) << "each refused decryption logs one line";
    std::printf("%ld checked operations on %d threads (%d iterations each)\n", s.operations.load(), kThreads,
                iterations);
}

// What the modern header promises of threads: one key object used by
// several threads at once, every operation of both halves, with each
// thread's own random pool (a pool is for one thread at a time).
TEST(Concurrency, KeyObjectsAreSharedByThreadsAtOnce) {
    namespace cv = corvane::v1;
    const cv::RsaPrivateKey key = cv::RsaPrivateKey::fromRecord(cachedRsaKey(1024).privateKey);
    const cv::RsaPublicKey pub = key.publicKey();
    const std::string message = "shared key, many threads";
    const int iterations = static_cast<int>(20 * longTestFactor());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int id = 0; id < 4; id++)
        threads.emplace_back([&, id] {
            cv::RandomPool pool = cv::RandomPool::fromSeed(std::string(256, static_cast<char>('a' + id)));
            for (int i = 0; i < iterations; i++) {
                const std::vector<std::uint8_t> block = pub.encrypt(message, pool);
                const cv::Envelope envelope = cv::sealEnvelope(pub, message, pool);
                const std::vector<cv::EnvelopeView> views(3, cv::EnvelopeView{envelope.wrappedKey, envelope.payload});
                bool ok = key.decrypt(block) == std::vector<std::uint8_t>(message.begin(), message.end()) &&
                          key.decrypt(block, cv::RsaRejection::implicit) == key.decrypt(block) &&
                          key.decryptKey(envelope.wrappedKey, 24).size() == 24 &&
                          pub.recover(key.sign(message)) == key.decrypt(block) &&
                          cv::openEnvelope(key, envelope.wrappedKey, envelope.payload) == key.decrypt(block);
                for (const cv::BatchResult& r : cv::openEnvelopes(key, views)) ok = ok && r.bytes == key.decrypt(block);
                if (!ok) failures++;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures, 0);
}

}  // namespace
