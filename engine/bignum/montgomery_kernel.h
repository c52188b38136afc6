// Montgomery multiplication and squaring, a * b / R mod m with R = 2^(W*n),
// by product scanning with the reduction interleaved (each result column is
// finished, and its reduction multiple chosen, before the next one starts).
//
// The kernels are templates on the word count N so that the compiler can
// unroll the loops for the sizes RSA uses; N = 0 takes the count at run
// time and serves every other size. Inputs must be below m; the result is
// below m. Nothing branches on or indexes by a value: the only data-
// dependent step, the final subtraction, is done with masks. The words that
// hold intermediate values go to caller-provided scratch (kScratchWords),
// which the caller wipes once it is done with a run of products.
#ifndef CORVANE_ENGINE_MONTGOMERY_KERNEL_H
#define CORVANE_ENGINE_MONTGOMERY_KERNEL_H

#include <cstddef>

#include "engine/bignum/limbs.h"
#include "engine/bignum/word.h"

// Asks GCC to unroll the kernels' loops for the fixed word counts. Clang
// unrolls them by itself and warns where a hint cannot be followed (the
// run-time count), so it gets none.
#if defined(__clang__) || !defined(__GNUC__)
#define CORVANE_UNROLL
#else
#define CORVANE_UNROLL _Pragma("GCC unroll 32")
#endif

namespace corvane::engine {

// Each product is one out-of-line function per word count, whatever the
// optimisation level: an exponentiation calls it a thousand times, and the
// call costs nothing beside the unrolled body (N^2 multiply-adds). At -O3
// GCC would otherwise inline the unrolled bodies into every caller (each
// window loop, table set-up and conversion of every size), multiplying the
// engine's code tenfold and one file's compile time to minutes without
// making it faster.
template <std::size_t N>
struct MontKernel {
    static_assert(N <= kMaxWords);
    static constexpr std::size_t kCapacity = N == 0 ? kMaxWords : N;
    static constexpr std::size_t kScratchWords = 3 * kCapacity;

    // r = a * b / R mod m. r may alias a or b.
    [[gnu::noinline]] static void mul(Word* r, const Word* a, const Word* b, const Word* m, Word m0inv,
                                      std::size_t runtimeN, Word* scratch) {
        const std::size_t n = size(runtimeN);
        Word* q = scratch;
        Word* t = scratch + kCapacity;
        ColumnSum acc;
        CORVANE_UNROLL
        for (std::size_t i = 0; i < n; i++) {
            CORVANE_UNROLL
            for (std::size_t j = 0; j < i; j++) {
                acc.mac(a[j], b[i - j]);
                acc.mac(q[j], m[i - j]);
            }
            acc.mac(a[i], b[0]);
            q[i] = static_cast<Word>(acc.low) * m0inv;
            acc.mac(q[i], m[0]);
            acc.shift();  // the low word is now zero
        }
        CORVANE_UNROLL
        for (std::size_t i = n; i < 2 * n - 1; i++) {
            CORVANE_UNROLL
            for (std::size_t j = i - n + 1; j < n; j++) {
                acc.mac(a[j], b[i - j]);
                acc.mac(q[j], m[i - j]);
            }
            t[i - n] = acc.shift();
        }
        t[n - 1] = acc.shift();
        reduceOnce(r, t, acc.shift(), m, scratch + 2 * kCapacity, n);
    }

    // r = a * a / R mod m. r may alias a. Each cross product a[j]*a[k]
    // (j < k) is formed once and doubled.
    [[gnu::noinline]] static void sqr(Word* r, const Word* a, const Word* m, Word m0inv, std::size_t runtimeN,
                                      Word* scratch) {
        const std::size_t n = size(runtimeN);
        Word* q = scratch;
        Word* t = scratch + kCapacity;
        ColumnSum acc;
        CORVANE_UNROLL
        for (std::size_t i = 0; i < 2 * n - 1; i++) {
            const std::size_t lo = i < n ? 0 : i - n + 1;
            ColumnSum cross;
            CORVANE_UNROLL
            for (std::size_t j = lo; j < i - j; j++) cross.mac(a[j], a[i - j]);
            acc.addTwice(cross);
            if (i % 2 == 0) acc.mac(a[i / 2], a[i / 2]);
            if (i < n) {
                CORVANE_UNROLL
                for (std::size_t j = 0; j < i; j++) acc.mac(q[j], m[i - j]);
                q[i] = static_cast<Word>(acc.low) * m0inv;
                acc.mac(q[i], m[0]);
                acc.shift();
            } else {
                CORVANE_UNROLL
                for (std::size_t j = lo; j < n; j++) acc.mac(q[j], m[i - j]);
                t[i - n] = acc.shift();
            }
        }
        t[n - 1] = acc.shift();
        reduceOnce(r, t, acc.shift(), m, scratch + 2 * kCapacity, n);
    }

private:
    // The word count; the bound tells the compiler that unrolled copies of
    // the loops never run past the arrays.
    static std::size_t size(std::size_t runtimeN) {
        if constexpr (N != 0) return N;
        if (runtimeN == 0 || runtimeN > kMaxWords) __builtin_unreachable();
        return runtimeN;
    }
};

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_MONTGOMERY_KERNEL_H
