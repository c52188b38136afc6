// The short-message kernel on plain 64-bit words, for any CPU: one block a
// word, four in flight. Each S-box is looked up by a multiplexer tree over
// the whole table: the 32 words of muxWords() hold every box's outputs, and
// five levels of masked selects, each mask made from one input bit of every
// box at once, narrow them to one word; a last select picks the half byte.
// Masks and constants only: no table is ever indexed.
#include <cstdint>
#include <utility>

#include "engine/des/des_key_gather.h"
#include "engine/des/des_short_kernel.h"
#include "engine/des/des_short_tables.h"

namespace corvane::des {
namespace {

struct PortableShortOps {
    using V = std::uint64_t;
    static constexpr std::size_t kLanes = 1;
    static constexpr std::size_t kGroup = 4;

    static constexpr const ShortLayout& kLayout = kLayoutPortable;
    static constexpr std::array<std::uint64_t, 32> kMux = short_tables::muxWords(kLayout);
    static constexpr std::array<std::uint64_t, 8> kRoute = short_tables::routeMasks(kLayout);
    static constexpr short_tables::RotateNet kToLeft = short_tables::rotateNet(short_tables::blockToHalf(kLayout, 0));
    static constexpr short_tables::RotateNet kToRight = short_tables::rotateNet(short_tables::blockToHalf(kLayout, 1));
    static constexpr short_tables::RotateNet kToBlock = short_tables::rotateNet(short_tables::halvesToBlock(kLayout));
    static constexpr std::uint64_t kOnes = 0x0101010101010101u;
    static constexpr std::uint64_t kLowHalves = 0x0F0F0F0F0F0F0F0Fu;

    static V load(const std::uint8_t* p) { return loadLittleEndian(p); }
    static void store(std::uint8_t* p, V v) {
        for (unsigned i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    static V loadOne(const std::uint8_t* p) { return load(p); }
    static void storeOne(std::uint8_t* p, V v) { store(p, v); }
    static V broadcast(std::uint64_t k) { return k; }
    static V loadWords(const std::uint64_t* p) { return *p; }

    // All ones in byte j where bit B of byte j of x is set.
    template <unsigned B>
    static V spread(V x) {
        const V t = (x >> B) & kOnes;
        return (t << 8) - t;
    }

    // One level of the multiplexer tree: of each pair of words, the second
    // where the mask is set.
    template <std::size_t... I>
    static void select(V* words, V mask, std::index_sequence<I...>) {
        ((words[I] = words[2 * I] ^ ((words[2 * I] ^ words[2 * I + 1]) & mask)), ...);
    }
    template <std::size_t... I>
    static void firstLevel(V* words, V mask, std::index_sequence<I...>) {
        ((words[I] = kMux[2 * I] ^ ((kMux[2 * I] ^ kMux[2 * I + 1]) & mask)), ...);
    }

    template <std::size_t... K>
    static V route(V acc, V s, std::index_sequence<K...>) {
        return (acc ^ ... ^ (rotateLeft(s, kLayout.rotations[K]) & kRoute[K]));
    }

    static V round(V l, V r, V k) {
        const V x = r ^ k;
        V words[16];
        firstLevel(words, spread<1>(x), std::make_index_sequence<16>{});
        select(words, spread<2>(x), std::make_index_sequence<8>{});
        select(words, spread<3>(x), std::make_index_sequence<4>{});
        select(words, spread<4>(x), std::make_index_sequence<2>{});
        select(words, spread<5>(x), std::make_index_sequence<1>{});
        const V m0 = spread<0>(x) & kLowHalves;
        const V s = (words[0] & kLowHalves) ^ (((words[0] >> 4) ^ words[0]) & m0);
        return route(l, s, std::make_index_sequence<kLayout.rotationCount>{});
    }

    template <const short_tables::RotateNet& N>
    static V permute(V s0, V s1) {
        return applyRotateNet<N>(s0, s1);
    }
};

void schedulePortable(const std::uint8_t* key, Direction direction, ShortSchedule& out) {
    shortSchedule<ByRotation, kLayoutPortable>(key, direction, out);
}

}  // namespace

const ShortKernel kShortPortable = ShortEntryPoints<PortableShortOps, schedulePortable>::kernel();

}  // namespace corvane::des
