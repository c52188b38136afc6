// The portable bitsliced kernel: 64-bit words, 64 blocks a pass, on any CPU.
#include <cstdint>

#include "engine/des/des_bitslice.h"
#include "engine/des/des_key_gather.h"
#include "engine/des/des_sbox_gates.h"

namespace corvane::des {
namespace {

struct PortableOps {
    using W = std::uint64_t;
    static constexpr std::size_t kLanes = 1;
    // Little-endian by arithmetic, whatever the host's byte order.
    static W load(const std::uint8_t* p) {
        W v = 0;
        for (unsigned i = 0; i < 8; ++i) v |= static_cast<W>(p[i]) << (8 * i);
        return v;
    }
    static void store(std::uint8_t* p, W v) {
        for (unsigned i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    static W broadcast(std::uint64_t m) { return m; }
    template <unsigned N>
    static W shl(W v) { return v << N; }
    template <unsigned N>
    static W shr(W v) { return v >> N; }
    template <int S>
    static void sbox(const W (&x)[6], W (&y)[4]) { sbox_gates<S>(x, y); }
};

void passPortable(const Des3DecryptSchedule& ks, const std::uint8_t* chain, const std::uint8_t* in,
                  std::uint8_t* out, std::size_t blocks) {
    BitslicedDes3<PortableOps>::pass(ks, chain, in, out, blocks);
}

}  // namespace

const DesKernel kKernelPortable = {passPortable, BitslicedDes3<PortableOps>::evalSbox, bitslicedSchedule<ByRotation>};

}  // namespace corvane::des
