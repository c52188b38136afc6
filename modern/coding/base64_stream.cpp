// Base64Encoder and Base64Decoder: the QVGTMBase64 coder run on pieces.
//
// Encoding: whole groups of three bytes encode to the same four characters
// wherever the message is cut, and without padding; only the last group,
// given to finish(), may be partial.
//
// Decoding: the coder reads four alphabet characters to three bytes and
// skips whitespace, so the text can be cut after any whole group: the
// characters of whole groups decode to the same bytes alone as within the
// whole text. Only the unfinished last group and what follows the first pad
// decide how the text ends; those are held (a few bytes) and given to the
// coder, in one piece, at finish(). A byte the coder refuses wherever it
// stands (outside the alphabet, not whitespace, "=" or NUL) refuses the
// whole text at once; a NUL ends the text, as the coder ends it there.
#include <Corvane/modern/coding.hpp>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "Classes/source/QVGTMBase64_PrivateMethods.h"
#include "Classes/source/QVGTMBase64_Tables.h"
#include "modern/coding/base64_fault.h"
#include "modern/support/failures.h"
#include "platform/secure_zero.h"

namespace corvane::v1 {

namespace {

using Coder = QVGTMBase64PrivateMethods;

// ---- byte classes for the decoder ---------------------------------------------

// The decoder's view of each byte value, from the coder's own tables.
enum class ByteClass : std::uint8_t { alphabet, space, pad, end, other };
using ByteClasses = std::array<ByteClass, 256>;

constexpr ByteClasses makeByteClasses(const std::array<char, 256>& table) {
    ByteClasses classes{};
    for (unsigned c = 0; c < 256; ++c)
        classes[c] = static_cast<unsigned char>(table[c]) < 64 ? ByteClass::alphabet : ByteClass::other;
    for (unsigned char c : base64_tables::kSpaceBytes) classes[c] = ByteClass::space;
    classes[static_cast<unsigned char>(base64_tables::kBase64PaddingChar)] = ByteClass::pad;
    classes[0] = ByteClass::end;
    return classes;
}

constexpr ByteClasses kStandardClasses = makeByteClasses(base64_tables::kBase64DecodeChars);
constexpr ByteClasses kWebSafeClasses = makeByteClasses(base64_tables::kWebSafeBase64DecodeChars);

// The alphabet as ranges of letters and digits and the two signs, in
// bitwise operations on bytes: a test the compiler turns into vector code,
// which the table lookup is not.
template <bool webSafe>
constexpr std::uint8_t inAlphabetRanges(std::uint8_t b) {
    constexpr std::uint8_t sign62 = webSafe ? '-' : '+', sign63 = webSafe ? '_' : '/';
    return static_cast<std::uint8_t>((static_cast<std::uint8_t>(b - 'A') < 26) |
                                     (static_cast<std::uint8_t>(b - 'a') < 26) |
                                     (static_cast<std::uint8_t>(b - '0') < 10) | (b == sign62) | (b == sign63));
}

template <bool webSafe>
constexpr bool rangesAgreeWithTable() {
    const ByteClasses& classes = webSafe ? kWebSafeClasses : kStandardClasses;
    for (unsigned c = 0; c < 256; ++c)
        if ((inAlphabetRanges<webSafe>(static_cast<std::uint8_t>(c)) != 0) != (classes[c] == ByteClass::alphabet))
            return false;
    return true;
}
static_assert(rangesAgreeWithTable<false>() && rangesAgreeWithTable<true>());

template <bool webSafe>
std::size_t countAlphabet(const std::uint8_t* text, std::size_t length) {
    std::size_t count = 0, i = 0;
    // Blocks of a fixed size with a byte-wide sum, so that the inner loop
    // is vectorised.
    constexpr std::size_t kBlock = 128;
    for (; i + kBlock <= length; i += kBlock) {
        std::uint8_t block = 0;
        for (std::size_t j = 0; j < kBlock; ++j)
            block = static_cast<std::uint8_t>(block + inAlphabetRanges<webSafe>(text[i + j]));
        count += block;
    }
    for (; i < length; ++i) count += inAlphabetRanges<webSafe>(text[i]);
    return count;
}

// Bytes at the end of a piece left to the careful ways (see decodeClean).
constexpr std::size_t kEndSlack = 8;

// Whether the first bytes of text hold whitespace (line breaks, mostly):
// text in lines, which the optimistic decoding of whole pieces would only
// try in vain. The test is for a byte below "!" or above 127: one signed
// comparison a byte, which the compiler turns into two vector instructions
// for sixteen bytes (a test for the coder's whitespace set itself takes
// five comparisons a byte). It takes every whitespace byte and NUL and no
// alphabet character; the other bytes it takes make the attempt fail as
// well.
constexpr std::uint8_t belowBangOrAbove127(std::uint8_t b) {
    return static_cast<std::uint8_t>(static_cast<std::int8_t>(b) < '!');
}
constexpr bool lineTestFitsTables() {
    for (unsigned c = 0; c < 256; ++c) {
        const bool caught = belowBangOrAbove127(static_cast<std::uint8_t>(c)) != 0;
        const ByteClass standard = kStandardClasses[c], webSafe = kWebSafeClasses[c];
        if ((standard == ByteClass::space || standard == ByteClass::end) && !caught) return false;
        if ((standard == ByteClass::alphabet || webSafe == ByteClass::alphabet) && caught) return false;
    }
    return true;
}
static_assert(lineTestFitsTables());

bool startsWithLines(ByteView text) noexcept {
    constexpr std::size_t kLook = 128;  // longer than the lines of PEM and MIME
    if (text.size() < kLook) return false;
    std::uint8_t caught = 0;
    for (std::size_t i = 0; i < kLook; ++i)
        caught = static_cast<std::uint8_t>(caught | belowBangOrAbove127(text.data()[i]));
    return caught != 0;
}

// Whether the last kEndSlack bytes of text (at least that long) hold no
// pad and no byte that startsWithLines() takes: the end of a piece in the
// middle of the text rather than the text's end. Both tests branch-free, so
// that the eight bytes cost a few vector instructions.
bool endsWithoutPadOrLines(ByteView text) noexcept {
    const std::uint8_t* end = text.data() + text.size() - kEndSlack;
    std::uint8_t caught = 0;
    for (std::size_t i = 0; i < kEndSlack; ++i)
        caught = static_cast<std::uint8_t>(caught | belowBangOrAbove127(end[i]) |
                                           (end[i] == base64_tables::kBase64PaddingChar));
    return caught == 0;
}

// ---- helpers ------------------------------------------------------------------

// A view of text from offset on.
ByteView from(ByteView text, std::size_t offset) noexcept {
    return {text.data() + offset, text.size() - offset};
}

}  // namespace

using EncoderSteps = detail::Base64EncoderSteps;
using DecoderSteps = detail::Base64DecoderSteps;

// ---- encoding -----------------------------------------------------------------

Base64Encoder::Base64Encoder(Base64Alphabet alphabet, Base64Padding padding, std::size_t lineWidth) noexcept
    : webSafe_(alphabet == Base64Alphabet::webSafe),
      padded_(padding == Base64Padding::padded),
      lineWidth_(lineWidth) {}

Base64Encoder::~Base64Encoder() { secure_zero(carry_, sizeof carry_); }

void Base64Encoder::reset() noexcept {
    secure_zero(carry_, sizeof carry_);
    carried_ = 0;
    column_ = 0;
    wroteAny_ = false;
}

std::size_t Base64Encoder::updateCapacity(std::size_t byteCount) const noexcept {
    const std::size_t groups = byteCount / 3 + (carried_ + byteCount % 3) / 3;
    const std::size_t characters = groups * 4;
    return characters + (lineWidth_ == 0 ? 0 : (column_ + characters) / lineWidth_);
}

std::size_t Base64Encoder::finishCapacity() const noexcept {
    return 4 + (lineWidth_ == 0 ? 0 : (column_ + 4) / lineWidth_ + 1);
}

// The encoder's helpers (friends of the class, so that its header names none).
struct detail::Base64EncoderSteps {
    // Copies the characters to out with a line feed after every lineWidth_.
    static std::size_t wrapInto(Base64Encoder& d, const char* text, std::size_t length, char* out) noexcept {
        if (length > 0) d.wroteAny_ = true;
        if (d.lineWidth_ == 0) {
            if (out != text) std::memcpy(out, text, length);
            return length;
        }
        std::size_t written = 0;
        while (length > 0) {
            const std::size_t take = std::min(d.lineWidth_ - d.column_, length);
            std::memcpy(out + written, text, take);
            written += take;
            text += take;
            length -= take;
            d.column_ += take;
            if (d.column_ == d.lineWidth_) {
                out[written++] = '\n';
                d.column_ = 0;
            }
        }
        return written;
    }
};

std::size_t Base64Encoder::update(ByteView bytes, std::span<char> out) {
    corvane::detail::checkRoom(out.size(), updateCapacity(bytes.size()));
    const char* charset = Coder::encodeChars(webSafe_);
    const std::uint8_t* in = bytes.data();
    std::size_t left = bytes.size();
    std::size_t written = 0;
    if (carried_ > 0) {
        const std::size_t take = std::min(sizeof carry_ - carried_, left);
        if (take > 0) std::memcpy(carry_ + carried_, in, take);
        carried_ += take;
        in += take;
        left -= take;
        if (carried_ < sizeof carry_) return 0;
        char group[4];
        Coder::baseEncode(carry_, sizeof carry_, group, sizeof group, charset, false);
        written += EncoderSteps::wrapInto(*this, group, sizeof group, out.data());
        secure_zero(carry_, sizeof carry_);
        carried_ = 0;
    }
    const std::size_t whole = left / 3 * 3;
    if (lineWidth_ == 0) {
        if (whole > 0) written += EncoderSteps::wrapInto(*this, out.data() + written, Coder::baseEncode(in, whole, out.data() + written,
                                                                                   whole / 3 * 4, charset, false),
                                           out.data() + written);
    } else {
        // Lines are cut from text encoded a stretch at a time.
        char stretch[4096];
        for (std::size_t done = 0; done < whole;) {
            const std::size_t take = std::min<std::size_t>(whole - done, sizeof stretch / 4 * 3);
            const std::size_t characters =
                Coder::baseEncode(in + done, take, stretch, sizeof stretch, charset, false);
            written += EncoderSteps::wrapInto(*this, stretch, characters, out.data() + written);
            done += take;
        }
    }
    carried_ = left - whole;
    if (carried_ > 0) std::memcpy(carry_, in + whole, carried_);
    return written;
}

std::size_t Base64Encoder::finish(std::span<char> out) {
    corvane::detail::checkRoom(out.size(), finishCapacity());
    std::size_t written = 0;
    if (carried_ > 0) {
        char group[4];
        const std::size_t characters =
            Coder::baseEncode(carry_, carried_, group, sizeof group, Coder::encodeChars(webSafe_), padded_);
        written = EncoderSteps::wrapInto(*this, group, characters, out.data());
    }
    if (lineWidth_ != 0 && wroteAny_ && column_ != 0) out[written++] = '\n';
    reset();
    return written;
}

std::string Base64Encoder::update(ByteView bytes) {
    std::string text(updateCapacity(bytes.size()), '\0');
    text.resize(update(bytes, std::span<char>(text)));
    return text;
}

std::string Base64Encoder::finish() {
    std::string text(finishCapacity(), '\0');
    text.resize(finish(std::span<char>(text)));
    return text;
}

// ---- decoding -----------------------------------------------------------------

Base64Decoder::Base64Decoder(Base64Alphabet alphabet, Base64Padding padding) noexcept
    : webSafe_(alphabet == Base64Alphabet::webSafe), requirePadding_(padding == Base64Padding::padded) {}

Base64Decoder::~Base64Decoder() { secure_zero(held_, sizeof held_); }

void Base64Decoder::reset() noexcept {
    secure_zero(held_, sizeof held_);
    heldCount_ = 0;
    failed_ = padSeen_ = anyInput_ = false;
    afterPad_ = 0;
    decoded_ = 0;
    given_ = 0;
    nulAt_ = kNoNul;
}

bool Base64Decoder::blank() const noexcept {
    return decoded_ == 0 && heldCount_ == 0 && !padSeen_ && !failed_;
}

std::size_t Base64Decoder::updateCapacity(std::size_t textLength) const noexcept {
    return textLength / 4 * 3 + (heldCount_ + textLength % 4) / 4 * 3;
}

// The decoder's helpers (friends of the class, so that its header names none).
struct detail::Base64DecoderSteps {
    // The coder's decoding of text that holds exactly bytes / 3 whole groups
    // (and whitespace), into out[0, bytes): with the room exactly the decoded
    // size, the coder never reads a byte of out it did not write. False for a
    // refusal.
    static bool decodeGroups(Base64Decoder& d, const std::uint8_t* text, std::size_t length, std::size_t bytes,
                                     std::uint8_t* out) noexcept {
        if (bytes == 0) return true;
        return Coder::baseDecode(text, length, out, bytes, Coder::decodeChars(d.webSafe_), false) == bytes;
    }

    // The held group of four characters, decoded.
    static std::size_t decodeHeldGroup(Base64Decoder& d, std::uint8_t* out) {
        const bool ok = decodeGroups(d, d.held_, 4, 3, out);
        secure_zero(d.held_, 4);
        d.heldCount_ = 0;
        if (!ok) d.failed_ = true;
        return ok ? 3 : 0;
    }

    // The fast way, for text with no pad and no NUL (all of it but the text's
    // end): the group held from the piece before is completed, then the whole
    // groups that follow go to the coder straight from the text, whitespace
    // and all. text is left at what follows the last whole group.
    static std::size_t decodeInPlace(Base64Decoder& d, ByteView& text, std::uint8_t* out) {
        const ByteClasses& classes = d.webSafe_ ? kWebSafeClasses : kStandardClasses;
        std::size_t at = 0, written = 0;
        while (d.heldCount_ > 0 && at < text.size()) {
            const ByteClass c = classes[text.data()[at]];
            if (c == ByteClass::other) break;  // refused by gather()
            ++at;
            if (c != ByteClass::alphabet) continue;
            d.held_[d.heldCount_++] = text.data()[at - 1];
            if (d.heldCount_ == 4) written += decodeHeldGroup(d, out + written);
            if (d.failed_) return written;
        }
        text = from(text, at);
        if (d.heldCount_ > 0) return written;
        const std::size_t letters = d.webSafe_ ? countAlphabet<true>(text.data(), text.size())
                                             : countAlphabet<false>(text.data(), text.size());
        std::size_t beyond = letters % 4;
        if (letters == beyond) return written;
        std::size_t end = text.size();
        while (beyond > 0)
            if (classes[text.data()[--end]] == ByteClass::alphabet) --beyond;
        const std::size_t bytes = letters / 4 * 3;
        if (!decodeGroups(d, text.data(), end, bytes, out + written)) {
            d.failed_ = true;
            return written;
        }
        text = from(text, end);
        return written + bytes;
    }

    // The careful way, for the few characters before a pad or the end of a
    // piece: alphabet characters are held and decoded four at a time,
    // whitespace is skipped, anything else refuses the text.
    static std::size_t gather(Base64Decoder& d, ByteView text, std::uint8_t* out) {
        const ByteClasses& classes = d.webSafe_ ? kWebSafeClasses : kStandardClasses;
        std::size_t written = 0;
        for (std::size_t i = 0; i < text.size() && !d.failed_; ++i) {
            const std::uint8_t b = text.data()[i];
            const ByteClass c = classes[b];
            if (c == ByteClass::space) continue;
            if (c != ByteClass::alphabet) {
                d.failed_ = true;
                break;
            }
            d.held_[d.heldCount_++] = b;
            if (d.heldCount_ == 4) written += decodeHeldGroup(d, out + written);
        }
        return written;
    }

    // After the first pad only whitespace and, for a group of two characters,
    // one more pad may follow: the bytes other than whitespace are held for
    // the coder to judge at finish(), except that a byte outside the alphabet
    // refuses the text at once, and so does a second one (no group takes three
    // pads, and nothing may follow the padding).
    static void afterPad(Base64Decoder& d, ByteView text) {
        const ByteClasses& classes = d.webSafe_ ? kWebSafeClasses : kStandardClasses;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const std::uint8_t b = text.data()[i];
            const ByteClass c = classes[b];
            if (c == ByteClass::space) continue;
            if (c == ByteClass::other || ++d.afterPad_ == 2) {
                d.failed_ = true;
                return;
            }
            d.held_[d.heldCount_++] = b;
        }
    }

    // The fastest way, for the common piece of nothing but alphabet characters:
    // the group held from the piece before is completed, then the piece's whole
    // groups go to the coder at once, with room for exactly the bytes they
    // make. The coder fills that room only when every byte it read was an
    // alphabet character (whitespace, a pad or a NUL make fewer bytes, any
    // other byte a refusal), so a full room means the groups were decoded as
    // the whole text would decode them; otherwise the bytes written are left to
    // be overwritten by the careful ways below.
    static std::size_t decodeClean(Base64Decoder& d, ByteView& text, std::uint8_t* out) {
        const ByteClasses& classes = d.webSafe_ ? kWebSafeClasses : kStandardClasses;
        std::size_t at = 0, written = 0;
        while (d.heldCount_ > 0 && at < text.size() && !d.failed_) {
            const ByteClass c = classes[text.data()[at]];
            if (c == ByteClass::space) {
                ++at;
                continue;
            }
            if (c != ByteClass::alphabet) break;  // left to the careful ways
            d.held_[d.heldCount_++] = text.data()[at++];
            if (d.heldCount_ == 4) written += decodeHeldGroup(d, out + written);
        }
        text = from(text, at);
        if (d.heldCount_ > 0 || d.failed_ || text.size() <= kEndSlack || startsWithLines(text)) return written;
        // The last few bytes are left out when they hold a pad or whitespace:
        // where a text ends they hold its pad and line end, which would make
        // the attempt fail after all the work. A piece that ends otherwise goes
        // to the coder up to its last whole group in one call, whose vector
        // kernel runs to the end in whole blocks: a second call for the last
        // few groups (the kernel's short block before it, then the careful ways
        // for eight bytes) cost about 2% of the time of 64 KiB pieces.
        const std::size_t whole = (endsWithoutPadOrLines(text) ? text.size() : text.size() - kEndSlack) / 4 * 4;
        const std::size_t bytes = whole / 4 * 3;
        if (whole > 0 && decodeGroups(d, text.data(), whole, bytes, out + written)) {
            text = from(text, whole);
            written += bytes;
        }
        return written;
    }

    static std::size_t updateChecked(Base64Decoder& d, ByteView text, std::uint8_t* out) {
        if (text.empty()) return 0;
        d.anyInput_ = true;
        const std::uint8_t* const start = text.data();
        std::size_t written = 0;
        if (!d.padSeen_) {
            written = decodeClean(d, text, out);
            out += written;
            if (d.failed_ || text.empty()) return written;
        }
        // A NUL byte refuses the text (its length is explicit, so a NUL is no
        // end mark): what stands before it is decoded as far as whole groups go.
        bool nul = false;
        if (const void* at = std::memchr(text.data(), 0, text.size())) {
            const auto before = static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - text.data());
            d.nulAt_ = d.given_ + static_cast<std::uint64_t>(text.data() - start) + before;
            text = ByteView(text.data(), before);
            nul = true;
        }
        written += decodeRest(d, text, out);
        if (nul) d.failed_ = true;
        return written;
    }

    // The text after the fast way's whole groups: up to a pad in place and
    // through the held group, then what follows a pad.
    static std::size_t decodeRest(Base64Decoder& d, ByteView text, std::uint8_t* out) {
        std::size_t written = 0;
        if (!d.padSeen_) {
            const void* pad = std::memchr(text.data(), base64_tables::kBase64PaddingChar, text.size());
            ByteView before = pad == nullptr ? text
                                             : ByteView(text.data(), static_cast<std::size_t>(
                                                                         static_cast<const std::uint8_t*>(pad) -
                                                                         text.data()));
            const std::size_t inPlace = decodeInPlace(d, before, out);
            written += inPlace;
            if (!d.failed_) written += gather(d, before, out + inPlace);
            if (d.failed_ || pad == nullptr) return written;
            d.padSeen_ = true;
            d.held_[d.heldCount_++] = static_cast<std::uint8_t>(base64_tables::kBase64PaddingChar);
            text = from(text, static_cast<std::size_t>(static_cast<const std::uint8_t*>(pad) - text.data()) + 1);
        }
        afterPad(d, text);
        return written;
    }

    // What a refusal of update() or finish() says besides its code: the room
    // that was too small, or where a NUL byte stood; nothing for the others
    // (the decoder does not keep where they broke the rules).
    static std::string refusalDetail(const Base64Decoder& d, std::size_t room, std::size_t need) noexcept {
        try {
            if (room < need)
                return "output of " + std::to_string(room) + " bytes is too small: " + std::to_string(need) + " are needed";
            if (d.nulAt_ != Base64Decoder::kNoNul) return corvane::detail::base64NulDetail(d.nulAt_);
        } catch (...) {
        }
        return {};
    }
};

std::size_t Base64Decoder::update(ByteView text, std::span<std::uint8_t> out, std::error_code& error) noexcept {
    error.clear();
    if (out.size() < updateCapacity(text.size())) {
        error = ErrorCode::invalidInput;
        return 0;
    }
    if (failed_) {
        error = ErrorCode::invalidInput;
        return 0;
    }
    const std::size_t written = DecoderSteps::updateChecked(*this, text, out.data());
    decoded_ += written;
    given_ += text.size();
    if (failed_) error = ErrorCode::invalidInput;
    return written;
}

std::size_t Base64Decoder::update(ByteView text, std::span<std::uint8_t> out, ErrorInfo& error) noexcept {
    std::error_code code;
    const std::size_t written = update(text, out, code);
    error.clear();
    if (code) corvane::detail::report(error, code, DecoderSteps::refusalDetail(*this, out.size(), updateCapacity(text.size())));
    return written;
}

std::size_t Base64Decoder::finish(std::span<std::uint8_t> out, ErrorInfo& error) noexcept {
    // Said before finishing, which forgets the text.
    const std::string detail = DecoderSteps::refusalDetail(*this, out.size(), finishCapacity());
    std::error_code code;
    const std::size_t written = finish(out, code);
    error.clear();
    if (code) corvane::detail::report(error, code, detail);
    return written;
}


std::size_t Base64Decoder::finish(std::span<std::uint8_t> out, std::error_code& error) noexcept {
    error.clear();
    if (out.size() < finishCapacity()) {
        error = ErrorCode::invalidInput;
        return 0;
    }
    std::size_t written = 0;
    bool refused = failed_;
    if (!refused && heldCount_ > 0) {
        // The text's end as the coder judges it: at most six characters
        // (with a pad), decoded into zero-filled room of its own size.
        std::uint8_t last[8] = {};
        written = Coder::baseDecode(held_, heldCount_, last, Coder::decodedCapacity(heldCount_),
                                    Coder::decodeChars(webSafe_), requirePadding_);
        refused = written == 0;
        if (!refused) std::memcpy(out.data(), last, written);
        secure_zero(last, sizeof last);
    } else if (!refused && anyInput_ && decoded_ == 0) {
        // Non-empty text that decodes to nothing: whitespace alone.
        refused = true;
    }
    reset();
    if (refused) {
        error = ErrorCode::invalidInput;
        return 0;
    }
    return written;
}

std::size_t Base64Decoder::update(ByteView text, std::span<std::uint8_t> out) {
    std::error_code error;
    const std::size_t written = update(text, out, error);
    if (error) corvane::detail::throwError(error, DecoderSteps::refusalDetail(*this, out.size(), updateCapacity(text.size())));
    return written;
}

std::size_t Base64Decoder::finish(std::span<std::uint8_t> out) {
    const std::string detail = DecoderSteps::refusalDetail(*this, out.size(), finishCapacity());
    std::error_code error;
    const std::size_t written = finish(out, error);
    if (error) corvane::detail::throwError(error, detail);
    return written;
}

std::vector<std::uint8_t> Base64Decoder::update(ByteView text) {
    std::vector<std::uint8_t> bytes(updateCapacity(text.size()));
    bytes.resize(update(text, bytes));
    return bytes;
}

std::vector<std::uint8_t> Base64Decoder::finish() {
    std::uint8_t last[finishCapacity()];
    const std::size_t written = finish(last);
    std::vector<std::uint8_t> bytes(last, last + written);
    secure_zero(last, sizeof last);
    return bytes;
}

}  // namespace corvane::v1
