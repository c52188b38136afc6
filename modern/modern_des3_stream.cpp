// Des3Encryptor and Des3Decryptor: CBC chaining carried from piece to piece.
// Each update() hands every whole block it can to the cipher in one call
// (two when a block left over from the piece before is completed first);
// the encryptor keeps the 0 to 7 bytes of an unfinished block, the
// decryptor 1 to 8 bytes: its last block may be the padding block, which
// only finish() can judge.
#include <algorithm>
#include <cstring>

#include "des3_cbc.h"
#include "modern_support.h"
#include "secure_zero.h"

namespace corvane::v1 {

namespace {

using corvane::v1::detail::Des3StreamState;
using corvane::detail::kDes3Block;

void start(Des3StreamState& state, ByteView key, const ByteView* iv) noexcept {
    corvane::detail::des3KeyArea(key, state.key);
    corvane::detail::des3IvArea(state.key, iv, state.iv);
    std::memcpy(state.chain, state.iv, kDes3Block);
    state.heldCount = 0;
    state.total = 0;
}

// Back to the start of a message: the held bytes wiped, the chain restarted.
void restart(Des3StreamState& state) noexcept {
    secure_zero(state.held, sizeof state.held);
    std::memcpy(state.chain, state.iv, kDes3Block);
    state.heldCount = 0;
    state.total = 0;
}

void wipe(Des3StreamState& state) noexcept { secure_zero(&state, sizeof state); }

// Codes blocks through the cipher; a failure ends the message.
void blocks(Des3StreamState& state, bool encrypt, const std::uint8_t* in, std::size_t length,
            std::uint8_t* out) {
    std::error_code error = corvane::detail::des3Blocks(encrypt, state.key, state.chain, in, length, out);
    if (error) {
        restart(state);
        corvane::detail::throwError(error);
    }
}

// Codes the first `emit` bytes of held bytes followed by data into out and
// keeps the rest of data as the held bytes.
std::size_t codePiece(Des3StreamState& state, bool encrypt, ByteView data, std::size_t emit,
                      std::uint8_t* out) {
    const std::uint8_t* in = data.data();
    std::size_t left = data.size();
    std::size_t written = 0;
    if (emit > 0 && state.heldCount > 0) {
        // Complete the held block from the front of the data.
        const std::size_t fill = kDes3Block - state.heldCount;
        std::memcpy(state.held + state.heldCount, in, fill);
        in += fill;
        left -= fill;
        state.heldCount = 0;
        if (!encrypt) {
            // Decryption takes the held block and the piece's blocks in one
            // call of the engine.
            corvane::detail::des3DecryptAfter(state.key, state.chain, state.held, in, emit, out);
            in += emit - kDes3Block;
            left -= emit - kDes3Block;
            if (left > 0) std::memcpy(state.held, in, left);
            state.heldCount = left;
            state.total += data.size();
            return emit;
        }
        blocks(state, encrypt, state.held, kDes3Block, out);
        written = kDes3Block;
    }
    const std::size_t bulk = emit - written;
    blocks(state, encrypt, in, bulk, out + written);
    in += bulk;
    left -= bulk;
    if (left > 0) std::memcpy(state.held + state.heldCount, in, left);
    state.heldCount += left;
    state.total += data.size();
    return emit;
}

template <typename Coder>
std::vector<std::uint8_t> updateToVector(Coder& coder, ByteView data) {
    std::vector<std::uint8_t> out(coder.updateCapacity(data.size()));
    out.resize(coder.update(data, out));
    return out;
}

}  // namespace

// ---- encryption ---------------------------------------------------------------

Des3Encryptor::Des3Encryptor(ByteView key, ByteView iv) : state_{} {
    corvane::detail::des3CheckKey(key);
    start(state_, key, &iv);
}
Des3Encryptor::Des3Encryptor(ByteView key) : state_{} {
    corvane::detail::des3CheckKey(key);
    start(state_, key, nullptr);
}
Des3Encryptor::~Des3Encryptor() { wipe(state_); }

void Des3Encryptor::reset() noexcept { restart(state_); }

std::size_t Des3Encryptor::updateCapacity(std::size_t dataSize) const noexcept {
    // The held count is below 8, so the sum cannot wrap for any real size.
    return (state_.heldCount + dataSize) / kDes3Block * kDes3Block;
}

std::size_t Des3Encryptor::update(ByteView data, std::span<std::uint8_t> out) {
    const std::size_t emit = updateCapacity(data.size());
    corvane::detail::checkRoom(out.size(), emit);
    return codePiece(state_, true, data, emit, out.data());
}

std::size_t Des3Encryptor::finish(std::span<std::uint8_t> out) {
    corvane::detail::checkRoom(out.size(), kDes3Block);
    std::uint8_t last[kDes3Block];
    corvane::detail::des3PadBlock(state_.held, state_.heldCount, last);
    std::error_code error = corvane::detail::des3Blocks(true, state_.key, state_.chain, last, kDes3Block, out.data());
    secure_zero(last, sizeof last);
    restart(state_);
    corvane::detail::throwIfError(error);
    return kDes3Block;
}

std::vector<std::uint8_t> Des3Encryptor::update(ByteView data) { return updateToVector(*this, data); }

std::vector<std::uint8_t> Des3Encryptor::finish() {
    std::vector<std::uint8_t> out(kDes3Block);
    finish(out);
    return out;
}

// ---- decryption ---------------------------------------------------------------

Des3Decryptor::Des3Decryptor(ByteView key, ByteView iv) : state_{} {
    corvane::detail::des3CheckKey(key);
    start(state_, key, &iv);
}
Des3Decryptor::Des3Decryptor(ByteView key) : state_{} {
    corvane::detail::des3CheckKey(key);
    start(state_, key, nullptr);
}
Des3Decryptor::~Des3Decryptor() { wipe(state_); }

void Des3Decryptor::reset() noexcept { restart(state_); }

std::size_t Des3Decryptor::updateCapacity(std::size_t dataSize) const noexcept {
    // Everything but the last block (whole or not) of what is held so far.
    const std::size_t held = state_.heldCount + dataSize;
    return held == 0 ? 0 : (held - 1) / kDes3Block * kDes3Block;
}

std::size_t Des3Decryptor::update(ByteView data, std::span<std::uint8_t> out) {
    const std::size_t emit = updateCapacity(data.size());
    corvane::detail::checkRoom(out.size(), emit);
    return codePiece(state_, false, data, emit, out.data());
}

std::size_t Des3Decryptor::finish(std::span<std::uint8_t> out, std::error_code& error) noexcept {
    error.clear();
    if (out.size() < kDes3Block) {
        error = ErrorCode::invalidInput;
        return 0;
    }
    // Whole blocks, at least one: the held bytes are then one whole block.
    if (state_.heldCount != kDes3Block) {
        error = ErrorCode::decryptionRefused;
        restart(state_);
        return 0;
    }
    std::uint8_t last[kDes3Block];
    error = corvane::detail::des3Blocks(false, state_.key, state_.chain, state_.held, kDes3Block, last);
    const std::size_t pad = error ? 0 : corvane::detail::des3PaddingLength(last);
    std::size_t size = 0;
    if (pad == 0) {
        if (!error) error = ErrorCode::decryptionRefused;
    } else {
        size = kDes3Block - pad;
        std::memcpy(out.data(), last, size);
    }
    secure_zero(last, sizeof last);
    restart(state_);
    return size;
}

std::size_t Des3Decryptor::finish(std::span<std::uint8_t> out) {
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
