#include "des3_stream.h"

#include <Corvane/QVDes3.h>

#include <algorithm>
#include <string>

#include "../../platform/secure_zero.h"
#include "tool_error.h"

namespace corvane::tool {

namespace {

constexpr std::size_t kBlock = 8;

Ref<NSData> dataOf(std::span<const std::uint8_t> bytes) {
    Ref<NSData> data = make_ref<NSData>(bytes.data(), bytes.size());
    if (!data) failure("out of memory");
    return data;
}

// Data objects that held key or plaintext bytes are wiped before they go.
void wipe(const Ref<NSData>& data) {
    if (data) secure_zero(const_cast<void*>(data->bytes()), data->length());
}

}  // namespace

Des3Stream::Des3Stream(bool encrypt, std::span<const std::uint8_t> key,
                       std::optional<std::span<const std::uint8_t>> iv, ByteSink& out, std::size_t pieceSize)
    : encrypt_(encrypt),
      out_(out),
      pieceSize_(std::max<std::size_t>(pieceSize, 1)),
      key_(dataOf(key)),
      chain_(iv ? dataOf(*iv) : nullptr) {
    pending_.reserve(pieceSize_ + kBlock);
}

Des3Stream::~Des3Stream() {
    wipe(key_);
    wipe(chain_);
    secure_zero(pending_.data(), pending_.capacity());
}

Ref<NSData> Des3Stream::run(const NSData* data, bool encrypt, const NSData* iv) {
    std::int32_t error = 0;
    Ref<NSData> result = encrypt ? QVDes3::createDes3EncryptData(data, key_.get(), iv, &error)
                                 : QVDes3::createDes3DecryptData(data, key_.get(), iv, &error);
    if (!result) {
        if (error == -3) failure("out of memory");
        if (encrypt) failure("encryption failed (status " + std::to_string(error) + ")");
        failure("decryption failed: wrong key or IV, or damaged data");
    }
    return result;
}

// The class pads every call; for a piece that is not the last, the padding
// block it adds is dropped, and what remains is the piece's CBC encryption.
void Des3Stream::encryptBlocks(std::span<const std::uint8_t> blocks) {
    Ref<NSData> plain = dataOf(blocks);
    Ref<NSData> sealed = run(plain.get(), true, chain_.get());
    wipe(plain);
    auto ciphertext = sealed->span().first(blocks.size());
    out_.write(ciphertext);
    chain_ = dataOf(ciphertext.last(kBlock));
}

// The class checks the padding of every call; a piece that is not the last
// is given one more block, made to decrypt to a whole block of padding (the
// encryption of eight 0x08 bytes chained to the piece's last block), which
// the class then removes.
void Des3Stream::decryptBlocks(std::span<const std::uint8_t> blocks) {
    const std::uint8_t padding[kBlock] = {8, 8, 8, 8, 8, 8, 8, 8};
    Ref<NSData> lastBlock = dataOf(blocks.last(kBlock));
    Ref<NSData> paddingBlock = run(dataOf(padding).get(), true, lastBlock.get());

    Ref<NSMutableData> extended = make_ref<NSMutableData>();
    if (!extended) failure("out of memory");
    extended->setLength(blocks.size() + kBlock);
    auto* bytes = static_cast<std::uint8_t*>(extended->mutableBytes());
    std::copy(blocks.begin(), blocks.end(), bytes);
    std::copy_n(paddingBlock->span().begin(), kBlock, bytes + blocks.size());
    Ref<NSData> plain = run(extended.get(), false, chain_.get());
    out_.write(plain->span());
    wipe(plain);
    chain_ = lastBlock;
}

void Des3Stream::write(std::span<const std::uint8_t> bytes) {
    total_ += bytes.size();
    while (!bytes.empty()) {
        std::size_t take = std::min(bytes.size(), pieceSize_ + kBlock - pending_.size());
        pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        if (pending_.size() < pieceSize_ + kBlock) continue;
        // A full piece: code its whole blocks but the last, which may turn
        // out to be the input's last and must wait for finish().
        std::size_t ready = (pending_.size() - 1) / kBlock * kBlock;
        if (encrypt_)
            encryptBlocks(std::span(pending_).first(ready));
        else
            decryptBlocks(std::span(pending_).first(ready));
        secure_zero(pending_.data(), ready);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(ready));
    }
}

void Des3Stream::finish() {
    if (!encrypt_) {
        if (total_ == 0) failure("decryption failed: there is no ciphertext");
        if (total_ % kBlock != 0)
            failure("decryption failed: the ciphertext has " + std::to_string(total_) +
                    " bytes, not a whole number of 8-byte blocks");
    }
    Ref<NSData> rest = dataOf(pending_);
    Ref<NSData> last = run(rest.get(), encrypt_, chain_.get());
    wipe(rest);
    out_.write(last->span());
    if (!encrypt_) wipe(last);
    out_.finish();
}

}  // namespace corvane::tool
