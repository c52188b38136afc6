// The AVX2 bitsliced kernel: 256-bit words, 256 blocks a pass. Compiled for
// AVX2 only; des3_decrypt calls it only when cpu_features() reports AVX2.
#include "engine/des/des3_engine.h"

#if defined(__AVX2__)

#include <immintrin.h>

#include <bit>

#include "engine/des/des_bitslice.h"
#include "engine/des/des_key_gather.h"
#include "engine/des/des_registers.h"
#include "engine/des/des_sbox_gates.h"

namespace corvane::des {
namespace {

// x86 is little-endian: a lane's load is the block's little-endian word.
static_assert(std::endian::native == std::endian::little);

struct Avx2Ops {
    using W = __m256i;  // a GCC vector type: &, |, ^ and ~ work on it
    static constexpr std::size_t kLanes = 4;
    static W load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(std::uint8_t* p, W v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static W broadcast(std::uint64_t m) { return _mm256_set1_epi64x(static_cast<long long>(m)); }
    template <unsigned N>
    static W shl(W v) { return _mm256_slli_epi64(v, N); }
    template <unsigned N>
    static W shr(W v) { return _mm256_srli_epi64(v, N); }
    template <int S>
    static void sbox(const W (&x)[6], W (&y)[4]) { sbox_gates<S>(x, y); }
};

void passAvx2(const Des3DecryptSchedule& ks, const std::uint8_t* chain, const std::uint8_t* in,
              std::uint8_t* out, std::size_t blocks) {
    BitslicedDes3<Avx2Ops>::pass(ks, chain, in, out, blocks);
    clearVectorRegisters();
}

void scheduleAvx2(const std::uint8_t* key, Des3DecryptSchedule& schedule) {
    bitslicedSchedule<ByMoveMask>(key, schedule);
    clearVectorRegisters();
}

}  // namespace

const DesKernel kKernelAvx2 = {passAvx2, BitslicedDes3<Avx2Ops>::evalSbox, scheduleAvx2};

}  // namespace corvane::des

#else

namespace corvane::des {
const DesKernel kKernelAvx2 = {};
}  // namespace corvane::des

#endif
