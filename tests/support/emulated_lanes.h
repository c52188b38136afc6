// Eight 64-bit lanes in plain integer code, with the operations the
// lane-parallel exponentiation (engine/montgomery_ifma_lanes_kernel.h) asks
// of a vector: the kernel's own text runs on it where AVX-512 IFMA does not
// (on every CPU in the tests, and under valgrind, which cannot run AVX-512).
// No branch and no address depends on a lane's value.
#ifndef CORVANE_TEST_EMULATED_LANES_H
#define CORVANE_TEST_EMULATED_LANES_H

#include <cstdint>

#include "engine/bignum/ifma/montgomery_ifma.h"

#if CORVANE_ENGINE_HAS_IFMA
#include "engine/bignum/ifma/montgomery_ifma_lanes_kernel.h"

namespace corvane::test {

struct EmulatedLanes {
    struct V {
        std::uint64_t lane[8];
    };
    using Product = engine::DWord;  // 128 bits where the IFMA kernels are built
    static constexpr std::uint64_t kMask = engine::kLaneDigitMask;

    template <class F>
    static V each(F f) {
        V r;
        for (unsigned k = 0; k < 8; k++) r.lane[k] = f(k);
        return r;
    }
    static V zero() { return V{}; }
    static V broadcast(std::uint64_t x) {
        return each([&](unsigned) { return x; });
    }
    static V load(const std::uint64_t* p) {
        return each([&](unsigned k) { return p[k]; });
    }
    static void store(std::uint64_t* p, V x) {
        for (unsigned k = 0; k < 8; k++) p[k] = x.lane[k];
    }
    static V add(V a, V b) {
        return each([&](unsigned k) { return a.lane[k] + b.lane[k]; });
    }
    static V shiftDigit(V x) {
        return each([&](unsigned k) { return x.lane[k] >> 52; });
    }
    static V lowDigit(V x) {
        return each([&](unsigned k) { return x.lane[k] & kMask; });
    }
    static Product product(V a, V b, unsigned k) {
        return static_cast<Product>(a.lane[k] & kMask) * (b.lane[k] & kMask);
    }
    static V madd52lo(V acc, V a, V b) {
        return each([&](unsigned k) { return acc.lane[k] + (static_cast<std::uint64_t>(product(a, b, k)) & kMask); });
    }
    static V madd52hi(V acc, V a, V b) {
        return each([&](unsigned k) { return acc.lane[k] + static_cast<std::uint64_t>(product(a, b, k) >> 52); });
    }
    static V takeWhereEqual(V out, V wanted, V entry, V x) {
        return each([&](unsigned k) {
            const std::uint64_t diff = wanted.lane[k] ^ entry.lane[k];
            const std::uint64_t take = ((diff | (0 - diff)) >> 63) - 1;  // all ones where equal
            return (out.lane[k] & ~take) | (x.lane[k] & take);
        });
    }
};

}  // namespace corvane::test

#endif  // CORVANE_ENGINE_HAS_IFMA
#endif  // CORVANE_TEST_EMULATED_LANES_H
