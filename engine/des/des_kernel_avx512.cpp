// The AVX-512 bitsliced kernel: 512-bit words, 512 blocks a pass, each S-box
// a circuit of 3-input functions (one vpternlogq each). Compiled for
// AVX-512F only; des3_decrypt calls it only when cpu_features() reports it.
#include "engine/des/des3_engine.h"

#if defined(__AVX512F__)

#include <immintrin.h>

#include <bit>

#include "engine/des/des_bitslice.h"
#include "engine/des/des_key_gather.h"
#include "engine/des/des_registers.h"
#include "engine/des/des_sbox_ternary.h"

namespace corvane::des {
namespace {

// x86 is little-endian: a lane's load is the block's little-endian word.
static_assert(std::endian::native == std::endian::little);

struct Avx512Ops {
    using W = __m512i;  // a GCC vector type: &, |, ^ and ~ work on it
    static constexpr std::size_t kLanes = 8;
    static W load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
    static void store(std::uint8_t* p, W v) { _mm512_storeu_si512(p, v); }
    static W broadcast(std::uint64_t m) { return _mm512_set1_epi64(static_cast<long long>(m)); }
    // Shifts as vector operations on unsigned lanes: g++ 12's
    // _mm512_slli_epi64/_mm512_srli_epi64 trip -Wmaybe-uninitialized.
    using U = unsigned long long __attribute__((vector_size(64)));
    template <unsigned N>
    static W shl(W v) { return reinterpret_cast<W>(reinterpret_cast<U>(v) << N); }
    template <unsigned N>
    static W shr(W v) { return reinterpret_cast<W>(reinterpret_cast<U>(v) >> N); }
    template <int S>
    static void sbox(const W (&x)[6], W (&y)[4]) { sbox_ternary<S>(x, y); }
};

void passAvx512(const Des3DecryptSchedule& ks, const std::uint8_t* chain, const std::uint8_t* in,
                std::uint8_t* out, std::size_t blocks) {
    BitslicedDes3<Avx512Ops>::pass(ks, chain, in, out, blocks);
    clearVectorRegisters();
}

void scheduleAvx512(const std::uint8_t* key, Des3DecryptSchedule& schedule) {
    bitslicedSchedule<ByMoveMask>(key, schedule);
    clearVectorRegisters();
}

}  // namespace

const DesKernel kKernelAvx512 = {passAvx512, BitslicedDes3<Avx512Ops>::evalSbox, scheduleAvx512};

}  // namespace corvane::des

#else

namespace corvane::des {
const DesKernel kKernelAvx512 = {};
}  // namespace corvane::des

#endif
