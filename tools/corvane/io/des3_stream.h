// The des3 command's cipher stage: the library's Des3Encryptor or
// Des3Decryptor between the input pieces and the next stage, with the
// tool's failure messages. The output is that of QVDes3 on the whole input
// at once, in memory bounded by the piece size, with no length limit.
#ifndef CORVANE_TOOL_DES3_STREAM_H
#define CORVANE_TOOL_DES3_STREAM_H

#include <Corvane/corvane.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tools/corvane/io/chunked_io.h"

namespace corvane::tool {

class Des3Stage final : public ByteSink {
public:
    // key: 1 to 24 bytes, iv: up to 8 bytes or none, as QVDes3 takes them.
    Des3Stage(bool encrypt, std::span<const std::uint8_t> key, std::optional<std::span<const std::uint8_t>> iv,
              ByteSink& out);
    ~Des3Stage() override;
    Des3Stage(const Des3Stage&) = delete;
    Des3Stage& operator=(const Des3Stage&) = delete;

    void write(std::span<const std::uint8_t> bytes) override;
    void finish() override;

private:
    // Passes out the first `size` bytes of the output buffer, then wipes them
    // (a plaintext, when decrypting).
    void pass(std::size_t size);

    std::variant<v1::Des3Encryptor, v1::Des3Decryptor> cipher_;
    ByteSink& out_;
    Bytes buffer_;
    std::uint64_t total_ = 0;
};

// des3 decrypt's input (FILE, or standard input for none or "-") read into
// cipher: Base64 text, or bytes with raw, as which Base64 text is refused
// before anything is passed on (RawInputCheck). progress as for pumpInput.
void pumpCiphertext(const std::vector<std::string>& files, bool raw, ByteSink& cipher, bool progress);

}  // namespace corvane::tool

#endif
