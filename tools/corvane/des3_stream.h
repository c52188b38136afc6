// Triple-DES in CBC mode with PKCS #7 padding through QVDes3, in pieces.
//
// QVDes3 codes one buffer at a time; CBC chains each block to the one
// before, so the input is cut after whole blocks and each piece is coded
// with the previous piece's last ciphertext block as its IV. The output is
// byte for byte what QVDes3 gives for the whole input at once (with the
// same key and IV, or none), and memory stays bounded whatever the input's
// length, which also lifts the class's limit of 2^31 - 9 bytes per call.
//
// Decryption refuses, at the end, input that is empty, not a whole number of
// 8-byte blocks, or whose last block does not hold valid padding under the
// key; what was written before is then incomplete.
#ifndef CORVANE_TOOL_DES3_STREAM_H
#define CORVANE_TOOL_DES3_STREAM_H

#include <Corvane/Foundation.h>

#include <algorithm>
#include <cstdint>
#include <optional>

#include "chunked_io.h"

namespace corvane::tool {

class Des3Stream final : public ByteSink {
public:
    // key: 1 to 24 bytes, iv: up to 8 bytes or none, as QVDes3 takes them.
    // Each call of the class codes about pieceSize bytes.
    Des3Stream(bool encrypt, std::span<const std::uint8_t> key,
               std::optional<std::span<const std::uint8_t>> iv, ByteSink& out,
               std::size_t pieceSize = defaultPieceSize());
    ~Des3Stream() override;
    Des3Stream(const Des3Stream&) = delete;
    Des3Stream& operator=(const Des3Stream&) = delete;

    void write(std::span<const std::uint8_t> bytes) override;
    void finish() override;

    // The input's piece size, but at most 256 KiB: a call of the class holds
    // its input, output and working copies at once, and triple-DES is slow
    // enough that the cost of a call does not show.
    static std::size_t defaultPieceSize() {
        return std::min<std::size_t>(chunkSize(), std::size_t{256} << 10);
    }

private:
    // Codes whole blocks that are not the input's last and moves the chain on.
    void encryptBlocks(std::span<const std::uint8_t> blocks);
    void decryptBlocks(std::span<const std::uint8_t> blocks);
    // One call of the class; a refusal is a failure with the tool's message.
    Ref<NSData> run(const NSData* data, bool encrypt, const NSData* iv);

    bool encrypt_;
    ByteSink& out_;
    std::size_t pieceSize_;
    Ref<NSData> key_;
    // The IV of the next call: the caller's (nil for none) until the first
    // piece is coded, then the last ciphertext block.
    Ref<NSData> chain_;
    // Input not yet coded: at least the last block is held back until
    // finish(), where the padding is added or checked.
    Bytes pending_;
    std::uint64_t total_ = 0;
};

}  // namespace corvane::tool

#endif
