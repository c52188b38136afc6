// Constant-time reads of two tables kept side by side, row i holding entry
// i of each: the pair of fixed-window exponentiations (exponent_pair.h)
// reads both of its tables at every window, each at its own secret index.
// Where a row's two entries are adjacent and fit three AVX-512 vectors, one
// pass over the rows reads both (each lane compares the row number with
// the index of the table its word belongs to), which halves the rows
// walked and the calls made; elsewhere each table is read in turn by the
// read MontBackend::select would use. The path follows cpu_features()
// through the same availability checks as the backends.
#ifndef CORVANE_ENGINE_CT_SELECT_PAIR_H
#define CORVANE_ENGINE_CT_SELECT_PAIR_H

#include <cstddef>

#include "engine/bignum/ct.h"
#include "engine/bignum/select/ct_select_avx2.h"
#include "engine/bignum/select/ct_select_avx512.h"
#include "engine/bignum/word.h"

namespace corvane::engine {

enum class PairSelectPath { avx512Joint, avx512, avx2, portable };

// outP[0..n) = words 0..n-1 of row indexP and outQ[0..n) = words n..2n-1 of
// row indexQ, for a table of `count` rows that start `stride` words apart
// (stride >= 2n, n <= 12). Every word of every row is read and kept or
// dropped under a lane mask. Built in where selectAvx512 is; run only where
// avx512SelectAvailable().
void selectPairAvx512(Word* outP, Word* outQ, const Word* table, std::size_t count, std::size_t stride,
                      std::size_t n, Word indexP, Word indexQ) noexcept;

// The path for rows whose entries have n words and start `second` words
// apart, on this CPU (as capped by CORVANE_CPU).
inline PairSelectPath pairSelectPath(std::size_t n, std::size_t second) noexcept {
    if (avx512SelectAvailable()) return second == n && n <= 12 ? PairSelectPath::avx512Joint : PairSelectPath::avx512;
    return avx2SelectAvailable() ? PairSelectPath::avx2 : PairSelectPath::portable;
}

// outP = the first entry (n words) of row indexP and outQ = the second
// entry (n words from word `second`) of row indexQ, by `path`, which
// pairSelectPath gave for n and second.
inline void selectPair(PairSelectPath path, Word* outP, Word* outQ, const Word* table, std::size_t count,
                       std::size_t stride, std::size_t second, std::size_t n, Word indexP, Word indexQ) noexcept {
    switch (path) {
        case PairSelectPath::avx512Joint:
            return selectPairAvx512(outP, outQ, table, count, stride, n, indexP, indexQ);
        case PairSelectPath::avx512:
            selectAvx512(outP, table, count, stride, n, indexP);
            return selectAvx512(outQ, table + second, count, stride, n, indexQ);
        case PairSelectPath::avx2:
            selectAvx2(outP, table, count, stride, n, indexP);
            return selectAvx2(outQ, table + second, count, stride, n, indexQ);
        case PairSelectPath::portable:
            break;
    }
    ct::lookup(outP, table, count, stride, n, indexP);
    ct::lookup(outQ, table + second, count, stride, n, indexQ);
}

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_CT_SELECT_PAIR_H
