// Base64 kernels for AVX2: 24 bytes to 32 characters and back per step, with
// in-lane byte shuffles as 16-entry lookup tables. Compiled for AVX2 only;
// the coder calls these kernels only when cpu_features() reports AVX2.
//
// Encoding: a shuffle spreads every group of three bytes b0 b1 b2 over a
// 32-bit lane as b1 b0 b2 b1, so that each 16-bit half holds two of the four
// 6-bit fields; masks and 16-bit multiplies (high half for the two fields
// that move right, low half for the two that move left) put each field in a
// byte of its own. A field becomes a character by adding an offset chosen
// per range: A-Z, a-z, 0-9, then the alphabet's two last characters.
//
// Decoding: a byte is an alphabet character exactly when the class bits
// looked up by its low nibble and by its high nibble have nothing in
// common. Its value is the byte plus an offset looked up by the high nibble;
// one character per alphabet ("/" or "_") needs another offset than the rest
// of its row and is sent to a spare table entry. Multiply-adds join four
// 6-bit values into a 24-bit lane; a shuffle and a lane permute pack the
// bytes. A block holding anything else is left to the scalar code.
#include "Classes/source/QVGTMBase64_Tables.h"
#include "Classes/source/QVGTMBase64_Vector.h"

#if defined(__AVX2__)

#include <immintrin.h>

#include <cstdint>

namespace corvane::base64_vector {

namespace {

using namespace corvane::base64_tables;

// A 16-entry shuffle table, repeated in both 128-bit lanes.
struct LaneTable {
    alignas(32) unsigned char bytes[32];
};
constexpr void setEntry(LaneTable& t, int k, int value) {
    t.bytes[k] = static_cast<unsigned char>(value);
    t.bytes[k + 16] = static_cast<unsigned char>(value);
}

// ---------------------------------------------------------------------------
// Encoding.

// Index ranges of the alphabet layout the offsets below rely on.
constexpr bool hasUsualLayout(const char* alphabet) {
    for (int k = 0; k < 26; k++)
        if (alphabet[k] != 'A' + k || alphabet[26 + k] != 'a' + k) return false;
    for (int k = 0; k < 10; k++)
        if (alphabet[52 + k] != '0' + k) return false;
    return true;
}
static_assert(hasUsualLayout(kBase64EncodeChars) && hasUsualLayout(kWebSafeBase64EncodeChars));

// The offset from a field to its character, by range: entry 13 for 0-25,
// entry 0 for 26-51, entries 1-10 for 52-61, 11 and 12 for 62 and 63.
constexpr LaneTable makeCharOffsets(const char* alphabet) {
    LaneTable t{};
    setEntry(t, 13, 'A');
    setEntry(t, 0, 'a' - 26);
    for (int k = 1; k <= 10; k++) setEntry(t, k, '0' - 52);
    setEntry(t, 11, alphabet[62] - 62);
    setEntry(t, 12, alphabet[63] - 63);
    return t;
}
constexpr LaneTable kStandardCharOffsets = makeCharOffsets(kBase64EncodeChars);
constexpr LaneTable kWebSafeCharOffsets = makeCharOffsets(kWebSafeBase64EncodeChars);

inline __m256i load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
inline __m128i load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

std::size_t encode(const unsigned char* src, std::size_t groups, unsigned char* dest, Alphabet alphabet) {
    const __m256i charOffsets =
        load((alphabet == Alphabet::standard ? kStandardCharOffsets : kWebSafeCharOffsets).bytes);
    // Lane 0 is loaded from the block's byte 0 and holds groups 0-3 at 0-11;
    // lane 1 is loaded from byte 8 and holds groups 4-7 at 4-15.
    const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,  //
                                            5, 4, 6, 5, 8, 7, 9, 8, 11, 10, 12, 11, 14, 13, 15, 14);
    const __m256i rightFields = _mm256_set1_epi32(0x0FC0FC00);  // first and third, moved right
    const __m256i rightShifts = _mm256_set1_epi32(0x04000040);  // by 6 and 10
    const __m256i leftFields = _mm256_set1_epi32(0x003F03F0);   // second and fourth, moved left
    const __m256i leftShifts = _mm256_set1_epi32(0x01000010);   // by 4 and 8
    const __m256i above51 = _mm256_set1_epi8(51);
    const __m256i below26 = _mm256_set1_epi8(26);
    const __m256i upperEntry = _mm256_set1_epi8(13);

    std::size_t done = 0;
    for (; groups - done >= 8; done += 8) {
        const unsigned char* in = src + 3 * done;
        // Two 16-byte loads cover exactly the block's 24 bytes.
        __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(load128(in)), load128(in + 8), 1);
        bytes = _mm256_shuffle_epi8(bytes, spread);
        __m256i right = _mm256_mulhi_epu16(_mm256_and_si256(bytes, rightFields), rightShifts);
        __m256i left = _mm256_mullo_epi16(_mm256_and_si256(bytes, leftFields), leftShifts);
        __m256i fields = _mm256_or_si256(right, left);
        // Range entry: 0 for 0-51, 1-12 for 52-63, then 13 for 0-25.
        __m256i entry = _mm256_subs_epu8(fields, above51);
        entry = _mm256_or_si256(entry, _mm256_and_si256(_mm256_cmpgt_epi8(below26, fields), upperEntry));
        __m256i text = _mm256_add_epi8(fields, _mm256_shuffle_epi8(charOffsets, entry));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + 4 * done), text);
    }
    return done;
}

// ---------------------------------------------------------------------------
// Decoding.

struct NibbleTables {
    LaneTable lowClasses;   // by low nibble: the classes in which it is not valid
    LaneTable highClasses;  // by high nibble: the bit of its row's class
    LaneTable offsets;      // by high nibble, or by 8 + its row for the odd character
    unsigned char oddChar = 0;
    bool fits = true;  // the table has the shape the tables above assume
};

// Rows (high nibbles) with the same set of valid low nibbles share a class
// bit; a byte is valid when the low nibble's bits miss its row's bit.
constexpr NibbleTables makeNibbleTables(const std::array<char, 256>& table) {
    NibbleTables t{};
    unsigned rowValid[16] = {};
    for (int c = 0; c < 256; c++)
        if (static_cast<unsigned char>(table[static_cast<std::size_t>(c)]) < 64)
            rowValid[c >> 4] |= 1u << (c & 15);
    unsigned classValid[8] = {};
    int classes = 0;
    for (int row = 0; row < 16; row++) {
        int cls = 0;
        while (cls < classes && classValid[cls] != rowValid[row]) cls++;
        if (cls == classes) {
            if (classes == 8) {
                t.fits = false;
                return t;
            }
            classValid[classes++] = rowValid[row];
        }
        setEntry(t.highClasses, row, 1 << cls);
        for (int low = 0; low < 16; low++)
            if ((rowValid[row] >> low & 1u) == 0)
                t.lowClasses.bytes[low] |= static_cast<unsigned char>(1 << cls);
    }
    for (int low = 0; low < 16; low++) t.lowClasses.bytes[low + 16] = t.lowClasses.bytes[low];

    int odd = 0;
    for (int row = 0; row < 16; row++) {
        bool first = true;
        int rowOffset = 0;
        for (int low = 0; low < 16; low++) {
            int c = row * 16 + low;
            auto v = static_cast<unsigned char>(table[static_cast<std::size_t>(c)]);
            if (v >= 64) continue;
            int offset = v - c;
            if (row >= 8) t.fits = false;
            if (first) {
                rowOffset = offset;
                setEntry(t.offsets, row, offset);
                first = false;
            } else if (offset != rowOffset) {
                odd++;
                t.oddChar = static_cast<unsigned char>(c);
                setEntry(t.offsets, 8 + row, offset);
            }
        }
    }
    if (odd > 1) t.fits = false;
    return t;
}
constexpr NibbleTables kStandardNibbles = makeNibbleTables(kBase64DecodeChars);
constexpr NibbleTables kWebSafeNibbles = makeNibbleTables(kWebSafeBase64DecodeChars);
static_assert(kStandardNibbles.fits && kWebSafeNibbles.fits);
static_assert(kStandardNibbles.oddChar == '/' && kWebSafeNibbles.oddChar == '_');

std::size_t decode(const unsigned char* src, std::size_t chars, unsigned char* dest, std::size_t room,
                   Alphabet alphabet) {
    const NibbleTables& t = alphabet == Alphabet::standard ? kStandardNibbles : kWebSafeNibbles;
    const __m256i lowClasses = load(t.lowClasses.bytes);
    const __m256i highClasses = load(t.highClasses.bytes);
    const __m256i offsets = load(t.offsets.bytes);
    const __m256i oddChar = _mm256_set1_epi8(static_cast<char>(t.oddChar));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i oddEntry = _mm256_set1_epi8(8);
    const __m256i pairWeights = _mm256_set1_epi32(0x01400140);  // a * 64 + b
    const __m256i quadWeights = _mm256_set1_epi32(0x00011000);  // ab * 4096 + cd
    // Bytes 2, 1, 0 of each 32-bit lane, then the three used lanes of each half.
    const __m256i packBytes = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,  //
                                               2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i packLanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);

    std::size_t done = 0;
    for (; chars - done >= 32 && room - done / 4 * 3 >= 24; done += 32) {
        __m256i text = load(src + done);
        __m256i high = _mm256_and_si256(_mm256_srli_epi32(text, 4), nibble);
        __m256i low = _mm256_and_si256(text, nibble);
        if (!_mm256_testz_si256(_mm256_shuffle_epi8(lowClasses, low), _mm256_shuffle_epi8(highClasses, high)))
            break;
        __m256i entry = _mm256_or_si256(high, _mm256_and_si256(_mm256_cmpeq_epi8(text, oddChar), oddEntry));
        __m256i values = _mm256_add_epi8(text, _mm256_shuffle_epi8(offsets, entry));
        __m256i merged = _mm256_madd_epi16(_mm256_maddubs_epi16(values, pairWeights), quadWeights);
        __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(merged, packBytes), packLanes);
        unsigned char* out = dest + done / 4 * 3;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(bytes, 1));
    }
    return done;
}

}  // namespace

const Kernels kAvx2Kernels = {encode, decode};

}  // namespace corvane::base64_vector

#else

namespace corvane::base64_vector {
const Kernels kAvx2Kernels = {};
}  // namespace corvane::base64_vector

#endif
