// The one-line text form of an envelope (<Corvane/modern/envelope.hpp>),
// shared by the tool's --lines jobs and the Python archive jobs so that both
// read every line alike.
#include <Corvane/modern/coding.hpp>
#include <Corvane/modern/envelope.hpp>

namespace corvane::v1 {

namespace {

constexpr std::string_view kBlanks = " \t";

std::optional<std::vector<std::uint8_t>> fieldBytes(std::string_view field) {
    std::error_code error;
    std::vector<std::uint8_t> bytes =
        base64Decode(ByteView(reinterpret_cast<const std::uint8_t*>(field.data()), field.size()),
                     Base64Alphabet::standard, Base64Padding::padded, error);
    // Whitespace alone is an error for base64Decode; no envelope has an
    // empty part either.
    if (error || bytes.empty()) return std::nullopt;
    return bytes;
}

}  // namespace

std::string envelopeLine(EnvelopeView envelope) {
    std::string line = base64Encode(envelope.wrappedKey);
    line += ' ';
    line += base64Encode(envelope.payload);
    return line;
}

std::optional<Envelope> parseEnvelopeLine(std::string_view line) {
    const std::size_t split = line.find_first_of(kBlanks);
    if (split == std::string_view::npos) return std::nullopt;
    const std::size_t second = line.find_first_not_of(kBlanks, split);
    if (second == std::string_view::npos || line.find_first_of(kBlanks, second) != std::string_view::npos)
        return std::nullopt;
    auto wrapped = fieldBytes(line.substr(0, split));
    if (!wrapped) return std::nullopt;
    auto payload = fieldBytes(line.substr(second));
    if (!payload) return std::nullopt;
    return Envelope{std::move(*wrapped), std::move(*payload)};
}

}  // namespace corvane::v1
