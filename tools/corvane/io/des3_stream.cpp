#include "tools/corvane/io/des3_stream.h"

#include <string>

#include "platform/secure_zero.h"
#include "tools/corvane/io/base64_stream.h"
#include "tools/corvane/io/text_forms.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

constexpr std::size_t kBlock = 8;

std::variant<v1::Des3Encryptor, v1::Des3Decryptor> makeCipher(bool encrypt, std::span<const std::uint8_t> key,
                                                            std::optional<std::span<const std::uint8_t>> iv) {
    if (encrypt) {
        if (iv) return std::variant<v1::Des3Encryptor, v1::Des3Decryptor>(std::in_place_index<0>, key, *iv);
        return std::variant<v1::Des3Encryptor, v1::Des3Decryptor>(std::in_place_index<0>, key);
    }
    if (iv) return std::variant<v1::Des3Encryptor, v1::Des3Decryptor>(std::in_place_index<1>, key, *iv);
    return std::variant<v1::Des3Encryptor, v1::Des3Decryptor>(std::in_place_index<1>, key);
}

}  // namespace

Des3Stage::Des3Stage(bool encrypt, std::span<const std::uint8_t> key,
                     std::optional<std::span<const std::uint8_t>> iv, ByteSink& out)
    : cipher_(makeCipher(encrypt, key, iv)), out_(out) {}

Des3Stage::~Des3Stage() { secure_zero(buffer_.data(), buffer_.size()); }

void Des3Stage::pass(std::size_t size) {
    out_.write(std::span(buffer_).first(size));
    secure_zero(buffer_.data(), size);
}

void Des3Stage::write(std::span<const std::uint8_t> bytes) {
    total_ += bytes.size();
    try {
        std::visit(
            [&](auto& cipher) {
                const std::size_t room = cipher.updateCapacity(bytes.size());
                if (buffer_.size() < room) buffer_.resize(room);
                pass(cipher.update(bytes, buffer_));
            },
            cipher_);
    } catch (const v1::Error& e) {
        failure(std::string("triple-DES failed: ") + e.what());
    }
}

void Des3Stage::finish() {
    if (auto* encryptor = std::get_if<v1::Des3Encryptor>(&cipher_)) {
        std::uint8_t last[kBlock];
        out_.write(std::span(last, encryptor->finish(last)));
    } else {
        auto& decryptor = std::get<v1::Des3Decryptor>(cipher_);
        if (total_ == 0) failure("decryption failed: there is no ciphertext");
        if (total_ % kBlock != 0)
            failure("decryption failed: the ciphertext has " + std::to_string(total_) +
                    " bytes, not a whole number of 8-byte blocks");
        std::uint8_t last[kBlock];
        std::error_code error;
        const std::size_t size = decryptor.finish(last, error);
        if (error) failure("decryption failed: wrong key or IV, or damaged data");
        out_.write(std::span(last, size));
        secure_zero(last, sizeof last);
    }
    out_.finish();
}

void pumpCiphertext(const std::vector<std::string>& files, bool raw, ByteSink& cipher, bool progress) {
    if (raw) {
        RawInputCheck bytes(kBlock, cipher);
        return pumpInput(files, bytes, progress);
    }
    Base64DecodeStage text(Base64Family::standard, false, "input is not valid Base64 (use --raw for binary ciphertext)",
                           cipher);
    pumpInput(files, text, progress);
}

}  // namespace corvane::tool
