// Base64 coder (RFC 4648, standard and web-safe alphabets) and the
// QVGTMBase64 class methods over it.
//
// The coder proper is four functions: a byte-level encoder and decoder that
// work in a caller-supplied destination, and data-level wrappers that size,
// fill and (for decoding) shorten an NSMutableData. The alphabet or decode
// table is an argument, so one encoder and one decoder serve both families.
//
// Both byte-level coders have a fast path for the common case (whole groups
// of three bytes, or of four alphabet characters) that gives exactly the
// result of the per-character rules; anything unusual (whitespace, padding,
// NUL, an invalid byte, a destination about to run out) drops to the
// per-character code, which handles it and reports a short destination at
// the same point and with the same bytes written.
//
// Within the fast path, vector kernels (one file per instruction set, chosen
// once from the CPU's features) take the bulk of the whole groups and hand
// the rest back at a group boundary; see QVGTMBase64_Vector.h.
#include "Classes/source/QVGTMBase64_PrivateMethods.h"

#include <Corvane/QVGTMBase64.h>

#include "Classes/source/QVGTMBase64_Tables.h"
#include "Classes/source/QVGTMBase64_Vector.h"
#include "engine/cpu/cpu.h"

#include <array>
#include <cstring>
#include <new>

namespace corvane {

namespace {

// ---------------------------------------------------------------------------
// Tables (the alphabets, decode tables and whitespace set are shared with
// the vector kernels).

using namespace base64_tables;

const unsigned char* asBytes(const void* p) { return static_cast<const unsigned char*>(p); }

// The decode tables spread over four 32-bit tables, one per place in a
// group, with each value already shifted to its place: a group of four
// characters is then four lookups ORed together. Bytes outside the alphabet
// set bit 24, so one test rejects the group.
struct GroupDecodeTables {
    std::array<std::uint32_t, 256> place[4];
};
constexpr GroupDecodeTables makeGroupDecodeTables(const std::array<char, 256>& table) {
    GroupDecodeTables t{};
    for (int c = 0; c < 256; c++) {
        auto v = static_cast<std::uint32_t>(static_cast<unsigned char>(table[static_cast<std::size_t>(c)]));
        for (int k = 0; k < 4; k++)
            t.place[k][static_cast<std::size_t>(c)] = v < 64 ? v << (18 - 6 * k) : std::uint32_t{1} << 24;
    }
    return t;
}
constexpr GroupDecodeTables kBase64GroupDecode = makeGroupDecodeTables(kBase64DecodeChars);
constexpr GroupDecodeTables kWebSafeBase64GroupDecode = makeGroupDecodeTables(kWebSafeBase64DecodeChars);

// Two output characters for every 12-bit value, so the encoder makes one
// lookup per two characters with its own alphabets.
using PairTable = std::array<char, 2 * 4096>;
constexpr PairTable makePairTable(const char* alphabet) {
    PairTable pairs{};
    for (int k = 0; k < 4096; k++) {
        pairs[static_cast<std::size_t>(2 * k)] = alphabet[k >> 6];
        pairs[static_cast<std::size_t>(2 * k + 1)] = alphabet[k & 0x3F];
    }
    return pairs;
}
constexpr PairTable kBase64EncodePairs = makePairTable(kBase64EncodeChars);
constexpr PairTable kWebSafeBase64EncodePairs = makePairTable(kWebSafeBase64EncodeChars);

bool IsSpace(unsigned char c) {
    static constexpr std::array<bool, 256> kSpaces = [] {
        std::array<bool, 256> spaces{};
        for (unsigned char s : kSpaceBytes) spaces[s] = true;
        return spaces;
    }();
    return kSpaces[c];
}

// ---------------------------------------------------------------------------
// Lengths.

// Exact encoder output length: ceil(8n / 6) characters, rounded up to a
// multiple of four when padded. Computed per group of three so that it
// cannot overflow for any length an object can have.
NSUInteger EncodedLength(NSUInteger length, bool padded) {
    NSUInteger groups = length / 3;
    NSUInteger tail = length % 3;
    if (tail == 0) return groups * 4;
    return groups * 4 + (padded ? 4 : tail + 1);
}

// An upper bound for the decoder's output, with room for the partial byte
// it writes ahead: three bytes for every (possibly incomplete) group of four
// input characters, whitespace and pads included.
NSUInteger DecodedCapacity(NSUInteger length) {
    return (length / 4 + (length % 4 != 0 ? 1 : 0)) * 3;
}

// ---------------------------------------------------------------------------
// Assertion reports for destinations that are too short.

constexpr const char* kFileName = "Classes/source/QVGTMBase64";
constexpr const char* kEncodeBytesMethod =
    "+[QVGTMBase64(PrivateMethods) baseEncode:srcLen:destBytes:destLen:charset:padded:]";
constexpr const char* kDecodeBytesMethod =
    "+[QVGTMBase64(PrivateMethods) baseDecode:srcLen:destBytes:destLen:charset:requirePadding:]";
constexpr const char* kEncodeDataMethod =
    "+[QVGTMBase64(PrivateMethods) baseEncode:length:charset:padded:]";
constexpr const char* kEncodedLengthWrong = "our calc for encoded length was wrong";
constexpr const char* kDecodedLengthWrong = "our calc for decoded length was wrong";
constexpr const char* kLengthWrong = "how did we calc the length wrong?";

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] void reportFailure(const char* method, int line,
                                                               const char* message) {
    NSAssertionHandler::currentHandler()->handleFailureInFunction(
        NSString::stringWithUTF8String(method), NSString::stringWithUTF8String(kFileName), line,
        NSString::stringWithUTF8String(message));
}

// ---------------------------------------------------------------------------
// The vector kernels: which of them this process uses.

using base64_vector::Alphabet;
using base64_vector::Kernels;

bool avx512VbmiUsable(const CpuFeatures& f) {
    return f.avx512f && f.avx512bw && f.avx512vbmi && base64_vector::kAvx512VbmiKernels.encode != nullptr;
}
bool avx2Usable(const CpuFeatures& f) { return f.avx2 && base64_vector::kAvx2Kernels.encode != nullptr; }

// The widest kernels the CPU (as capped by CORVANE_CPU) can run; none on the
// portable path. Chosen on first use, then fixed for the process.
const Kernels& selectedKernels() {
    static const Kernels kernels = [] {
        const CpuFeatures& features = cpu_features();
        if (avx512VbmiUsable(features)) return base64_vector::kAvx512VbmiKernels;
        if (avx2Usable(features)) return base64_vector::kAvx2Kernels;
        return Kernels{};
    }();
    return kernels;
}

// ---------------------------------------------------------------------------
// Encoding.

// Eight bytes as a big-endian number, whatever the host's byte order
// (compilers turn this into one load and a byte swap where needed).
inline std::uint64_t readBigEndian64(const unsigned char* p) {
    return std::uint64_t{p[0]} << 56 | std::uint64_t{p[1]} << 48 | std::uint64_t{p[2]} << 40 |
           std::uint64_t{p[3]} << 32 | std::uint64_t{p[4]} << 24 | std::uint64_t{p[5]} << 16 |
           std::uint64_t{p[6]} << 8 | std::uint64_t{p[7]};
}

// Encodes `groups` whole groups of three bytes into four characters each.
void encodeGroups(const unsigned char* src, NSUInteger groups, unsigned char* dest, const char* charset,
                  const Kernels& kernels) {
    const PairTable* pairs = nullptr;
    Alphabet alphabet = Alphabet::standard;
    if (charset == kBase64EncodeChars) pairs = &kBase64EncodePairs;
    if (charset == kWebSafeBase64EncodeChars) {
        pairs = &kWebSafeBase64EncodePairs;
        alphabet = Alphabet::webSafe;
    }
    if (pairs != nullptr) {
        if (kernels.encode != nullptr) {
            NSUInteger done = kernels.encode(src, groups, dest, alphabet);
            groups -= done;
            src += 3 * done;
            dest += 4 * done;
        }
        const char* p = pairs->data();
        // Two groups from one eight-byte read while at least three groups
        // remain (so the read stays inside them), then one at a time.
        for (; groups >= 3; groups -= 2, src += 6, dest += 8) {
            const std::uint64_t x = readBigEndian64(src);
            std::memcpy(dest, p + 2 * (x >> 52), 2);
            std::memcpy(dest + 2, p + 2 * (x >> 40 & 0xFFF), 2);
            std::memcpy(dest + 4, p + 2 * (x >> 28 & 0xFFF), 2);
            std::memcpy(dest + 6, p + 2 * (x >> 16 & 0xFFF), 2);
        }
        for (NSUInteger g = 0; g < groups; g++, src += 3, dest += 4) {
            std::uint32_t x = std::uint32_t{src[0]} << 16 | std::uint32_t{src[1]} << 8 | src[2];
            std::memcpy(dest, p + 2 * (x >> 12), 2);
            std::memcpy(dest + 2, p + 2 * (x & 0xFFF), 2);
        }
        return;
    }
    for (NSUInteger g = 0; g < groups; g++, src += 3, dest += 4) {
        unsigned b0 = src[0], b1 = src[1], b2 = src[2];
        dest[0] = static_cast<unsigned char>(charset[b0 >> 2]);
        dest[1] = static_cast<unsigned char>(charset[((b0 & 0x03) << 4) + (b1 >> 4)]);
        dest[2] = static_cast<unsigned char>(charset[((b1 & 0x0F) << 2) + (b2 >> 6)]);
        dest[3] = static_cast<unsigned char>(charset[b2 & 0x3F]);
    }
}

NSUInteger encodeBytes(const unsigned char* src, NSUInteger srcLen, unsigned char* dest,
                       NSUInteger destLen, const char* charset, bool padded, const Kernels& kernels) {
    if (srcLen == 0 || destLen == 0 || src == nullptr || dest == nullptr) return 0;
    unsigned char* const start = dest;

    // Whole groups: the destination needs four characters for each. Checking
    // once for the run writes the same groups as checking before each one.
    NSUInteger groups = srcLen / 3;
    NSUInteger room = destLen / 4;
    NSUInteger run = groups < room ? groups : room;
    encodeGroups(src, run, dest, charset, kernels);
    src += 3 * run;
    dest += 4 * run;
    destLen -= 4 * run;
    if (run < groups) reportFailure(kEncodeBytesMethod, __LINE__, kEncodedLengthWrong);

    switch (srcLen % 3) {
        case 1: {
            unsigned b0 = src[0];
            if (destLen < 2) reportFailure(kEncodeBytesMethod, __LINE__, kEncodedLengthWrong);
            *dest++ = static_cast<unsigned char>(charset[b0 >> 2]);
            *dest++ = static_cast<unsigned char>(charset[(b0 & 0x03) << 4]);
            destLen -= 2;
            if (padded) {
                if (destLen < 2) reportFailure(kEncodeBytesMethod, __LINE__, kEncodedLengthWrong);
                *dest++ = kBase64PaddingChar;
                *dest++ = kBase64PaddingChar;
            }
            break;
        }
        case 2: {
            unsigned b0 = src[0], b1 = src[1];
            if (destLen < 3) reportFailure(kEncodeBytesMethod, __LINE__, kEncodedLengthWrong);
            *dest++ = static_cast<unsigned char>(charset[b0 >> 2]);
            *dest++ = static_cast<unsigned char>(charset[((b0 & 0x03) << 4) + (b1 >> 4)]);
            *dest++ = static_cast<unsigned char>(charset[(b1 & 0x0F) << 2]);
            destLen -= 3;
            if (padded) {
                if (destLen < 1) reportFailure(kEncodeBytesMethod, __LINE__, kEncodedLengthWrong);
                *dest++ = kBase64PaddingChar;
            }
            break;
        }
        default:
            break;
    }
    return static_cast<NSUInteger>(dest - start);
}

// ---------------------------------------------------------------------------
// Decoding.

// The fast path decodes groups of four bytes whose table values are all
// below 64 without asking what else they might be. That is only right when
// NUL, "=" and the whitespace bytes are outside the table's alphabet, as
// they are in both of ours; other tables take the per-character path only.
bool fastPathAllowed(const unsigned char* table) {
    bool allowed = table[0] >= 64 && table[static_cast<unsigned char>(kBase64PaddingChar)] >= 64;
    for (unsigned char c : kSpaceBytes) allowed = allowed && table[c] >= 64;
    return allowed;
}

// The same for a table known at compile time.
constexpr bool fastPathAllowed(const std::array<char, 256>& table) {
    bool allowed = static_cast<unsigned char>(table[0]) >= 64 &&
                   static_cast<unsigned char>(table[static_cast<unsigned char>(kBase64PaddingChar)]) >= 64;
    for (unsigned char c : kSpaceBytes) allowed = allowed && static_cast<unsigned char>(table[c]) >= 64;
    return allowed;
}
static_assert(fastPathAllowed(kBase64DecodeChars) && fastPathAllowed(kWebSafeBase64DecodeChars));

// Whether the fast path may run with this table: settled at compile time for
// the coder's own two tables, so a short text does not pay for the check.
bool fastPathAllowedAtRunTime(const unsigned char* table) {
    return table == asBytes(kBase64DecodeChars.data()) || table == asBytes(kWebSafeBase64DecodeChars.data()) ||
           fastPathAllowed(table);
}

// Decodes whole groups of four alphabet characters while the destination has
// room for their three bytes. Each group needs i + 3 <= destLen, which is
// exactly when the four per-character checks (i < destLen, i + 1 < destLen,
// i + 2 < destLen, i + 2 < destLen) all pass. Stops before the first group
// holding anything else, leaving it to the per-character code.
//
// A vector kernel is called only after this many clean pairs in a row (24
// characters): each call has a fixed cost of a few dozen cycles, which text
// broken by whitespace every few groups would pay without gain. At the very
// start of a text of at least kCharsForKernelAtStart characters the kernel
// is called at once: a short text is mostly one clean run, and the scalar
// pairs in front of the kernel would be a good part of its time.
constexpr int kPairsBeforeKernel = 3;
constexpr NSUInteger kCharsForKernelAtStart = 32;

inline void decodeGroups(const unsigned char*& p, const unsigned char* end, unsigned char* dest,
                         NSUInteger& i, NSUInteger destLen, const unsigned char* table,
                         const Kernels& kernels, bool atStart) {
    const GroupDecodeTables* groups = nullptr;
    Alphabet alphabet = Alphabet::standard;
    if (table == asBytes(kBase64DecodeChars.data())) groups = &kBase64GroupDecode;
    if (table == asBytes(kWebSafeBase64DecodeChars.data())) {
        groups = &kWebSafeBase64GroupDecode;
        alphabet = Alphabet::webSafe;
    }
    if (groups != nullptr) {
        const auto& t0 = groups->place[0];
        const auto& t1 = groups->place[1];
        const auto& t2 = groups->place[2];
        const auto& t3 = groups->place[3];
        // Two groups at a time, then one; the kernel takes over the run once
        // it has lasted long enough.
        int pairsBeforeKernel = kernels.decode != nullptr ? kPairsBeforeKernel : -1;
        if (atStart && kernels.decode != nullptr && static_cast<NSUInteger>(end - p) >= kCharsForKernelAtStart) {
            NSUInteger consumed = kernels.decode(p, static_cast<NSUInteger>(end - p), dest + i, destLen - i, alphabet);
            p += consumed;
            i += consumed / 4 * 3;
        }
        while (static_cast<NSUInteger>(end - p) >= 8 && destLen - i >= 6) {
            std::uint32_t x = t0[p[0]] | t1[p[1]] | t2[p[2]] | t3[p[3]];
            std::uint32_t y = t0[p[4]] | t1[p[5]] | t2[p[6]] | t3[p[7]];
            if ((x | y) >> 24) break;
            dest[i] = static_cast<unsigned char>(x >> 16);
            dest[i + 1] = static_cast<unsigned char>(x >> 8);
            dest[i + 2] = static_cast<unsigned char>(x);
            dest[i + 3] = static_cast<unsigned char>(y >> 16);
            dest[i + 4] = static_cast<unsigned char>(y >> 8);
            dest[i + 5] = static_cast<unsigned char>(y);
            i += 6;
            p += 8;
            if (--pairsBeforeKernel == 0) {
                NSUInteger consumed =
                    kernels.decode(p, static_cast<NSUInteger>(end - p), dest + i, destLen - i, alphabet);
                p += consumed;
                i += consumed / 4 * 3;
            }
        }
        while (static_cast<NSUInteger>(end - p) >= 4 && destLen - i >= 3) {
            std::uint32_t x = t0[p[0]] | t1[p[1]] | t2[p[2]] | t3[p[3]];
            if (x >> 24) return;
            dest[i] = static_cast<unsigned char>(x >> 16);
            dest[i + 1] = static_cast<unsigned char>(x >> 8);
            dest[i + 2] = static_cast<unsigned char>(x);
            i += 3;
            p += 4;
        }
        return;
    }
    while (static_cast<NSUInteger>(end - p) >= 4 && destLen - i >= 3) {
        unsigned a = table[p[0]], b = table[p[1]], c = table[p[2]], d = table[p[3]];
        if ((a | b | c | d) >= 64) return;
        std::uint32_t x = a << 18 | b << 12 | c << 6 | d;
        dest[i] = static_cast<unsigned char>(x >> 16);
        dest[i + 1] = static_cast<unsigned char>(x >> 8);
        dest[i + 2] = static_cast<unsigned char>(x);
        i += 3;
        p += 4;
    }
}

NSUInteger decodeBytes(const unsigned char* src, NSUInteger srcLen, unsigned char* dest,
                       NSUInteger destLen, const unsigned char* table, bool requirePadding,
                       const Kernels& kernels) {
    if (srcLen == 0 || destLen == 0 || src == nullptr || dest == nullptr) return 0;

    const unsigned char* p = src;
    const unsigned char* const end = src + srcLen;
    const bool fast = fastPathAllowedAtRunTime(table);
    NSUInteger i = 0;  // next output byte
    int state = 0;     // characters of the current group consumed so far
    bool endedAtPad = false;

    for (;;) {
        if (state == 0 && fast) decodeGroups(p, end, dest, i, destLen, table, kernels, p == src);
        if (p == end) break;
        unsigned char c = *p++;
        if (c == 0) break;  // a NUL byte ends the text
        if (IsSpace(c)) continue;
        if (c == kBase64PaddingChar) {
            endedAtPad = true;
            break;
        }
        unsigned v = table[c];
        if (v == kBase64InvalidChar) return 0;
        // Each state checks its room before writing; states 1 and 2 write
        // the leftover bits of the character into the next byte ahead.
        switch (state) {
            case 0:
                if (!(i < destLen)) reportFailure(kDecodeBytesMethod, __LINE__, kDecodedLengthWrong);
                dest[i] = static_cast<unsigned char>(v << 2);
                state = 1;
                break;
            case 1:
                if (!(i + 1 < destLen)) reportFailure(kDecodeBytesMethod, __LINE__, kDecodedLengthWrong);
                dest[i] = static_cast<unsigned char>(dest[i] | (v >> 4));
                dest[i + 1] = static_cast<unsigned char>((v & 0x0F) << 4);
                i++;
                state = 2;
                break;
            case 2:
                if (!(i + 1 < destLen)) reportFailure(kDecodeBytesMethod, __LINE__, kDecodedLengthWrong);
                dest[i] = static_cast<unsigned char>(dest[i] | (v >> 2));
                dest[i + 1] = static_cast<unsigned char>((v & 0x03) << 6);
                i++;
                state = 3;
                break;
            default:
                if (!(i < destLen)) reportFailure(kDecodeBytesMethod, __LINE__, kDecodedLengthWrong);
                dest[i] = static_cast<unsigned char>(dest[i] | v);
                i++;
                state = 0;
                break;
        }
    }

    if (endedAtPad) {
        // A pad may stand only third or fourth in a group.
        if (state < 2) return 0;
        // Two characters take "==": the second may follow whitespace.
        if (state == 2) {
            while (p != end && IsSpace(*p)) p++;
            if (p == end || *p != kBase64PaddingChar) return 0;
            p++;
        }
        // Only whitespace may follow the padding, up to the end or a NUL.
        while (p != end) {
            unsigned char c = *p++;
            if (c == 0) break;
            if (!IsSpace(c)) return 0;
        }
    } else if (requirePadding ? state != 0 : state == 1) {
        // Unpadded text ends inside a group: never allowed with
        // requirePadding, and a lone character holds fewer than 8 bits.
        return 0;
    }

    // The unused low bits of the last character must be zero. In states 2
    // and 3 dest[i] holds them; in state 0 it is an unwritten (zero) byte.
    if (i < destLen && dest[i] != 0) return 0;
    return i;
}

}  // namespace

// ---------------------------------------------------------------------------
// The coder.

NSUInteger QVGTMBase64PrivateMethods::baseEncode(const void* srcBytes, NSUInteger srcLen,
                                                 void* destBytes, NSUInteger destLen,
                                                 const char* charset, bool padded) {
    return encodeBytes(asBytes(srcBytes), srcLen, static_cast<unsigned char*>(destBytes), destLen,
                       charset, padded, selectedKernels());
}

NSUInteger QVGTMBase64PrivateMethods::baseDecode(const void* srcBytes, NSUInteger srcLen,
                                                 void* destBytes, NSUInteger destLen,
                                                 const char* charset, bool requirePadding) {
    return decodeBytes(asBytes(srcBytes), srcLen, static_cast<unsigned char*>(destBytes), destLen,
                       asBytes(charset), requirePadding, selectedKernels());
}

NSMutableData* QVGTMBase64PrivateMethods::baseEncode(const void* bytes, NSUInteger length,
                                                     const char* charset, bool padded) {
    // Empty input fails before anything is allocated.
    if (bytes == nullptr || length == 0) return nullptr;
    NSUInteger expected = EncodedLength(length, padded);
    NSMutableData* result = NSMutableData::data();
    if (result == nullptr) return nullptr;
    try {
        result->setLength(expected);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    NSUInteger written =
        baseEncode(bytes, length, result->mutableBytes(), result->length(), charset, padded);
    if (written == 0) return nullptr;
    if (written != expected) reportFailure(kEncodeDataMethod, __LINE__, kLengthWrong);
    return result;
}

NSMutableData* QVGTMBase64PrivateMethods::baseDecode(const void* bytes, NSUInteger length,
                                                     const char* charset, bool requirePadding) {
    if (bytes == nullptr || length == 0) return nullptr;
    NSUInteger capacity = DecodedCapacity(length);
    NSMutableData* result = NSMutableData::data();
    if (result == nullptr) return nullptr;
    try {
        // Zero-filled, as the decoder's final check relies on.
        result->setLength(capacity);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    NSUInteger decoded =
        baseDecode(bytes, length, result->mutableBytes(), result->length(), charset, requirePadding);
    if (decoded == 0) return nullptr;
    if (decoded != capacity) result->setLength(decoded);  // shortening never allocates
    return result;
}

const char* QVGTMBase64PrivateMethods::encodeChars(bool webSafe) noexcept {
    return webSafe ? kWebSafeBase64EncodeChars : kBase64EncodeChars;
}

const char* QVGTMBase64PrivateMethods::decodeChars(bool webSafe) noexcept {
    return webSafe ? kWebSafeBase64DecodeChars.data() : kBase64DecodeChars.data();
}

NSUInteger QVGTMBase64PrivateMethods::encodedLength(NSUInteger length, bool padded) noexcept {
    return EncodedLength(length, padded);
}

NSUInteger QVGTMBase64PrivateMethods::decodedCapacity(NSUInteger length) noexcept {
    return DecodedCapacity(length);
}

// ---------------------------------------------------------------------------
// QVGTMBase64: the two families over the coder.

namespace {

const void* bytesOf(const NSData* data) { return data != nullptr ? data->bytes() : nullptr; }
NSUInteger lengthOf(const NSData* data) { return data != nullptr ? data->length() : 0; }

// The encoded bytes as an ASCII string handed to the pool; nil stays nil.
NSString* asciiString(const NSMutableData* encoded) {
    if (encoded == nullptr) return nullptr;
    Ref<NSString> string = make_ref<NSString>(encoded, NSASCIIStringEncoding);
    if (!string) return nullptr;
    NSString* unowned = string.detach();
    unowned->autorelease();
    return unowned;
}

// The ASCII bytes of a string, or nil when it has a character outside ASCII.
const NSData* asciiBytes(const NSString* string) {
    return string != nullptr ? string->dataUsingEncoding(NSASCIIStringEncoding) : nullptr;
}

NSMutableData* standardEncode(const void* bytes, NSUInteger length) {
    return QVGTMBase64PrivateMethods::baseEncode(bytes, length, kBase64EncodeChars, true);
}
NSMutableData* standardDecode(const void* bytes, NSUInteger length) {
    return QVGTMBase64PrivateMethods::baseDecode(bytes, length, kBase64DecodeChars.data(), true);
}
NSMutableData* webSafeEncode(const void* bytes, NSUInteger length, bool padded) {
    return QVGTMBase64PrivateMethods::baseEncode(bytes, length, kWebSafeBase64EncodeChars, padded);
}
NSMutableData* webSafeDecode(const void* bytes, NSUInteger length) {
    return QVGTMBase64PrivateMethods::baseDecode(bytes, length, kWebSafeBase64DecodeChars.data(),
                                                 false);
}

}  // namespace

NSMutableData* QVGTMBase64::encodeData(const NSData* data) {
    return standardEncode(bytesOf(data), lengthOf(data));
}

NSMutableData* QVGTMBase64::decodeData(const NSData* data) {
    return standardDecode(bytesOf(data), lengthOf(data));
}

NSMutableData* QVGTMBase64::encodeBytes(const void* bytes, NSUInteger length) {
    return standardEncode(bytes, length);
}

NSMutableData* QVGTMBase64::decodeBytes(const void* bytes, NSUInteger length) {
    return standardDecode(bytes, length);
}

NSString* QVGTMBase64::stringByEncodingData(const NSData* data) {
    return asciiString(standardEncode(bytesOf(data), lengthOf(data)));
}

NSString* QVGTMBase64::stringByEncodingBytes(const void* bytes, NSUInteger length) {
    return asciiString(standardEncode(bytes, length));
}

NSMutableData* QVGTMBase64::decodeString(const NSString* string) {
    const NSData* data = asciiBytes(string);
    if (data == nullptr) return nullptr;
    return standardDecode(data->bytes(), data->length());
}

NSMutableData* QVGTMBase64::webSafeEncodeData(const NSData* data, bool padded) {
    return webSafeEncode(bytesOf(data), lengthOf(data), padded);
}

NSMutableData* QVGTMBase64::webSafeDecodeData(const NSData* data) {
    return webSafeDecode(bytesOf(data), lengthOf(data));
}

NSMutableData* QVGTMBase64::webSafeEncodeBytes(const void* bytes, NSUInteger length, bool padded) {
    return webSafeEncode(bytes, length, padded);
}

NSMutableData* QVGTMBase64::webSafeDecodeBytes(const void* bytes, NSUInteger length) {
    return webSafeDecode(bytes, length);
}

NSString* QVGTMBase64::stringByWebSafeEncodingData(const NSData* data, bool padded) {
    return asciiString(webSafeEncode(bytesOf(data), lengthOf(data), padded));
}

NSString* QVGTMBase64::stringByWebSafeEncodingBytes(const void* bytes, NSUInteger length,
                                                    bool padded) {
    return asciiString(webSafeEncode(bytes, length, padded));
}

NSMutableData* QVGTMBase64::webSafeDecodeString(const NSString* string) {
    const NSData* data = asciiBytes(string);
    if (data == nullptr) return nullptr;
    return webSafeDecode(data->bytes(), data->length());
}

}  // namespace corvane

#ifdef CORVANE_TEST_SEAMS
namespace corvane::test_seams {
const char* base64EncodeChars() { return kBase64EncodeChars; }
const char* webSafeBase64EncodeChars() { return kWebSafeBase64EncodeChars; }
const char* base64DecodeChars() { return kBase64DecodeChars.data(); }
const char* webSafeBase64DecodeChars() { return kWebSafeBase64DecodeChars.data(); }
bool base64IsSpace(std::uint8_t c) { return IsSpace(c); }
NSUInteger base64EncodedLength(NSUInteger length, bool padded) {
    return EncodedLength(length, padded);
}
NSUInteger base64DecodedCapacity(NSUInteger length) { return DecodedCapacity(length); }

namespace {
const Kernels& kernelsOf(Base64Path path) {
    static const Kernels none{};
    switch (path) {
        case Base64Path::avx2:
            return base64_vector::kAvx2Kernels;
        case Base64Path::avx512vbmi:
            return base64_vector::kAvx512VbmiKernels;
        default:
            return none;
    }
}
}  // namespace

bool base64PathAvailable(Base64Path path) {
    // The hardware's own features: tests reach every path the CPU has,
    // whatever CORVANE_CPU caps the process's own choice to.
    const CpuFeatures features = detect_cpu_features();
    switch (path) {
        case Base64Path::portable:
            return true;
        case Base64Path::avx2:
            return avx2Usable(features);
        case Base64Path::avx512vbmi:
            return avx512VbmiUsable(features);
    }
    return false;
}
Base64Path base64SelectedPath() {
    const Kernels& k = selectedKernels();
    if (k.encode != nullptr && k.encode == base64_vector::kAvx512VbmiKernels.encode) return Base64Path::avx512vbmi;
    if (k.encode != nullptr && k.encode == base64_vector::kAvx2Kernels.encode) return Base64Path::avx2;
    return Base64Path::portable;
}
NSUInteger base64EncodeOnPath(Base64Path path, const void* srcBytes, NSUInteger srcLen, void* destBytes,
                              NSUInteger destLen, const char* charset, bool padded) {
    return encodeBytes(asBytes(srcBytes), srcLen, static_cast<unsigned char*>(destBytes), destLen, charset,
                       padded, kernelsOf(path));
}
NSUInteger base64DecodeOnPath(Base64Path path, const void* srcBytes, NSUInteger srcLen, void* destBytes,
                              NSUInteger destLen, const char* table, bool requirePadding) {
    return decodeBytes(asBytes(srcBytes), srcLen, static_cast<unsigned char*>(destBytes), destLen,
                       asBytes(table), requirePadding, kernelsOf(path));
}
}  // namespace corvane::test_seams
#endif
