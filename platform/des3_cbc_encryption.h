// Triple-DES CBC encryption (whole blocks, no padding) whose key is set up
// once for many calls: the platform cipher's context is initialised with the
// key and IV when the object starts and kept, and each call encrypts its
// blocks alone, the chaining value carried inside the context from call to
// call. The modern layer's Des3Encryptor holds one for its lifetime.
// Internal: not installed, not exported.
#ifndef CORVANE_DES3_CBC_ENCRYPTION_H
#define CORVANE_DES3_CBC_ENCRYPTION_H

#include <cstddef>
#include <cstdint>

namespace corvane {

class Des3CbcEncryption {
public:
    Des3CbcEncryption() noexcept = default;
    // Frees the context: the key schedule and chaining value are wiped.
    ~Des3CbcEncryption();
    Des3CbcEncryption(const Des3CbcEncryption&) = delete;
    Des3CbcEncryption& operator=(const Des3CbcEncryption&) = delete;

    // Sets up the key (24 bytes) and the IV (8 bytes); false when memory
    // runs out (the object then holds nothing).
    bool start(const std::uint8_t* key, const std::uint8_t* iv) noexcept;
    // Back to the IV for the next message, the key's set-up kept.
    bool restart(const std::uint8_t* iv) noexcept;
    // Encrypts length bytes (a multiple of 8) of in into out (the same
    // buffer, or not overlapping), continuing the chain. false only when the
    // cipher fails (never, once started); out is then wiped.
    bool encrypt(const std::uint8_t* in, std::size_t length, std::uint8_t* out) noexcept;

private:
    void* context_ = nullptr;
};

}  // namespace corvane

#endif  // CORVANE_DES3_CBC_ENCRYPTION_H
