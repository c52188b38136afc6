// Feeds arbitrary lines to the tool's envelope line parser (what `envelope
// open` reads from a sender, one line at a time), and checks:
//   - an accepted line has the shape the parser promises: a field, a run of
//     spaces or tabs, a field, no NUL, neither part empty, and parts no
//     longer than their Base64 allows;
//   - an accepted line's fields, written back as `envelope seal` writes them,
//     read back to the same fields (so what open accepts, seal can say);
//   - any two byte strings, written that way with a space or a tab, read
//     back to themselves.
//
// Input: the line itself (carriage returns, NULs and line feeds included:
// the parser must not rely on the line reader). With a first byte of 0x01
// the rest is repeated up to the tool's longest line (65536 bytes), for
// overlong fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/corvane/io/base64_stream.h"
#include "tools/corvane/io/envelope_line.h"

namespace {

namespace cv = corvane::v1;
using corvane::tool::Base64Family;
using corvane::tool::base64Encode;
using corvane::tool::parseEnvelopeLine;

constexpr std::size_t kLineLimit = 65536;
constexpr std::uint8_t kRepeat = 0x01;

void require(bool condition) {
    if (!condition) std::abort();
}

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string lineOf(const cv::Envelope& envelope, const char* separator) {
    return base64Encode(envelope.wrappedKey, Base64Family::standard) + separator +
           base64Encode(envelope.payload, Base64Family::standard);
}

void checkAccepted(const std::string& line, const cv::Envelope& fields) {
    require(!fields.wrappedKey.empty() && !fields.payload.empty());
    require(std::memchr(line.data(), 0, line.size()) == nullptr);
    require(!blank(line.front()) && !blank(line.back()));
    const std::size_t split = line.find_first_of(" \t");
    const std::size_t second = line.find_first_not_of(" \t", split);
    require(split != std::string::npos && second != std::string::npos);
    require(line.find_first_of(" \t", second) == std::string::npos);
    require(fields.wrappedKey.size() <= split / 4 * 3 + 3);
    require(fields.payload.size() <= (line.size() - second) / 4 * 3 + 3);

    for (const char* separator : {" ", "\t"}) {
        const std::optional<cv::Envelope> again = parseEnvelopeLine(lineOf(fields, separator));
        require(again && again->wrappedKey == fields.wrappedKey && again->payload == fields.payload);
    }
}

// Two byte strings cut from the input, as the wrapped key and the payload.
void checkWritten(const std::uint8_t* data, std::size_t size) {
    const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    cv::Envelope envelope{std::vector<std::uint8_t>(data, data + cut),
                          std::vector<std::uint8_t>(data + cut, data + size)};
    for (const char* separator : {" ", "\t", " \t  "}) {
        const std::optional<cv::Envelope> read = parseEnvelopeLine(lineOf(envelope, separator));
        if (envelope.wrappedKey.empty() || envelope.payload.empty()) continue;
        require(read && read->wrappedKey == envelope.wrappedKey && read->payload == envelope.payload);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    if (size > 1 && data[0] == kRepeat) {
        const std::string unit = line.substr(1);
        line.clear();
        while (line.size() + unit.size() <= kLineLimit) line += unit;
    }
    const std::optional<cv::Envelope> fields = parseEnvelopeLine(line);
    if (fields) checkAccepted(line, *fields);
    checkWritten(data, size);
    return 0;
}
