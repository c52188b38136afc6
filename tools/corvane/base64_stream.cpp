#include "base64_stream.h"

#include <Corvane/Foundation.h>
#include <Corvane/QVGTMBase64.h>

#include <algorithm>
#include <cstring>

#include "../../platform/secure_zero.h"
#include "tool_error.h"

namespace corvane::tool {

namespace {

// How the decoder treats each byte value.
enum class ByteClass : std::uint8_t { alphabet, space, pad, other };
using ByteClasses = std::array<ByteClass, 256>;

// The class's decoding of text in the family, handed to use() while it
// lives: nullptr when the class refuses the text.
template <typename Use>
auto withClassDecoding(Base64Family family, std::span<const std::uint8_t> text, Use use) {
    NSAutoreleasePool pool;
    NSMutableData* bytes = family == Base64Family::standard
                               ? QVGTMBase64::decodeBytes(text.data(), text.size())
                               : QVGTMBase64::webSafeDecodeBytes(text.data(), text.size());
    return use(static_cast<const NSData*>(bytes));
}

std::optional<Bytes> classDecode(Base64Family family, std::span<const std::uint8_t> text) {
    return withClassDecoding(family, text, [](const NSData* bytes) -> std::optional<Bytes> {
        if (bytes == nullptr) return std::nullopt;
        return Bytes(bytes->span().begin(), bytes->span().end());
    });
}

// The byte classes are asked of the class itself, once per family, so that
// the places where the stream is cut can never disagree with the coder: a
// byte is in the alphabet when four of it decode to three bytes, and is
// whitespace to the coder when it leaves "QUJD" decoding to "ABC" wherever
// it stands. "=" is the pad; everything else (NUL among it) is refused.
ByteClasses probeByteClasses(Base64Family family) {
    const std::optional<Bytes> abc =
        classDecode(family, std::span(reinterpret_cast<const std::uint8_t*>("QUJD"), 4));
    ByteClasses classes{};
    for (unsigned value = 0; value < 256; ++value) {
        const auto b = static_cast<std::uint8_t>(value);
        const std::uint8_t four[4] = {b, b, b, b};
        const std::uint8_t between[5] = {'Q', 'U', b, 'J', 'D'};
        std::optional<Bytes> decoded;
        if (b == '=')
            classes[value] = ByteClass::pad;
        else if ((decoded = classDecode(family, four)) && decoded->size() == 3)
            classes[value] = ByteClass::alphabet;
        else if (classDecode(family, between) == abc)
            classes[value] = ByteClass::space;
        else
            classes[value] = ByteClass::other;
    }
    return classes;
}

const ByteClasses& byteClasses(Base64Family family) {
    static const ByteClasses standard = probeByteClasses(Base64Family::standard);
    static const ByteClasses webSafe = probeByteClasses(Base64Family::webSafe);
    return family == Base64Family::standard ? standard : webSafe;
}

// The alphabet as ranges of letters and digits and the family's two signs,
// a test that the compiler turns into vector code.
template <Base64Family family>
bool inAlphabetRanges(std::uint8_t b) {
    const bool sign = family == Base64Family::standard ? (b == '+' || b == '/') : (b == '-' || b == '_');
    return static_cast<std::uint8_t>(b - 'A') < 26 || static_cast<std::uint8_t>(b - 'a') < 26 ||
           static_cast<std::uint8_t>(b - '0') < 10 || sign;
}

template <Base64Family family>
bool rangesAgreeWithClasses() {
    const ByteClasses& classes = byteClasses(family);
    for (unsigned value = 0; value < 256; ++value)
        if (inAlphabetRanges<family>(static_cast<std::uint8_t>(value)) !=
            (classes[value] == ByteClass::alphabet))
            return false;
    return true;
}

// The number of alphabet characters in text. The ranges serve only when they
// agree with the classes asked of the coder on every byte value (they do),
// so the count never differs from what the coder reads.
template <Base64Family family>
std::size_t countAlphabet(std::span<const std::uint8_t> text) {
    static const bool rangesAgree = rangesAgreeWithClasses<family>();
    std::size_t count = 0, i = 0;
    if (rangesAgree) {
        // Blocks of a fixed size, so that the inner loop is vectorised at -O2.
        constexpr std::size_t kBlock = 64;
        for (; i + kBlock <= text.size(); i += kBlock) {
            unsigned block = 0;
            for (std::size_t j = 0; j < kBlock; ++j) block += inAlphabetRanges<family>(text[i + j]);
            count += block;
        }
    }
    const ByteClasses& classes = byteClasses(family);
    for (; i < text.size(); ++i) count += classes[text[i]] == ByteClass::alphabet;
    return count;
}

std::size_t countAlphabet(std::span<const std::uint8_t> text, Base64Family family) {
    return family == Base64Family::standard ? countAlphabet<Base64Family::standard>(text)
                                            : countAlphabet<Base64Family::webSafe>(text);
}

}  // namespace

// ---- encoding ---------------------------------------------------------------

void Base64Encoder::encode(std::span<const std::uint8_t> bytes) {
    NSAutoreleasePool pool;
    NSMutableData* text = family_ == Base64Family::standard
                              ? QVGTMBase64::encodeBytes(bytes.data(), bytes.size())
                              : QVGTMBase64::webSafeEncodeBytes(bytes.data(), bytes.size(), padded_);
    if (text == nullptr) failure("Base64 encoding failed (out of memory)");
    out_.write(text->span());
}

// Whole groups of three bytes encode to the same characters wherever the
// text is cut, and without padding; only the last group may be partial.
void Base64Encoder::write(std::span<const std::uint8_t> bytes) {
    if (carried_ > 0) {
        std::size_t take = std::min(carry_.size() - carried_, bytes.size());
        std::copy_n(bytes.begin(), take, carry_.begin() + static_cast<std::ptrdiff_t>(carried_));
        carried_ += take;
        bytes = bytes.subspan(take);
        if (carried_ < carry_.size()) return;
        encode(carry_);
        carried_ = 0;
    }
    std::size_t whole = bytes.size() / 3 * 3;
    if (whole > 0) encode(bytes.first(whole));
    carried_ = bytes.size() - whole;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(whole), carried_, carry_.begin());
}

void Base64Encoder::finish() {
    if (carried_ > 0) encode(std::span(carry_).first(carried_));
    secure_zero(carry_.data(), carry_.size());
    carried_ = 0;
    out_.finish();
}

void LineWrapper::write(std::span<const std::uint8_t> text) {
    if (text.empty()) return;
    wroteAny_ = true;
    if (columns_ == 0) {
        out_.write(text);
        return;
    }
    lines_.clear();
    lines_.reserve(text.size() + text.size() / columns_ + 2);
    while (!text.empty()) {
        std::size_t take = std::min(columns_ - column_, text.size());
        lines_.insert(lines_.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(take));
        text = text.subspan(take);
        column_ += take;
        if (column_ == columns_) {
            lines_.push_back('\n');
            column_ = 0;
        }
    }
    out_.write(lines_);
}

void LineWrapper::finish() {
    static const std::uint8_t lineFeed = '\n';
    if (wroteAny_ && (columns_ == 0 || column_ != 0)) out_.write(std::span(&lineFeed, 1));
    out_.finish();
}

// ---- decoding ---------------------------------------------------------------
//
// The coder reads four alphabet characters to three bytes and skips
// whitespace, so the text can be cut after any whole group: the characters
// of whole groups, with the whitespace between them dropped, decode to the
// same bytes alone as within the whole text. Only the last, unfinished group
// and whatever follows the first pad decide how the text ends; those are held
// back and given to the coder, in one piece, at the end.

Base64Decoder::Base64Decoder(Base64Family family, bool ignoreGarbage, std::string invalidMessage,
                             ByteSink& out)
    : family_(family), ignoreGarbage_(ignoreGarbage), invalidMessage_(std::move(invalidMessage)), out_(out) {}

Base64Decoder::~Base64Decoder() {
    secure_zero(clean_.data(), clean_.size());
    secure_zero(padTail_.data(), padTail_.size());
}

void Base64Decoder::refuse() const { failure(invalidMessage_); }

void Base64Decoder::decodeOrFail(std::span<const std::uint8_t> text) {
    withClassDecoding(family_, text, [this](const NSData* bytes) {
        if (bytes == nullptr) refuse();
        out_.write(bytes->span());
    });
}

void Base64Decoder::decodeWholeGroups() {
    std::size_t whole = clean_.size() / 4 * 4;
    if (whole == 0) return;
    decodeOrFail(std::span(clean_).first(whole));
    clean_.erase(clean_.begin(), clean_.begin() + static_cast<std::ptrdiff_t>(whole));
}

void Base64Decoder::write(std::span<const std::uint8_t> text) {
    if (!padSeen_ && !ignoreGarbage_) text = decodeInPlace(text);
    filter(text);
}

// The fast way, for text with no pad and no NUL (the common case: all but
// the input's end): whole groups go to the class straight from the text,
// whitespace and all, since the class skips whitespace itself (and refuses
// any other byte, as it would in the whole text). The group held from the
// piece before is completed first; the letters after the last whole group,
// and whatever follows them, are left to filter().
std::span<const std::uint8_t> Base64Decoder::decodeInPlace(std::span<const std::uint8_t> text) {
    if (std::memchr(text.data(), '=', text.size()) != nullptr ||
        std::memchr(text.data(), 0, text.size()) != nullptr)
        return text;
    const ByteClasses& classes = byteClasses(family_);
    std::size_t from = 0;
    while (!clean_.empty() && from < text.size()) {
        const ByteClass c = classes[text[from]];
        if (c == ByteClass::other) return text.subspan(from);
        if (c == ByteClass::alphabet) clean_.push_back(text[from]);
        ++from;
        if (clean_.size() == 4) decodeWholeGroups();
    }
    std::span<const std::uint8_t> rest = text.subspan(from);
    std::size_t letters = countAlphabet(rest, family_);
    std::size_t beyond = letters % 4;
    if (letters == beyond) return rest;
    std::size_t end = rest.size();
    while (beyond > 0)
        if (classes[rest[--end]] == ByteClass::alphabet) --beyond;
    decodeOrFail(rest.first(end));
    return rest.subspan(end);
}

// The careful way: alphabet characters are gathered into clean_ (without a
// branch per byte; anything that is not whitespace stops the copy) and whole
// groups of them decoded; a pad turns to writeAfterPad().
void Base64Decoder::filter(std::span<const std::uint8_t> text) {
    if (padSeen_) {
        writeAfterPad(text);
        return;
    }
    const ByteClasses& classes = byteClasses(family_);
    std::size_t count = clean_.size();
    clean_.resize(count + text.size());
    std::uint8_t* clean = clean_.data();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t b = text[i];
        const ByteClass c = classes[b];
        clean[count] = b;
        count += c == ByteClass::alphabet;
        if (c <= ByteClass::space) continue;
        if (c == ByteClass::pad) {
            clean_.resize(count);
            decodeWholeGroups();
            padSeen_ = true;
            padTail_ = clean_;
            padTail_.push_back('=');
            clean_.clear();
            writeAfterPad(text.subspan(i + 1));
            return;
        }
        if (!ignoreGarbage_) refuse();
    }
    clean_.resize(count);
    decodeWholeGroups();
}

// After the first pad, only whitespace and, for a group of two characters,
// one more pad may follow. Whitespace (and garbage, when it is ignored) is
// dropped; anything else is kept for the coder to judge at the end, except
// that a NUL or a byte outside the alphabet is refused at once (the coder
// would stop at a NUL, and refuses the others wherever they stand), and a
// second byte after the pad settles the refusal: no group takes three pads,
// and nothing may follow the padding.
void Base64Decoder::writeAfterPad(std::span<const std::uint8_t> text) {
    const ByteClasses& classes = byteClasses(family_);
    for (std::uint8_t b : text) {
        const ByteClass c = classes[b];
        if (c == ByteClass::space || (c == ByteClass::other && ignoreGarbage_)) continue;
        if (c == ByteClass::other || ++bytesAfterPad_ == 2) refuse();
        padTail_.push_back(b);
    }
}

void Base64Decoder::finish() {
    if (padSeen_)
        decodeOrFail(padTail_);
    else if (!clean_.empty())
        decodeOrFail(clean_);
    out_.finish();
}

// ---- whole texts ------------------------------------------------------------

std::string base64Encode(std::span<const std::uint8_t> bytes, Base64Family family, bool padded) {
    MemorySink text;
    Base64Encoder encoder(family, padded, text);
    encoder.write(bytes);
    encoder.finish();
    return std::string(text.bytes().begin(), text.bytes().end());
}

std::optional<Bytes> base64Decode(std::span<const std::uint8_t> text, Base64Family family) {
    MemorySink bytes;
    Base64Decoder decoder(family, false, "invalid", bytes);
    try {
        decoder.write(text);
        decoder.finish();
    } catch (const ToolError&) {
        return std::nullopt;
    }
    return std::move(bytes.bytes());
}

}  // namespace corvane::tool
