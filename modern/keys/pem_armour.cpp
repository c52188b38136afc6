#include "modern/keys/pem_armour.h"

#include <algorithm>

#include "Classes/source/QVGTMBase64_PrivateMethods.h"
#include "platform/secure_zero.h"

namespace corvane::detail {

namespace {

using Coder = QVGTMBase64PrivateMethods;

constexpr std::string_view kBegin = "-----BEGIN ";
constexpr std::string_view kEnd = "-----END ";
constexpr std::string_view kDashes = "-----";

// The line at the front of rest without its line break (a CR before the LF
// is dropped as well); rest moves to the next line.
std::string_view takeLine(std::string_view& rest) noexcept {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    return line;
}

// The label of a "-----BEGIN label-----" or "-----END label-----" line.
bool labelOf(std::string_view line, std::string_view prefix, std::string_view& label) noexcept {
    if (!line.starts_with(prefix) || !line.ends_with(kDashes) || line.size() < prefix.size() + kDashes.size())
        return false;
    label = line.substr(prefix.size(), line.size() - prefix.size() - kDashes.size());
    return true;
}

}  // namespace

bool holdsPem(std::span<const std::uint8_t> bytes) noexcept {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return text.find(kBegin) != std::string_view::npos;
}

PemScan nextPemBlock(std::string_view& rest, PemBlock& block) noexcept {
    // The BEGIN line must start a line.
    std::size_t at = 0;
    for (;;) {
        at = rest.find(kBegin, at);
        if (at == std::string_view::npos) {
            rest = {};
            return PemScan::none;
        }
        if (at == 0 || rest[at - 1] == '\n') break;
        at += kBegin.size();
    }
    rest.remove_prefix(at);
    if (!labelOf(takeLine(rest), kBegin, block.label)) return PemScan::damaged;
    // Header lines, if any, run up to an empty line.
    block.headers = {};
    std::string_view afterBegin = rest;
    std::string_view probe = rest;
    std::string_view first = takeLine(probe);
    if (first.find(':') != std::string_view::npos) {
        std::string_view scan = rest;
        for (;;) {
            std::string_view before = scan;
            std::string_view line = takeLine(scan);
            if (line.empty()) {
                block.headers =
                    afterBegin.substr(0, static_cast<std::size_t>(before.data() - afterBegin.data()));
                rest = scan;
                break;
            }
            if (scan.empty() || line.starts_with(kEnd)) return PemScan::damaged;
        }
    }
    const char* bodyStart = rest.data();
    for (;;) {
        if (rest.empty()) return PemScan::damaged;
        const char* lineStart = rest.data();
        std::string_view line = takeLine(rest);
        std::string_view endLabel;
        if (labelOf(line, kEnd, endLabel)) {
            if (endLabel != block.label) return PemScan::damaged;
            block.body = std::string_view(bodyStart, static_cast<std::size_t>(lineStart - bodyStart));
            return PemScan::found;
        }
        if (line.starts_with(kBegin) || line.starts_with(kDashes)) return PemScan::damaged;
    }
}

bool decodePemBody(const PemBlock& block, SecretBuffer& out, bool& outOfMemory) noexcept {
    outOfMemory = false;
    if (block.body.empty()) return false;
    // The coder wants a zero-filled destination with room for one byte more.
    if (!out.resize(Coder::decodedCapacity(block.body.size()))) {
        outOfMemory = true;
        return false;
    }
    NSUInteger decoded = 0;
    try {
        decoded = Coder::baseDecode(block.body.data(), block.body.size(), out.mutableBytes().data(),
                                    out.bytes().size(), Coder::decodeChars(false), true);
    } catch (...) {
        decoded = 0;
    }
    out.resize(decoded);
    return decoded != 0;
}

std::string_view pemHeader(const PemBlock& block, std::string_view name) noexcept {
    std::string_view rest = block.headers;
    while (!rest.empty()) {
        std::string_view line = takeLine(rest);
        if (line.size() > name.size() && line.starts_with(name) && line[name.size()] == ':') {
            std::string_view value = line.substr(name.size() + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
            return value;
        }
    }
    return {};
}

std::string pemOf(std::string_view label, std::span<const std::uint8_t> der, std::string_view headers) {
    constexpr std::size_t kLine = 64;
    const std::size_t encodedLength = Coder::encodedLength(der.size(), true);
    const std::size_t lines = (encodedLength + kLine - 1) / kLine;
    std::string pem;
    pem.reserve(2 * (label.size() + kBegin.size() + kDashes.size() + 1) + headers.size() +
                (headers.empty() ? 0 : 1) + encodedLength + lines);
    pem.append(kBegin).append(label).append(kDashes).push_back('\n');
    if (!headers.empty()) pem.append(headers).push_back('\n');
    // Base64 three bytes (four characters) at a time, 48 bytes to a line.
    char chunk[kLine + 1];
    for (std::size_t at = 0; at < der.size(); at += kLine / 4 * 3) {
        std::size_t take = std::min(der.size() - at, kLine / 4 * 3);
        NSUInteger written =
            Coder::baseEncode(der.data() + at, take, chunk, sizeof chunk, Coder::encodeChars(false), true);
        pem.append(chunk, written).push_back('\n');
    }
    secure_zero(chunk, sizeof chunk);
    pem.append(kEnd).append(label).append(kDashes).push_back('\n');
    return pem;
}

}  // namespace corvane::detail
