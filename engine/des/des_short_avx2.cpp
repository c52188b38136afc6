// The short-message kernel on AVX2: one block a 64-bit lane, four a vector,
// four vectors in flight. vpshufb looks up 16 entries held in a register,
// the same for every byte, so each table answers for all eight S-boxes at
// once: entry c of table [u][row] has, in the slot where box j keeps output
// bit u, that bit of box j for column c and that row (bits 4..5 of the
// input). Setting bit 7 of the index where a byte's row differs zeroes the
// other rows' answers; each byte then keeps its own box's bits. Compiled for
// AVX2 only; used only when cpu_features() reports it.
#include "engine/des/des_short.h"

#if defined(__AVX2__)

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

struct Avx2ShortOps : LaneShifts<unsigned long long __attribute__((vector_size(32)))> {
    using V = __m256i;
    static constexpr std::size_t kLanes = 4;
    static constexpr std::size_t kGroup = 4;

    static constexpr const ShortLayout& kLayout = kLayoutShuffle;
    static constexpr auto kTables = short_tables::shuffleTables(kLayout);
    static constexpr std::array<std::uint64_t, 4> kOutputs = short_tables::shuffleOutputMasks(kLayout);
    static constexpr std::array<std::uint64_t, 8> kRoute = short_tables::routeMasks(kLayout);
    static constexpr short_tables::ShuffleNet kToLeft = short_tables::shuffleNet(short_tables::blockToHalf(kLayout, 0));
    static constexpr short_tables::ShuffleNet kToRight = short_tables::shuffleNet(short_tables::blockToHalf(kLayout, 1));
    static constexpr short_tables::ShuffleNet kToBlock = short_tables::shuffleNet(short_tables::halvesToBlock(kLayout));

    static V load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(std::uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static V loadOne(const std::uint8_t* p) {
        return _mm256_zextsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    }
    static void storeOne(std::uint8_t* p, V v) {
        const std::uint64_t word = reinterpret_cast<U>(v)[0];
        std::memcpy(p, &word, 8);
    }
    static V broadcast(std::uint64_t k) { return _mm256_set1_epi64x(static_cast<long long>(k)); }
    static V loadWords(const std::uint64_t* p) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(p)); }

    static V table(unsigned u, unsigned row) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kTables[u][row].data())));
    }

    template <std::size_t... K>
    static V route(V acc, V s, std::index_sequence<K...>) {
        return (acc ^ ... ^ (rotate<kLayout.rotations[K]>(s) & broadcast(kRoute[K])));
    }

    static V round(V l, V r, V k) {
        const V x = r ^ k;
        const V rows = x & _mm256_set1_epi8(0x30);
        const V other = _mm256_set1_epi8(static_cast<char>(0x80));
        V index[4];
        for (unsigned row = 0; row < 4; ++row)
            index[row] = x | _mm256_andnot_si256(_mm256_cmpeq_epi8(rows, _mm256_set1_epi8(static_cast<char>(row << 4))),
                                                 other);
        V s = _mm256_setzero_si256();
        for (unsigned u = 0; u < 4; ++u) {
            V bits = _mm256_shuffle_epi8(table(u, 0), index[0]);
            for (unsigned row = 1; row < 4; ++row) bits = bits | _mm256_shuffle_epi8(table(u, row), index[row]);
            s = s | (bits & broadcast(kOutputs[u]));
        }
        return route(l, s, std::make_index_sequence<kLayout.rotationCount>{});
    }

    template <const short_tables::ShuffleNet& N, std::size_t... I>
    static V gather(V s0, V s1, std::index_sequence<I...>) {
        return (_mm256_setzero_si256() | ... |
                (shift<N.terms[I].shift>(_mm256_shuffle_epi8(
                     N.terms[I].source == 0 ? s0 : s1,
                     _mm256_load_si256(reinterpret_cast<const __m256i*>(short_tables::ShuffleIndex<N, I, 32>::bytes.data())))) &
                 broadcast(N.terms[I].mask)));
    }
    template <const short_tables::ShuffleNet& N>
    static V permute(V s0, V s1) {
        return gather<N>(s0, s1, std::make_index_sequence<N.count>{});
    }
};

void scheduleAvx2(const std::uint8_t* key, Direction direction, ShortSchedule& out) {
    shortSchedule<ByMoveMask, kLayoutShuffle>(key, direction, out);
}

}  // namespace

const ShortKernel kShortAvx2 = ShortEntryPoints<Avx2ShortOps, scheduleAvx2>::kernel();

}  // namespace corvane::des

#else

namespace corvane::des {
const ShortKernel kShortAvx2 = {};
}  // namespace corvane::des

#endif
