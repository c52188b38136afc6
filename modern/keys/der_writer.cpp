#include "modern/keys/der_writer.h"

#include "modern/keys/der_reader.h"

namespace corvane::detail {

bool DerWriter::raw(std::span<const std::uint8_t> bytes) noexcept {
    if (ok_ && !out_.append(bytes.data(), bytes.size())) ok_ = false;
    return ok_;
}

bool DerWriter::header(std::uint8_t tag, std::size_t length) noexcept {
    std::uint8_t head[2 + sizeof(std::size_t)] = {tag};
    std::size_t used = 2;
    if (length < 0x80) {
        head[1] = static_cast<std::uint8_t>(length);
    } else {
        std::size_t count = 0;
        for (std::size_t rest = length; rest != 0; rest >>= 8) count++;
        head[1] = static_cast<std::uint8_t>(0x80 | count);
        for (std::size_t i = 0; i < count; i++)
            head[1 + count - i] = static_cast<std::uint8_t>(length >> (8 * i));
        used += count;
    }
    return raw(std::span<const std::uint8_t>(head, used));
}

bool DerWriter::element(std::uint8_t tag, std::span<const std::uint8_t> contents) noexcept {
    return header(tag, contents.size()) && raw(contents);
}

bool DerWriter::unsignedInteger(std::span<const std::uint8_t> magnitude) noexcept {
    while (!magnitude.empty() && magnitude[0] == 0) magnitude = magnitude.subspan(1);
    if (magnitude.empty()) {
        static constexpr std::uint8_t kZero[] = {0};
        return element(der::kInteger, kZero);
    }
    bool pad = magnitude[0] >= 0x80;
    static constexpr std::uint8_t kPad[] = {0};
    return header(der::kInteger, magnitude.size() + (pad ? 1 : 0)) && (!pad || raw(kPad)) && raw(magnitude);
}

bool DerWriter::smallInteger(std::uint32_t value) noexcept {
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(value >> 24),
                                  static_cast<std::uint8_t>(value >> 16),
                                  static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    return unsignedInteger(bytes);
}

bool DerWriter::wrap(std::uint8_t tag, const DerWriter& inner) noexcept {
    if (!inner.ok_) ok_ = false;
    return ok_ && element(tag, inner.bytes());
}

bool DerWriter::bitString(const DerWriter& inner) noexcept {
    static constexpr std::uint8_t kNoUnusedBits[] = {0};
    if (!inner.ok_) ok_ = false;
    return ok_ && header(der::kBitString, inner.bytes().size() + 1) && raw(kNoUnusedBits) &&
           raw(inner.bytes());
}

}  // namespace corvane::detail
