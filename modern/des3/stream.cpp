// Des3Encryptor and Des3Decryptor: CBC chaining carried from piece to piece,
// the key set up once per object. The encryptor keeps the platform cipher's
// context, initialised with the key when the object is made, which carries
// the chaining value itself; the decryptor keeps the engine's schedules
// (des3_engine.h: each built the first time a piece needs it) and the
// chaining value. Each update() hands every whole block it can to the
// cipher; the encryptor keeps the 0 to 7 bytes of an unfinished block, the
// decryptor 1 to 8 bytes: its last block may be the padding block, which
// only finish() can judge.
#include <Corvane/modern/des3.hpp>

#include <cstring>
#include <new>
#include <utility>

#include "engine/des/des3_engine.h"
#include "modern/des3/cbc_rules.h"
#include "modern/support/failures.h"
#include "platform/des3_cbc_encryption.h"
#include "platform/secure_zero.h"

namespace corvane::v1::detail {

using corvane::detail::kDes3Block;
using corvane::detail::kDes3Key;

struct Des3EncryptStream {
    std::uint8_t iv[kDes3Block];
    std::uint8_t held[kDes3Block];
    std::size_t heldCount = 0;
    Des3CbcEncryption cipher;

    ~Des3EncryptStream() {
        secure_zero(iv, sizeof iv);
        secure_zero(held, sizeof held);
    }
};

struct Des3DecryptStream {
    explicit Des3DecryptStream(const std::uint8_t* key) noexcept
        : decryption(des::des_default_path(), key) {}
    ~Des3DecryptStream() {
        secure_zero(iv, sizeof iv);
        secure_zero(chain, sizeof chain);
        secure_zero(held, sizeof held);
    }

    std::uint8_t iv[kDes3Block];
    std::uint8_t chain[kDes3Block];
    std::uint8_t held[kDes3Block];
    std::size_t heldCount = 0;
    des::Des3Decryption decryption;
};

}  // namespace corvane::v1::detail

namespace corvane::v1 {

namespace {

using corvane::detail::kDes3Block;
using corvane::detail::kDes3Key;
using detail::Des3DecryptStream;
using detail::Des3EncryptStream;

// The key and IV areas of a new object, wiped when construction ends.
struct Areas {
    std::uint8_t key[kDes3Key];
    std::uint8_t iv[kDes3Block];
    Areas(ByteView keyBytes, const ByteView* ivBytes) {
        corvane::detail::des3CheckKey(keyBytes);
        corvane::detail::des3KeyArea(keyBytes, key);
        corvane::detail::des3IvArea(key, ivBytes, iv);
    }
    ~Areas() {
        secure_zero(key, sizeof key);
        secure_zero(iv, sizeof iv);
    }
    Areas(const Areas&) = delete;
    Areas& operator=(const Areas&) = delete;
};

Des3EncryptStream* makeEncryptStream(ByteView key, const ByteView* iv) {
    const Areas areas(key, iv);
    auto* state = new (std::nothrow) Des3EncryptStream;
    if (state == nullptr || !state->cipher.start(areas.key, areas.iv)) {
        delete state;
        corvane::detail::throwError(make_error_code(ErrorCode::outOfMemory));
    }
    std::memcpy(state->iv, areas.iv, kDes3Block);
    return state;
}

Des3DecryptStream* makeDecryptStream(ByteView key, const ByteView* iv) {
    const Areas areas(key, iv);
    auto* state = new (std::nothrow) Des3DecryptStream(areas.key);
    if (state == nullptr) corvane::detail::throwError(make_error_code(ErrorCode::outOfMemory));
    std::memcpy(state->iv, areas.iv, kDes3Block);
    std::memcpy(state->chain, areas.iv, kDes3Block);
    return state;
}

// Moving an object's state: this one's own, if any, wiped and freed first;
// the other is left holding none.
template <typename State>
void takeOver(State*& mine, State*& theirs) noexcept {
    if (&mine == &theirs) return;
    delete mine;
    mine = std::exchange(theirs, nullptr);
}

// A moved-from object holds no key.
template <typename State>
State& stateOf(State* state) {
    if (state == nullptr)
        corvane::detail::throwError(make_error_code(ErrorCode::invalidInput), "the triple-DES object was moved from");
    return *state;
}

void restart(Des3EncryptStream& state) noexcept {
    secure_zero(state.held, sizeof state.held);
    state.heldCount = 0;
    // Only the IV changes; this cannot fail once the cipher has started.
    (void)state.cipher.restart(state.iv);
}

void restart(Des3DecryptStream& state) noexcept {
    secure_zero(state.held, sizeof state.held);
    state.heldCount = 0;
    std::memcpy(state.chain, state.iv, kDes3Block);
}

template <typename Coder>
std::vector<std::uint8_t> updateToVector(Coder& coder, ByteView data) {
    std::vector<std::uint8_t> out(coder.updateCapacity(data.size()));
    out.resize(coder.update(data, out));
    return out;
}

void encryptBlocks(Des3EncryptStream& state, const std::uint8_t* in, std::size_t length, std::uint8_t* out) {
    if (!state.cipher.encrypt(in, length, out)) {
        restart(state);
        corvane::detail::throwError(make_error_code(ErrorCode::encryptionRefused));
    }
}

// One update of either stream: emit bytes of whole blocks go to the cipher
// now (the held bytes completed from the front of the data, when bytes are
// held, then the data's own blocks), and what is left of the data is held.
// run(held, blocks, length, out) ciphers the completed held block (null
// when none) followed by length bytes of the data's blocks into out.
template <typename State, typename Run>
std::size_t updateStream(State& state, ByteView data, std::span<std::uint8_t> out, std::size_t emit, Run&& run) {
    corvane::detail::checkRoom(out.size(), emit);
    const std::uint8_t* in = data.data();
    std::size_t left = data.size();
    if (emit > 0) {
        const bool completes = state.heldCount > 0;
        const std::size_t fill = completes ? kDes3Block - state.heldCount : 0;
        if (completes) std::memcpy(state.held + state.heldCount, in, fill);
        const std::size_t fromData = emit - (completes ? kDes3Block : 0);
        run(completes ? state.held : nullptr, in + fill, fromData, out.data());
        in += fill + fromData;
        left -= fill + fromData;
        state.heldCount = 0;
    }
    if (left > 0) std::memcpy(state.held + state.heldCount, in, left);
    state.heldCount += left;
    return emit;
}

}  // namespace

// ---- encryption ---------------------------------------------------------------

Des3Encryptor::Des3Encryptor(ByteView key, ByteView iv) : state_(makeEncryptStream(key, &iv)) {}
Des3Encryptor::Des3Encryptor(ByteView key) : state_(makeEncryptStream(key, nullptr)) {}
Des3Encryptor::~Des3Encryptor() { delete state_; }

Des3Encryptor::Des3Encryptor(Des3Encryptor&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
Des3Encryptor& Des3Encryptor::operator=(Des3Encryptor&& other) noexcept {
    takeOver(state_, other.state_);
    return *this;
}

void Des3Encryptor::reset() noexcept {
    if (state_ != nullptr) restart(*state_);
}

std::size_t Des3Encryptor::updateCapacity(std::size_t dataSize) const noexcept {
    // The held count is below 8, so the sum cannot wrap for any real size.
    const std::size_t held = state_ != nullptr ? state_->heldCount : 0;
    return (held + dataSize) / kDes3Block * kDes3Block;
}

std::size_t Des3Encryptor::update(ByteView data, std::span<std::uint8_t> out) {
    Des3EncryptStream& state = stateOf(state_);
    return updateStream(state, data, out, updateCapacity(data.size()),
                        [&](const std::uint8_t* held, const std::uint8_t* blocks, std::size_t length,
                            std::uint8_t* to) {
                            // The context carries the chaining value from one call to the next.
                            if (held != nullptr) {
                                encryptBlocks(state, held, kDes3Block, to);
                                to += kDes3Block;
                            }
                            if (length > 0) encryptBlocks(state, blocks, length, to);
                        });
}

std::size_t Des3Encryptor::finish(std::span<std::uint8_t> out) {
    Des3EncryptStream& state = stateOf(state_);
    corvane::detail::checkRoom(out.size(), kDes3Block);
    std::uint8_t last[kDes3Block];
    corvane::detail::des3PadBlock(state.held, state.heldCount, last);
    const bool ok = state.cipher.encrypt(last, kDes3Block, out.data());
    secure_zero(last, sizeof last);
    restart(state);
    if (!ok) corvane::detail::throwError(make_error_code(ErrorCode::encryptionRefused));
    return kDes3Block;
}

std::vector<std::uint8_t> Des3Encryptor::update(ByteView data) { return updateToVector(*this, data); }

std::vector<std::uint8_t> Des3Encryptor::finish() {
    std::vector<std::uint8_t> out(kDes3Block);
    finish(out);
    return out;
}

// ---- decryption ---------------------------------------------------------------

Des3Decryptor::Des3Decryptor(ByteView key, ByteView iv) : state_(makeDecryptStream(key, &iv)) {}
Des3Decryptor::Des3Decryptor(ByteView key) : state_(makeDecryptStream(key, nullptr)) {}
Des3Decryptor::~Des3Decryptor() { delete state_; }

Des3Decryptor::Des3Decryptor(Des3Decryptor&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
Des3Decryptor& Des3Decryptor::operator=(Des3Decryptor&& other) noexcept {
    takeOver(state_, other.state_);
    return *this;
}

void Des3Decryptor::reset() noexcept {
    if (state_ != nullptr) restart(*state_);
}

std::size_t Des3Decryptor::updateCapacity(std::size_t dataSize) const noexcept {
    // Everything but the last block (whole or not) of what is held so far.
    const std::size_t held = (state_ != nullptr ? state_->heldCount : 0) + dataSize;
    return held == 0 ? 0 : (held - 1) / kDes3Block * kDes3Block;
}

std::size_t Des3Decryptor::update(ByteView data, std::span<std::uint8_t> out) {
    Des3DecryptStream& state = stateOf(state_);
    return updateStream(state, data, out, updateCapacity(data.size()),
                        [&](const std::uint8_t* held, const std::uint8_t* blocks, std::size_t length,
                            std::uint8_t* to) {
                            // All the blocks in one call; the last of them is the
                            // chaining value of the next.
                            std::uint8_t next[kDes3Block];
                            std::memcpy(next, length > 0 ? blocks + length - kDes3Block : held, kDes3Block);
                            if (held != nullptr)
                                state.decryption.decryptAfter(state.chain, held, blocks, to,
                                                              1 + length / kDes3Block);
                            else
                                state.decryption.decrypt(state.chain, blocks, to, length / kDes3Block, nullptr);
                            std::memcpy(state.chain, next, kDes3Block);
                        });
}

std::size_t Des3Decryptor::finish(std::span<std::uint8_t> out, std::error_code& error) noexcept {
    error.clear();
    if (state_ == nullptr || out.size() < kDes3Block) {
        error = ErrorCode::invalidInput;
        return 0;
    }
    Des3DecryptStream& state = *state_;
    // Whole blocks, at least one: the held bytes are then one whole block.
    if (state.heldCount != kDes3Block) {
        error = ErrorCode::decryptionRefused;
        restart(state);
        return 0;
    }
    std::uint8_t last[kDes3Block];
    state.decryption.decrypt(state.chain, state.held, last, 1, nullptr);
    const std::size_t pad = corvane::detail::des3PaddingLength(last);
    std::size_t size = 0;
    if (pad == 0) {
        error = ErrorCode::decryptionRefused;
    } else {
        size = kDes3Block - pad;
        std::memcpy(out.data(), last, size);
    }
    secure_zero(last, sizeof last);
    restart(state);
    return size;
}

std::size_t Des3Decryptor::finish(std::span<std::uint8_t> out) {
    if (state_ == nullptr) stateOf(state_);
    corvane::detail::checkRoom(out.size(), kDes3Block);
    std::error_code error;
    std::size_t size = finish(out, error);
    corvane::detail::throwIfError(error);
    return size;
}

std::vector<std::uint8_t> Des3Decryptor::update(ByteView data) { return updateToVector(*this, data); }

std::vector<std::uint8_t> Des3Decryptor::finish() {
    std::uint8_t last[kDes3Block];
    std::size_t size = finish(std::span<std::uint8_t>(last));
    std::vector<std::uint8_t> out(last, last + size);
    secure_zero(last, sizeof last);
    return out;
}

}  // namespace corvane::v1

// The forms that report a failure in an ErrorInfo instead of throwing it:
// each runs the throwing form and keeps what its Error says, so the code
// and the message are exactly the exception's.
namespace corvane::v1 {

std::size_t Des3Decryptor::finish(std::span<std::uint8_t> out, ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return finish(out); });
}

}  // namespace corvane::v1
