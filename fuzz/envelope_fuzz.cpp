// Feeds fuzzer-chosen wrapped keys, payloads and blocks to what a server
// facing senders runs under its key: openEnvelope (alone and in batches),
// RsaPrivateKey::decryptKey and the implicit-rejection decrypt, under a
// fixed 512-bit or 1024-bit key, and checks what their contracts promise:
//   - the same input gives the same answer, every time;
//   - a batch gives each item what the call on that item alone gives;
//   - an envelope opens exactly as its documented composition does (the
//     payload decrypted under decryptKey's 24 bytes, the IV their first 8),
//     and every refusal is ErrorCode::envelopeRefused with one message;
//   - decryptKey answers exactly keySize bytes, the block's own message when
//     that is a well-formed block of keySize bytes, and errors only for what
//     anyone sees (the block's length or value, the key size);
//   - implicit rejection never fails on a block below the modulus, agrees
//     with the reporting decryption on well-formed blocks, and decryptKey's
//     substitute is the tail of its substitute.
//
// Input: a mode byte, a flags byte, a key-size byte, then up to kMostItems
// items. An item is a shape byte (bit 7: the block is exactly the key's
// block size; otherwise bits 0-6 give its length), the block, and in the
// envelope modes a two-byte big-endian payload length and the payload.
// Lengths are cut to what the input holds.
//   mode & 3: 0 envelopes, 1 decryptKey, 2 implicit rejection, 3 envelopes
//             opened from an archive (see kArchive below).
//   flags:    bits 0-2 all set: the 1024-bit key (else the 512-bit one);
//             bit 3: each block of the block size and below the modulus is a
//             padded message, raised to e here, so that the fuzzer steers the
//             padding the decryptions read.
#include <Corvane/corvane.hpp>
#include <openssl/bn.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/fuzz_rsa_keys.h"

namespace {

namespace cv = corvane::v1;
using corvane::ErrorCode;
using Bytes = std::vector<std::uint8_t>;

enum Mode : std::uint8_t {
    kEnvelopes = 0,
    kUnwrap = 1,
    kImplicit = 2,
    // Archive mode: envelopes opened as an archive's records
    // (EnvelopeRefusal::archive): determinism, batch equals single, each
    // refusal the one code its cause gives, and a record opens exactly when
    // the reporting decryption gives 24 bytes and the payload decrypts
    // under them (with the text-key check when the key-size byte is odd).
    kArchive = 3,
};

constexpr std::size_t kMostItems = 6;
constexpr std::size_t kEnvelopeKeySize = 24;

void require(bool condition) {
    if (!condition) std::abort();
}

struct Item {
    Bytes block;
    Bytes payload;
};

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    std::uint8_t byte() { return done() ? 0 : data_[at_++]; }
    Bytes take(std::size_t n) {
        n = std::min(n, size_ - at_);
        Bytes out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn bnOf(const unsigned char* bytes, std::size_t size) {
    return Bn(BN_bin2bn(bytes, static_cast<int>(size), nullptr));
}

const unsigned char* modulusBytes(const cv::RsaPrivateKey& key) {
    return key.record().modulus + MAX_RSA_MODULUS_LEN - key.blockSize();
}

// The block's value against the modulus, both as big-endian bytes of the
// block size: what decides badData for a block of the right length.
bool belowModulus(const cv::RsaPrivateKey& key, const Bytes& block) {
    const Bytes padded = [&] {
        Bytes b(key.blockSize() - std::min(block.size(), key.blockSize()), 0);
        b.insert(b.end(), block.begin(), block.end());
        return b;
    }();
    return std::lexicographical_compare(padded.begin(), padded.end(), modulusBytes(key),
                                        modulusBytes(key) + key.blockSize());
}

// message^e mod n, as a block of the block size (the raw public operation).
Bytes rawPublic(const cv::RsaPrivateKey& key, const Bytes& message) {
    Bn m = bnOf(message.data(), message.size());
    Bn n = bnOf(modulusBytes(key), key.blockSize());
    Bn e = bnOf(key.record().publicExponent, MAX_RSA_MODULUS_LEN);
    Bn c(BN_new());
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    require(m && n && e && c && ctx && BN_mod_exp(c.get(), m.get(), e.get(), n.get(), ctx.get()) == 1);
    Bytes out(key.blockSize());
    require(BN_bn2binpad(c.get(), out.data(), static_cast<int>(out.size())) == static_cast<int>(out.size()));
    return out;
}

std::vector<Item> readItems(Reader& in, const cv::RsaPrivateKey& key, bool withPayload, bool encode) {
    std::vector<Item> items;
    while (!in.done() && items.size() < kMostItems) {
        const std::uint8_t shape = in.byte();
        Item item;
        item.block = in.take((shape & 0x80) ? key.blockSize() : (shape & 0x7F));
        if (encode && item.block.size() == key.blockSize() && belowModulus(key, item.block))
            item.block = rawPublic(key, item.block);
        if (withPayload) {
            const std::size_t length = std::size_t{in.byte()} << 8 | in.byte();
            item.payload = in.take(length);
        }
        items.push_back(std::move(item));
    }
    return items;
}

// ---- envelopes --------------------------------------------------------------

struct Opened {
    Bytes plaintext;
    std::error_code error;
    bool operator==(const Opened&) const = default;
};

Opened openOne(const cv::RsaPrivateKey& key, const Item& item) {
    Opened opened;
    opened.plaintext = cv::openEnvelope(key, item.block, item.payload, opened.error);
    require(!opened.error || opened.plaintext.empty());
    require(!opened.error || opened.error == ErrorCode::envelopeRefused);
    return opened;
}

// What the header says an envelope is: the payload under decryptKey's 24
// bytes with their first 8 as IV; refused when either step fails.
Opened composed(const cv::RsaPrivateKey& key, const Item& item) {
    Opened expected;
    if (item.block.size() != key.blockSize() || item.payload.empty() || item.payload.size() % 8 != 0) {
        expected.error = ErrorCode::envelopeRefused;
        return expected;
    }
    std::error_code error;
    Bytes desKey = key.decryptKey(item.block, kEnvelopeKeySize, error);
    if (!error) expected.plaintext = cv::des3Decrypt(item.payload, desKey, cv::ByteView(desKey.data(), 8), error);
    if (error) {
        expected.plaintext.clear();
        expected.error = ErrorCode::envelopeRefused;
    } else {
        // CBC with PKCS #7 padding is one-to-one: the plaintext seals back
        // to the same payload (a padding check that let a wrong pad byte
        // through would fail here).
        require(cv::des3Encrypt(expected.plaintext, desKey, cv::ByteView(desKey.data(), 8)) == item.payload);
    }
    return expected;
}

void checkEnvelopes(const cv::RsaPrivateKey& key, const std::vector<Item>& items) {
    static const std::string refusalMessage = [] {
        cv::ErrorInfo info;
        cv::openEnvelope(corvane::fuzz::fuzzRsaKey(false), {}, {}, info);
        return info.message;
    }();
    std::vector<Opened> singles;
    for (const Item& item : items) {
        const Opened first = openOne(key, item);
        require(composed(key, item) == first);
        // Asked again through the form that reports into an ErrorInfo: the
        // same answer, and a refusal has the one message.
        cv::ErrorInfo info;
        const Bytes reported = cv::openEnvelope(key, item.block, item.payload, info);
        require(reported == first.plaintext && info.code == first.error);
        require(!info || info.message == refusalMessage);
        singles.push_back(first);
    }
    if (items.empty()) return;
    std::vector<cv::EnvelopeView> views;
    for (const Item& item : items) views.push_back({item.block, item.payload});
    const std::vector<cv::BatchResult> batch = cv::openEnvelopes(key, views);
    require(batch.size() == items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        require(batch[i].bytes == singles[i].plaintext && batch[i].error == singles[i].error);
}

// What an archive's record is: the reporting decryption's 24 bytes (of the
// text form where asked), then the payload under them; each refusal the
// code of the step that failed.
Opened archiveComposed(const cv::RsaPrivateKey& key, const Item& item, bool hexText) {
    Opened expected;
    auto refuse = [&](ErrorCode code) {
        expected.plaintext.clear();
        expected.error = code;
        return expected;
    };
    if (item.block.size() != key.blockSize() || item.payload.empty() || item.payload.size() % 8 != 0)
        return refuse(ErrorCode::envelopeMalformed);
    std::error_code error;
    const Bytes desKey = key.decrypt(item.block, error);
    if (error || desKey.size() != kEnvelopeKeySize) return refuse(ErrorCode::envelopeKeyRefused);
    if (hexText && !std::all_of(desKey.begin(), desKey.end(), [](std::uint8_t c) { return std::isxdigit(c) != 0; }))
        return refuse(ErrorCode::envelopeKeyNotText);
    expected.plaintext = cv::des3Decrypt(item.payload, desKey, cv::ByteView(desKey.data(), 8), error);
    if (error) return refuse(ErrorCode::envelopePaddingRefused);
    return expected;
}

void checkArchive(const cv::RsaPrivateKey& key, const std::vector<Item>& items, bool hexText) {
    const cv::EnvelopeOpening opening{cv::EnvelopeRefusal::archive, hexText};
    std::vector<Opened> singles;
    for (const Item& item : items) {
        Opened first;
        first.plaintext = cv::openEnvelope(key, item.block, item.payload, opening, first.error);
        require(!first.error || first.plaintext.empty());
        require(archiveComposed(key, item, hexText) == first);
        Opened again;
        again.plaintext = cv::openEnvelope(key, item.block, item.payload, opening, again.error);
        require(again == first);
        // A record the archive opens, the uniform refusal opens the same.
        if (!first.error) require(openOne(key, item) == first);
        singles.push_back(first);
    }
    if (items.empty()) return;
    std::vector<cv::EnvelopeView> views;
    for (const Item& item : items) views.push_back({item.block, item.payload});
    const std::vector<cv::BatchResult> batch = cv::openEnvelopes(key, views, opening);
    require(batch.size() == items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        require(batch[i].bytes == singles[i].plaintext && batch[i].error == singles[i].error);
}

// ---- decryptKey ---------------------------------------------------------------

struct Answer {
    Bytes bytes;
    std::error_code error;
    bool operator==(const Answer&) const = default;
};

Answer unwrap(const cv::RsaPrivateKey& key, const Bytes& block, std::size_t keySize) {
    Answer a;
    a.bytes = key.decryptKey(block, keySize, a.error);
    return a;
}

Answer implicitDecrypt(const cv::RsaPrivateKey& key, const Bytes& block) {
    Answer a;
    a.bytes = key.decrypt(block, cv::RsaRejection::implicit, a.error);
    return a;
}

Answer reportingDecrypt(const cv::RsaPrivateKey& key, const Bytes& block) {
    Answer a;
    a.bytes = key.decrypt(block, cv::RsaRejection::report, a.error);
    return a;
}

void checkUnwrap(const cv::RsaPrivateKey& key, const std::vector<Item>& items, std::size_t keySize) {
    std::vector<Answer> singles;
    std::vector<cv::ByteView> blocks;
    for (const Item& item : items) {
        const Answer a = unwrap(key, item.block, keySize);
        require(unwrap(key, item.block, keySize) == a);
        if (item.block.size() != key.blockSize()) {
            require(a.error == ErrorCode::badLength);
        } else if (keySize == 0 || keySize > key.maxMessageSize()) {
            require(a.error == ErrorCode::invalidInput);
        } else if (!belowModulus(key, item.block)) {
            require(a.error == ErrorCode::badData);
        } else {
            require(!a.error && a.bytes.size() == keySize);
            const Answer reported = reportingDecrypt(key, item.block);
            if (!reported.error && reported.bytes.size() == keySize) {
                require(a.bytes == reported.bytes);
            } else if (reported.error) {
                // A malformed block: the substitute is the tail of implicit
                // rejection's, wherever that has keySize bytes.
                require(reported.error == ErrorCode::badData);
                const Answer substitute = implicitDecrypt(key, item.block);
                require(!substitute.error);
                if (substitute.bytes.size() >= keySize)
                    require(std::equal(a.bytes.begin(), a.bytes.end(), substitute.bytes.end() - static_cast<std::ptrdiff_t>(keySize)));
            }
        }
        require(!a.error || a.bytes.empty());
        singles.push_back(a);
        blocks.emplace_back(item.block);
    }
    if (items.empty()) return;
    // A key size no block can hold is the whole batch's error, not an item's.
    if (keySize == 0 || keySize > key.maxMessageSize()) {
        try {
            key.decryptKeyBatch(blocks, keySize);
            std::abort();
        } catch (const cv::Error& error) {
            require(error.code() == ErrorCode::invalidInput);
        }
        return;
    }
    const std::vector<cv::BatchResult> batch = key.decryptKeyBatch(blocks, keySize);
    require(batch.size() == items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        require(batch[i].bytes == singles[i].bytes && batch[i].error == singles[i].error);
}

// ---- implicit rejection -----------------------------------------------------------

void checkImplicit(const cv::RsaPrivateKey& key, const std::vector<Item>& items) {
    std::vector<Answer> singles;
    std::vector<cv::ByteView> blocks;
    for (const Item& item : items) {
        const Answer a = implicitDecrypt(key, item.block);
        require(implicitDecrypt(key, item.block) == a);
        if (item.block.size() > key.blockSize()) {
            require(a.error == ErrorCode::badLength);
        } else if (!belowModulus(key, item.block)) {
            require(a.error == ErrorCode::badData);
        } else {
            require(!a.error && a.bytes.size() <= key.maxMessageSize());
            const Answer reported = reportingDecrypt(key, item.block);
            require(!reported.error || reported.error == ErrorCode::badData);
            if (!reported.error) require(a.bytes == reported.bytes);
        }
        require(!a.error || a.bytes.empty());
        singles.push_back(a);
        blocks.emplace_back(item.block);
    }
    if (items.empty()) return;
    const std::vector<cv::BatchResult> batch = key.decryptBatch(blocks, cv::RsaRejection::implicit);
    require(batch.size() == items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        require(batch[i].bytes == singles[i].bytes && batch[i].error == singles[i].error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    Reader in(data, size);
    const Mode mode = static_cast<Mode>(in.byte() & 3);
    const std::uint8_t flags = in.byte();
    const std::size_t keySize = in.byte();
    const cv::RsaPrivateKey& key = corvane::fuzz::fuzzRsaKey((flags & 7) == 7);
    const bool encode = (flags & 8) != 0;
    switch (mode) {
        case kEnvelopes:
            checkEnvelopes(key, readItems(in, key, true, encode));
            break;
        case kArchive:
            checkArchive(key, readItems(in, key, true, encode), (keySize & 1) != 0);
            break;
        case kUnwrap:
            checkUnwrap(key, readItems(in, key, false, encode), keySize);
            break;
        case kImplicit:
            checkImplicit(key, readItems(in, key, false, encode));
            break;
    }
    return 0;
}
