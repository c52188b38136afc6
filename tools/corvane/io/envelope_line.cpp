#include "tools/corvane/io/envelope_line.h"

#include <cstdint>
#include <span>

#include "tools/corvane/io/base64_stream.h"

namespace corvane::tool {

std::optional<v1::Envelope> parseEnvelopeLine(const std::string& line) {
    const std::span<const std::uint8_t> text(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
    const std::size_t split = line.find_first_of(" \t");
    if (split == std::string::npos) return std::nullopt;
    const std::size_t second = line.find_first_not_of(" \t", split);
    if (second == std::string::npos || line.find_first_of(" \t", second) != std::string::npos) return std::nullopt;
    auto wrapped = base64Decode(text.first(split), Base64Family::standard);
    auto payload = base64Decode(text.subspan(second), Base64Family::standard);
    // A field of whitespace alone decodes to no bytes: no envelope has an
    // empty part, and such a line is no more an envelope than one whose
    // second field is missing (which is also how the Dask job reads it).
    if (!wrapped || !payload || wrapped->empty() || payload->empty()) return std::nullopt;
    return v1::Envelope{std::move(*wrapped), std::move(*payload)};
}

}  // namespace corvane::tool
