// The short-message kernel on AVX-512 (F, BW, VL, VBMI): one block a 64-bit
// lane, eight a vector, four vectors in flight. vpermi2b looks up 128-byte
// tables held in two registers, two S-boxes a table (bit 6 of the index
// chooses, and the round keys carry that bit for the odd boxes), each lookup
// masked to its boxes' bytes; four lookups and four rotations make a round.
// Compiled for those extensions only; used only when cpu_features() reports
// them.
#include "engine/des/des_short.h"

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VL__) && defined(__AVX512VBMI__)

#include <immintrin.h>

#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "engine/des/des_key_gather.h"
#include "engine/des/des_short_kernel.h"
#include "engine/des/des_short_tables.h"

namespace corvane::des {
namespace {

static_assert(std::endian::native == std::endian::little);

struct Avx512ShortOps : LaneShifts<unsigned long long __attribute__((vector_size(64)))> {
    using V = __m512i;
    static constexpr std::size_t kLanes = 8;
    static constexpr std::size_t kGroup = 4;
    // chainRound computes lanes 0 and 1 (its routing runs on 128 bits).
    static constexpr std::size_t kChainLanes = 2;

    static constexpr const ShortLayout& kLayout = kLayoutVbmi;
    alignas(64) static constexpr auto kTables = short_tables::vbmiTables(kLayout);
    static constexpr std::array<std::uint64_t, 8> kRoute = short_tables::routeMasks(kLayout);
    static constexpr short_tables::ShuffleNet kToLeft = short_tables::shuffleNet(short_tables::blockToHalf(kLayout, 0));
    static constexpr short_tables::ShuffleNet kToRight = short_tables::shuffleNet(short_tables::blockToHalf(kLayout, 1));
    static constexpr short_tables::ShuffleNet kToBlock = short_tables::shuffleNet(short_tables::halvesToBlock(kLayout));
    // Bit 6 of the odd boxes' bytes: vpermi2b's choice of the second table.
    static constexpr std::uint64_t kSecondTable = 0x4000400040004000u;

    static V load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
    static void store(std::uint8_t* p, V v) { _mm512_storeu_si512(p, v); }
    static V loadOne(const std::uint8_t* p) {
        return _mm512_zextsi128_si512(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    }
    static void storeOne(std::uint8_t* p, V v) {
        const std::uint64_t word = reinterpret_cast<U>(v)[0];
        std::memcpy(p, &word, 8);
    }
    static V broadcast(std::uint64_t k) { return _mm512_set1_epi64(static_cast<long long>(k)); }
    static V loadWords(const std::uint64_t* p) { return _mm512_load_si512(p); }

    static V table(unsigned i, unsigned half) { return _mm512_load_si512(kTables[i].data() + 64 * half); }

    static V round(V l, V r, V k) {
        const V x = _mm512_xor_si512(r, k);
        const V s0 = _mm512_maskz_permutex2var_epi8(0x0303030303030303u, table(0, 0), x, table(0, 1));
        const V s1 = _mm512_maskz_permutex2var_epi8(0x0C0C0C0C0C0C0C0Cu, table(1, 0), x, table(1, 1));
        const V s2 = _mm512_maskz_permutex2var_epi8(0x3030303030303030u, table(2, 0), x, table(2, 1));
        const V s3 = _mm512_maskz_permutex2var_epi8(0xC0C0C0C0C0C0C0C0u, table(3, 0), x, table(3, 1));
        const V s = _mm512_or_si512(_mm512_ternarylogic_epi64(s0, s1, s2, 0xFE), s3);
        static_assert(kLayout.rotationCount == 4);
        // a ^ (b & c), twice in two chains, then the chains together.
        V a = _mm512_ternarylogic_epi64(l, rotate<kLayout.rotations[0]>(s), broadcast(kRoute[0]), 0x78);
        V b = _mm512_and_si512(rotate<kLayout.rotations[1]>(s), broadcast(kRoute[1]));
        a = _mm512_ternarylogic_epi64(a, rotate<kLayout.rotations[2]>(s), broadcast(kRoute[2]), 0x78);
        b = _mm512_ternarylogic_epi64(b, rotate<kLayout.rotations[3]>(s), broadcast(kRoute[3]), 0x78);
        return _mm512_xor_si512(a, b);
    }

    // The single chain's round (see ShortDes3::chainRound): one box a
    // lookup in 64-byte tables of two 256-bit registers, which answer
    // sooner than the 128-byte ones, and the routing on lane 0 alone.
    // The low 256 and 128 bits, by shuffles rather than GCC 12's cast
    // intrinsics, which trip -Wmaybe-uninitialized.
    static __m256i low256(V v) { return reinterpret_cast<__m256i>(__builtin_shufflevector(v, v, 0, 1, 2, 3)); }
    static __m128i low128(V v) { return reinterpret_cast<__m128i>(__builtin_shufflevector(v, v, 0, 1)); }
    static __m128i low128(__m256i v) { return reinterpret_cast<__m128i>(__builtin_shufflevector(v, v, 0, 1)); }

    static __m256i boxTable(unsigned box, unsigned half) {
        return _mm256_load_si256(reinterpret_cast<const __m256i*>(kTables[box / 2].data() + 64 * (box % 2) + 32 * half));
    }
    template <unsigned R>
    static __m128i rotate128(__m128i v) {
        using U2 = unsigned long long __attribute__((vector_size(16)));
        const U2 u = reinterpret_cast<U2>(v);
        return reinterpret_cast<__m128i>((u << R) | (u >> (64 - R)));
    }
    template <unsigned J>
    static __m256i boxLookup(__m256i x) {
        return _mm256_maskz_permutex2var_epi8(0x01010101u << J, boxTable(J, 0), x, boxTable(J, 1));
    }
    template <std::size_t... J>
    static void boxLookups(__m256i x, __m256i (&s)[8], std::index_sequence<J...>) {
        ((s[J] = boxLookup<J>(x)), ...);
    }
    static V chainRound(V l, V r, V k) {
        const __m256i x = _mm256_xor_si256(low256(r), low256(k));
        __m256i s[8];
        boxLookups(x, s, std::make_index_sequence<8>{});
        const __m256i merged = _mm256_ternarylogic_epi64(_mm256_ternarylogic_epi64(s[0], s[1], s[2], 0xFE),
                                                         _mm256_ternarylogic_epi64(s[3], s[4], s[5], 0xFE),
                                                         _mm256_or_si256(s[6], s[7]), 0xFE);
        const __m128i m = low128(merged);
        const auto mask = [](unsigned i) { return _mm_set1_epi64x(static_cast<long long>(kRoute[i])); };
        __m128i a = _mm_ternarylogic_epi64(low128(l), rotate128<kLayout.rotations[0]>(m), mask(0), 0x78);
        __m128i b = _mm_and_si128(rotate128<kLayout.rotations[1]>(m), mask(1));
        a = _mm_ternarylogic_epi64(a, rotate128<kLayout.rotations[2]>(m), mask(2), 0x78);
        b = _mm_ternarylogic_epi64(b, rotate128<kLayout.rotations[3]>(m), mask(3), 0x78);
        return _mm512_zextsi128_si512(_mm_xor_si128(a, b));
    }

    // acc | (b & c)
    template <const short_tables::ShuffleNet& N, std::size_t I>
    static V term(V acc, V s0, V s1) {
        const V picked = _mm512_shuffle_epi8(N.terms[I].source == 0 ? s0 : s1,
                                             _mm512_load_si512(short_tables::ShuffleIndex<N, I, 64>::bytes.data()));
        return _mm512_ternarylogic_epi64(acc, shift<N.terms[I].shift>(picked), broadcast(N.terms[I].mask), 0xF8);
    }
    template <const short_tables::ShuffleNet& N, std::size_t... I>
    static V gather(V s0, V s1, std::index_sequence<I...>) {
        V acc = _mm512_setzero_si512();
        ((acc = term<N, I>(acc, s0, s1)), ...);
        return acc;
    }
    template <const short_tables::ShuffleNet& N>
    static V permute(V s0, V s1) {
        return gather<N>(s0, s1, std::make_index_sequence<N.count>{});
    }
};

void scheduleAvx512(const std::uint8_t* key, Direction direction, ShortSchedule& out) {
    shortSchedule<ByMoveMask, kLayoutVbmi>(key, direction, out);
    for (std::uint64_t& round : out.rounds) round |= Avx512ShortOps::kSecondTable;
}

}  // namespace

const ShortKernel kShortAvx512 = ShortEntryPoints<Avx512ShortOps, scheduleAvx512>::kernel();

}  // namespace corvane::des

#else

namespace corvane::des {
const ShortKernel kShortAvx512 = {};
}  // namespace corvane::des

#endif
