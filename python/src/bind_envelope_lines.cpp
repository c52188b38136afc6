// Whole partitions of an archive in one call: lines of envelopes (or of
// Base64 messages) in, the output lines out, exactly as `corvane envelope
// open|seal --lines` writes them, with the lines that failed and why. The
// archive jobs hand each partition's bytes over at once, so that the cost
// per record is the batch call's and not Python's per-line work.
#include <pybind11/stl.h>

#include <algorithm>
#include <string_view>
#include <tuple>

#include "platform/secure_zero.h"
#include "python/src/conversions.h"

namespace corvane::python {

namespace {

// What the tool takes as one line (one carriage return before the line feed
// dropped) and the longest it reads.
constexpr std::size_t kLineLimit = 65536;

constexpr std::string_view kRefusedLine = "error: envelope refused\n";
constexpr std::string_view kNotAnEnvelopeLine =
    "error: not an envelope: two Base64 fields separated by a space or tab\n";
constexpr std::string_view kTooLongLine = "error: line longer than 65536 bytes\n";
constexpr std::string_view kNotBase64Line = "error: not valid Base64\n";

// The lines of text, split at line feeds only; a last line without one
// counts when it holds a byte. nullopt marks a line above the limit.
std::vector<std::optional<std::string_view>> splitLines(cv::ByteView bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::vector<std::optional<std::string_view>> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() > kLineLimit)
            lines.emplace_back(std::nullopt);
        else
            lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

// The short reason the archive jobs record for a refusal.
const char* refusalReason(const std::error_code& error) {
    if (error == ErrorCode::envelopeMalformed) return "envelope malformed";
    if (error == ErrorCode::envelopeKeyRefused) return "wrapped key refused";
    if (error == ErrorCode::envelopePaddingRefused) return "payload padding refused";
    if (error == ErrorCode::envelopeKeyNotText) return "key not text";
    return "envelope refused";
}

using BadLines = std::vector<std::tuple<std::size_t, std::string>>;

// One partition's outcome, built with the GIL released: per line its output
// (a plaintext, an envelope line or an error line) and the bad lines.
struct LinesOutcome {
    std::vector<std::string_view> errorLines;  // per line; empty where it went through
    std::vector<std::vector<std::uint8_t>> plaintexts;  // per line, open: wiped when done
    std::vector<std::string> envelopes;                 // per line, seal and re-seal
    BadLines bad;

    explicit LinesOutcome(std::size_t count) : errorLines(count), plaintexts(count), envelopes(count) {}
    LinesOutcome(const LinesOutcome&) = delete;
    LinesOutcome& operator=(const LinesOutcome&) = delete;
    ~LinesOutcome() {
        for (auto& plaintext : plaintexts) secure_zero(plaintext.data(), plaintext.size());
    }
    void fail(std::size_t line, std::string_view output, std::string reason) {
        errorLines[line] = output;
        bad.emplace_back(line, std::move(reason));
    }
};


// Opens every envelope line; each opened plaintext is left in
// outcome.plaintexts.
void openLines(const cv::RsaPrivateKey& key, const cv::EnvelopeOpening& opening, LinesOutcome& outcome,
               const std::vector<std::optional<std::string_view>>& lines) {
    std::vector<cv::Envelope> envelopes;
    std::vector<cv::EnvelopeView> views;
    std::vector<std::size_t> owners;
    envelopes.reserve(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i]) {
            outcome.fail(i, kTooLongLine, "line too long");
            continue;
        }
        std::optional<cv::Envelope> parsed = cv::parseEnvelopeLine(*lines[i]);
        if (!parsed) {
            outcome.fail(i, kNotAnEnvelopeLine, "not an envelope");
            continue;
        }
        envelopes.push_back(std::move(*parsed));
        owners.push_back(i);
    }
    for (const cv::Envelope& envelope : envelopes) views.push_back({envelope.wrappedKey, envelope.payload});
    std::vector<cv::BatchResult> opened = cv::openEnvelopes(key, views, opening);
    for (std::size_t j = 0; j < opened.size(); ++j) {
        if (opened[j].error) {
            // An allocation that failed is no verdict on the record.
            if (opened[j].error == ErrorCode::outOfMemory) throw std::bad_alloc();
            outcome.fail(owners[j], kRefusedLine, refusalReason(opened[j].error));
        } else {
            outcome.plaintexts[owners[j]] = std::move(opened[j].bytes);
        }
    }
}

// Seals every plaintext of the outcome (the lines that went through) under
// the public key, as envelope lines; the plaintexts are wiped.
void sealPlaintexts(const cv::RsaPublicKey& key, bool hexKey, LinesOutcome& outcome) {
    std::vector<cv::ByteView> messages;
    std::vector<std::size_t> owners;
    for (std::size_t i = 0; i < outcome.errorLines.size(); ++i) {
        if (!outcome.errorLines[i].empty()) continue;
        messages.push_back(outcome.plaintexts[i]);
        owners.push_back(i);
    }
    cv::RandomPool pool;
    const std::vector<cv::Envelope> sealed =
        cv::sealEnvelopes(key, messages, pool, hexKey ? cv::Des3KeyForm::hexText : cv::Des3KeyForm::bytes);
    for (std::size_t j = 0; j < sealed.size(); ++j) {
        outcome.envelopes[owners[j]] = cv::envelopeLine({sealed[j].wrappedKey, sealed[j].payload}) + "\n";
        std::vector<std::uint8_t>& plaintext = outcome.plaintexts[owners[j]];
        secure_zero(plaintext.data(), plaintext.size());
        plaintext.clear();
    }
}

// A message line as the tool reads it: Base64, whitespace alone the empty
// message.
std::optional<std::vector<std::uint8_t>> messageOf(std::string_view line) {
    const cv::ByteView text(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
    if (line.find('\0') != std::string_view::npos) return std::nullopt;
    cv::Base64Decoder decoder;
    std::vector<std::uint8_t> message(decoder.updateCapacity(text.size()) + cv::Base64Decoder::finishCapacity());
    std::error_code error;
    std::size_t size = decoder.update(text, message, error);
    // finish() would refuse text of whitespace alone, which the tool reads
    // as the empty message.
    const bool blank = !error && decoder.blank();
    if (!error && !blank) size += decoder.finish(std::span(message).subspan(size), error);
    if (error) {
        secure_zero(message.data(), message.size());
        return std::nullopt;
    }
    message.resize(blank ? 0 : size);
    return message;
}

// The output of the outcome as one bytes object: the plaintexts in Base64,
// the envelopes and the error lines, in line order. Call with the GIL held;
// the encoding runs with it released.
py::bytes outputOf(LinesOutcome& outcome) {
    std::size_t size = 0;
    for (std::size_t i = 0; i < outcome.errorLines.size(); ++i) {
        if (!outcome.errorLines[i].empty())
            size += outcome.errorLines[i].size();
        else if (!outcome.envelopes[i].empty())
            size += outcome.envelopes[i].size();
        else
            size += cv::base64EncodedSize(outcome.plaintexts[i].size(), cv::Base64Padding::padded) + 1;
    }
    OutputBytes output(size);
    {
        py::gil_scoped_release released;
        char* at = reinterpret_cast<char*>(output.data());
        for (std::size_t i = 0; i < outcome.errorLines.size(); ++i) {
            auto put = [&](std::string_view piece) {
                std::copy(piece.begin(), piece.end(), at);
                at += piece.size();
            };
            if (!outcome.errorLines[i].empty()) {
                put(outcome.errorLines[i]);
            } else if (!outcome.envelopes[i].empty()) {
                put(outcome.envelopes[i]);
            } else {
                std::vector<std::uint8_t>& plaintext = outcome.plaintexts[i];
                const std::size_t length = cv::base64EncodedSize(plaintext.size(), cv::Base64Padding::padded);
                cv::base64Encode(plaintext, std::span<char>(at, length), cv::Base64Alphabet::standard,
                                 cv::Base64Padding::padded);
                at += length;
                *at++ = '\n';
                secure_zero(plaintext.data(), plaintext.size());
            }
        }
    }
    return output.finish(size);
}

py::tuple resultOf(LinesOutcome& outcome) {
    py::bytes output = outputOf(outcome);
    // Lines that did not parse were noted before the refusals: line order.
    std::sort(outcome.bad.begin(), outcome.bad.end());
    return py::make_tuple(std::move(output), py::cast(outcome.bad));
}

// One call over a partition: the lines split and worked on with the GIL
// released, the result built with it held.
template <typename Work>
py::tuple overLines(cv::ByteView lines, Work work) {
    std::optional<LinesOutcome> outcome;
    {
        py::gil_scoped_release released;
        const auto split = splitLines(lines);
        outcome.emplace(split.size());
        work(*outcome, split);
    }
    return resultOf(*outcome);
}

// Every line's message, as the tool's seal --lines reads it.
void readMessages(LinesOutcome& outcome, const std::vector<std::optional<std::string_view>>& lines) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i]) {
            outcome.fail(i, kTooLongLine, "line too long");
            continue;
        }
        auto message = messageOf(*lines[i]);
        if (!message)
            outcome.fail(i, kNotBase64Line, "not Base64");
        else
            outcome.plaintexts[i] = std::move(*message);
    }
}

}  // namespace

void bindEnvelopeLines(py::module_& module) {
    module.def(
        "open_envelope_lines",
        [](const cv::RsaPrivateKey& key, cv::ByteView lines, bool archive, bool textKeys) {
            const cv::EnvelopeOpening opening = envelopeOpeningOf(archive, textKeys);
            return overLines(lines, [&](LinesOutcome& outcome, const auto& split) {
                openLines(key, opening, outcome, split);
            });
        },
        py::arg("key"), py::arg("lines"), py::kw_only(), py::arg("archive") = true, py::arg("text_keys") = false,
        "Opens each line of envelopes (bytes, lines ending in a line feed) as `corvane envelope open --lines` "
        "does. Returns (output, bad): output holds one line per input line, the plaintext in Base64 or an "
        "'error: ...' line; bad lists (line index from 0, reason) for each line that failed. archive=True (the "
        "default here, for stored records) refuses a wrapped key that does not unpad, each refusal with its own "
        "reason; archive=False gives the one refusal a service facing senders must give. text_keys=True (archive "
        "only) also refuses a key that is not 24 hexadecimal characters.");
    module.def(
        "reencrypt_envelope_lines",
        [](const cv::RsaPrivateKey& key, const cv::RsaPublicKey& publicKey, cv::ByteView lines, bool archive,
           bool textKeys, bool hexKey) {
            const cv::EnvelopeOpening opening = envelopeOpeningOf(archive, textKeys);
            return overLines(lines, [&](LinesOutcome& outcome, const auto& split) {
                openLines(key, opening, outcome, split);
                sealPlaintexts(publicKey, hexKey, outcome);
            });
        },
        py::arg("key"), py::arg("public_key"), py::arg("lines"), py::kw_only(), py::arg("archive") = true,
        py::arg("text_keys") = false, py::arg("hex_key") = false,
        "open_envelope_lines, each plaintext then sealed under public_key: one envelope line per opened line, "
        "the same error lines and bad list for the others. hex_key as for seal_envelope.");
    module.def(
        "seal_message_lines",
        [](const cv::RsaPublicKey& publicKey, cv::ByteView lines, bool hexKey) {
            return overLines(lines, [&](LinesOutcome& outcome, const auto& split) {
                readMessages(outcome, split);
                sealPlaintexts(publicKey, hexKey, outcome);
            });
        },
        py::arg("public_key"), py::arg("lines"), py::kw_only(), py::arg("hex_key") = false,
        "Seals each line of Base64 messages (whitespace alone is the empty message) as `corvane envelope seal "
        "--lines` does. Returns (output, bad) as open_envelope_lines does: one envelope line per message, "
        "'error: not valid Base64' for a line that is not.");
}

}  // namespace corvane::python
