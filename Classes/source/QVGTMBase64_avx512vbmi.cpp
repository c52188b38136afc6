// Base64 kernels for AVX-512 VBMI (with AVX-512 F and BW): 48 bytes to 64
// characters and back per step, with byte permutes doing the table work.
// Compiled with those instruction sets only; the coder calls these kernels
// only when cpu_features() reports all three.
//
// Encoding: one byte permute spreads every group of three bytes b0 b1 b2
// over a 32-bit lane as b1 b0 b2 b1, which puts each of the four 6-bit fields
// at a fixed bit offset; a multishift pulls the four fields out, and a
// second byte permute looks them up in the 64-character alphabet.
//
// Decoding: a two-register byte permute looks every character up in a
// 128-entry table (the alphabet value, or 0x80 for anything else); a byte
// whose input or looked-up value has the top bit set is not an alphabet
// character. Multiply-adds join four 6-bit values into a 24-bit lane, and a
// byte permute packs the three bytes of each lane together.
//
// Both kernels finish a short last block with masked loads and stores, and
// the decoder also does the clean groups in front of the first character it
// cannot take, so the scalar code starts right at that character.
#include "Classes/source/QVGTMBase64_Tables.h"
#include "Classes/source/QVGTMBase64_Vector.h"

#if defined(__AVX512VBMI__) && defined(__AVX512BW__) && defined(__AVX512F__)

#include <immintrin.h>

#include <cstdint>

// GCC 12 warns about the deliberately undefined pass-through operand inside
// its own AVX-512 intrinsics (_mm512_undefined_*) once they are inlined; the
// warning is about the header, not this code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace corvane::base64_vector {

namespace {

using namespace corvane::base64_tables;

// For bytes 0-127: the value of an alphabet character, 0x80 for any other.
struct DecodeLookup {
    alignas(64) unsigned char bytes[128];
};
constexpr DecodeLookup makeDecodeLookup(const std::array<char, 256>& table) {
    DecodeLookup lookup{};
    for (int c = 0; c < 128; c++) {
        auto v = static_cast<unsigned char>(table[static_cast<std::size_t>(c)]);
        lookup.bytes[c] = v < 64 ? v : 0x80;
    }
    return lookup;
}
constexpr DecodeLookup kStandardLookup = makeDecodeLookup(kBase64DecodeChars);
constexpr DecodeLookup kWebSafeLookup = makeDecodeLookup(kWebSafeBase64DecodeChars);

struct ByteIndex {
    alignas(64) unsigned char bytes[64];
};

// Group k of the 16 in a block, bytes 3k, 3k+1, 3k+2, goes to 32-bit lane k
// as 3k+1, 3k, 3k+2, 3k+1: read as a little-endian word, bits 15..0 are
// b0 b1 and bits 31..16 are b1 b2.
constexpr ByteIndex makeSpreadIndex() {
    ByteIndex index{};
    for (int k = 0; k < 16; k++) {
        index.bytes[4 * k] = static_cast<unsigned char>(3 * k + 1);
        index.bytes[4 * k + 1] = static_cast<unsigned char>(3 * k);
        index.bytes[4 * k + 2] = static_cast<unsigned char>(3 * k + 2);
        index.bytes[4 * k + 3] = static_cast<unsigned char>(3 * k + 1);
    }
    return index;
}
constexpr ByteIndex kSpreadIndex = makeSpreadIndex();

// After the spread, the four characters of a lane start at bits 10, 4, 22
// and 16 (the first field is the top six bits of b0, and so on); the second
// lane of each 64-bit word adds 32.
constexpr std::uint64_t kFieldOffsets = 0x3036242A1016040AULL;

// The decoded 24-bit value of lane k sits in its bytes 2, 1, 0 (most
// significant first in the output); the 16 lanes give 48 bytes.
constexpr ByteIndex makePackIndex() {
    ByteIndex index{};
    for (int k = 0; k < 16; k++) {
        index.bytes[3 * k] = static_cast<unsigned char>(4 * k + 2);
        index.bytes[3 * k + 1] = static_cast<unsigned char>(4 * k + 1);
        index.bytes[3 * k + 2] = static_cast<unsigned char>(4 * k);
    }
    return index;
}
constexpr ByteIndex kPackIndex = makePackIndex();

inline __m512i load(const void* p) { return _mm512_loadu_si512(p); }

// The low n bits set, for n of at most 64.
inline __mmask64 lowBits(std::size_t n) { return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1; }

class Encoder {
public:
    explicit Encoder(Alphabet alphabet)
        : chars_(load(alphabet == Alphabet::standard ? kBase64EncodeChars : kWebSafeBase64EncodeChars)),
          spread_(load(kSpreadIndex.bytes)),
          offsets_(_mm512_set1_epi64(static_cast<long long>(kFieldOffsets))) {}

    // The 64 characters of the 16 groups in the low 48 bytes of `bytes`.
    __m512i encode(__m512i bytes) const {
        __m512i fields = _mm512_multishift_epi64_epi8(offsets_, _mm512_permutexvar_epi8(spread_, bytes));
        return _mm512_permutexvar_epi8(fields, chars_);  // uses the low six bits of each field
    }

private:
    __m512i chars_, spread_, offsets_;
};

std::size_t encode(const unsigned char* src, std::size_t groups, unsigned char* dest, Alphabet alphabet) {
    const Encoder encoder(alphabet);
    std::size_t done = 0;
    // A full load reads 64 bytes, 16 more than a block uses: it must not
    // reach past the last group.
    for (; groups - done >= 22; done += 16) {
        _mm512_storeu_si512(dest + 4 * done, encoder.encode(load(src + 3 * done)));
    }
    while (done < groups) {
        const std::size_t block = groups - done < 16 ? groups - done : 16;
        __m512i text = encoder.encode(_mm512_maskz_loadu_epi8(lowBits(3 * block), src + 3 * done));
        _mm512_mask_storeu_epi8(dest + 4 * done, lowBits(4 * block), text);
        done += block;
    }
    return done;
}

class Decoder {
public:
    explicit Decoder(Alphabet alphabet)
        : lookupLow_(load(lookupOf(alphabet).bytes)),
          lookupHigh_(load(lookupOf(alphabet).bytes + 64)),
          pack_(load(kPackIndex.bytes)),
          pairWeights_(_mm512_set1_epi32(0x01400140)),    // a * 64 + b
          quadWeights_(_mm512_set1_epi32(0x00011000)) {}  // ab * 4096 + cd

    // Values of the 64 characters; `bad` gets a bit for each byte that is
    // not an alphabet character.
    __m512i values(__m512i text, __mmask64& bad) const {
        __m512i v = _mm512_permutex2var_epi8(lookupLow_, text, lookupHigh_);
        bad = _mm512_movepi8_mask(_mm512_or_si512(v, text));
        return v;
    }
    // The 48 bytes of 16 groups of values, in the low 48 bytes.
    __m512i bytes(__m512i sextets) const {
        __m512i merged = _mm512_madd_epi16(_mm512_maddubs_epi16(sextets, pairWeights_), quadWeights_);
        return _mm512_permutexvar_epi8(pack_, merged);
    }

private:
    static const DecodeLookup& lookupOf(Alphabet alphabet) {
        return alphabet == Alphabet::standard ? kStandardLookup : kWebSafeLookup;
    }
    __m512i lookupLow_, lookupHigh_, pack_, pairWeights_, quadWeights_;
};

std::size_t decode(const unsigned char* src, std::size_t chars, unsigned char* dest, std::size_t room,
                   Alphabet alphabet) {
    const Decoder decoder(alphabet);
    // Groups that could be decoded if all were clean.
    const std::size_t groups = chars / 4 < room / 3 ? chars / 4 : room / 3;
    std::size_t done = 0;
    while (done < groups) {
        // Whole blocks while they last, then a short block through masks.
        const std::size_t block = groups - done < 16 ? groups - done : 16;
        const __mmask64 inputMask = lowBits(4 * block);
        const unsigned char* in = src + 4 * done;
        __mmask64 bad;
        __m512i values = decoder.values(block == 16 ? load(in) : _mm512_maskz_loadu_epi8(inputMask, in), bad);
        bad &= inputMask;
        __m512i bytes = decoder.bytes(values);
        unsigned char* out = dest + 3 * done;
        if (bad == 0 && block == 16) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_castsi512_si256(bytes));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm512_extracti32x4_epi32(bytes, 2));
            done += 16;
            continue;
        }
        // The clean groups in front of the first character that is not,
        // or the whole short block.
        const std::size_t clean = bad != 0 ? static_cast<std::size_t>(__builtin_ctzll(bad)) / 4 : block;
        _mm512_mask_storeu_epi8(out, lowBits(3 * clean), bytes);
        done += clean;
        break;
    }
    return 4 * done;
}

}  // namespace

const Kernels kAvx512VbmiKernels = {encode, decode};

}  // namespace corvane::base64_vector

#else

namespace corvane::base64_vector {
const Kernels kAvx512VbmiKernels = {};
}  // namespace corvane::base64_vector

#endif
