#include "modern/keys/der_reader.h"

namespace corvane::detail {

bool DerReader::readAny(std::uint8_t& tag, std::span<const std::uint8_t>& contents,
                        std::span<const std::uint8_t>& encoding) noexcept {
    if (fault_) return false;
    if (rest_.size() < 2) return fault_.set(ErrorCode::keyUnreadable, "the DER ends early");
    tag = rest_[0];
    // Multi-byte tags never occur in the key structures.
    if ((tag & 0x1F) == 0x1F) return fault_.set(ErrorCode::keyUnreadable, "an unexpected DER tag");
    std::size_t header = 2;
    std::size_t length = rest_[1];
    if (length == 0x80) return fault_.set(ErrorCode::keyMalformed, "an indefinite length");
    if (length > 0x80) {
        std::size_t count = length & 0x7F;
        // Four length bytes already exceed any key file.
        if (count > 4) return fault_.set(ErrorCode::keyUnreadable, "a DER length beyond any key");
        if (rest_.size() < 2 + count) return fault_.set(ErrorCode::keyUnreadable, "the DER ends early");
        if (rest_[2] == 0) return fault_.set(ErrorCode::keyMalformed, "a length that is not minimal");
        length = 0;
        for (std::size_t i = 0; i < count; i++) length = length << 8 | rest_[2 + i];
        if (length < 0x80) return fault_.set(ErrorCode::keyMalformed, "a length that is not minimal");
        header += count;
    }
    if (length > rest_.size() - header) return fault_.set(ErrorCode::keyUnreadable, "the DER ends early");
    contents = rest_.subspan(header, length);
    encoding = rest_.first(header + length);
    rest_ = rest_.subspan(header + length);
    return true;
}

bool DerReader::read(std::uint8_t tag, std::span<const std::uint8_t>& contents) noexcept {
    if (fault_) return false;
    if (nextTag() != tag) {
        if (rest_.empty()) return fault_.set(ErrorCode::keyUnreadable, "the DER ends early");
        return fault_.set(ErrorCode::keyUnreadable, "another structure than expected");
    }
    std::uint8_t found = 0;
    std::span<const std::uint8_t> encoding;
    return readAny(found, contents, encoding);
}

bool DerReader::enter(DerReader& inner, std::uint8_t tag) noexcept {
    std::span<const std::uint8_t> contents;
    if (!read(tag, contents)) return false;
    inner.rest_ = contents;
    return true;
}

bool DerReader::readUnsigned(std::span<const std::uint8_t>& magnitude) noexcept {
    std::span<const std::uint8_t> contents;
    if (!read(der::kInteger, contents)) return false;
    if (contents.empty()) return fault_.set(ErrorCode::keyMalformed, "an INTEGER without contents");
    if (contents.size() > 1 &&
        ((contents[0] == 0 && contents[1] < 0x80) || (contents[0] == 0xFF && contents[1] >= 0x80)))
        return fault_.set(ErrorCode::keyMalformed, "an INTEGER that is not minimal");
    if (contents[0] >= 0x80) return fault_.set(ErrorCode::keyMalformed, "a negative INTEGER");
    magnitude = contents[0] == 0 ? contents.subspan(1) : contents;
    return true;
}

bool DerReader::readSmall(std::uint32_t& value) noexcept {
    std::span<const std::uint8_t> magnitude;
    if (!readUnsigned(magnitude)) return false;
    if (magnitude.size() > 4) return fault_.set(ErrorCode::keyUnreadable, "a count beyond its range");
    value = 0;
    for (std::uint8_t b : magnitude) value = value << 8 | b;
    return true;
}

bool DerReader::readNull() noexcept {
    std::span<const std::uint8_t> contents;
    if (!read(der::kNull, contents)) return false;
    if (!contents.empty()) return fault_.set(ErrorCode::keyMalformed, "a NULL with contents");
    return true;
}

bool DerReader::finish() noexcept {
    if (fault_) return false;
    if (!rest_.empty()) return fault_.set(ErrorCode::keyMalformed, "bytes after the DER object");
    return true;
}

}  // namespace corvane::detail
