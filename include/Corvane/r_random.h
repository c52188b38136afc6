/*
 * Random pool: an MD5-based deterministic byte generator over a
 * caller-owned record, seeded by the caller or from the clock.
 *
 * Calling order: QV_R_RandomInit, QV_R_RandomUpdate until
 * QV_R_GetRandomBytesNeeded reports 0, then any number of
 * QV_R_GenerateBytes / QV_R_RandomUpdate, then QV_R_RandomFinal.
 * QV_R_RandomCreate replaces the first two steps. QV_R_RandomMix may be
 * called at any time. Statuses: 0, or QV_STATUS_NOT_SEEDED from
 * QV_R_GenerateBytes while seed bytes are still wanted (nothing is then
 * written or changed). No function allocates or prints.
 * Threads: one record per thread at a time.
 */
#ifndef CORVANE_R_RANDOM_H
#define CORVANE_R_RANDOM_H

#include <stdint.h>

#include "CorvaneExport.h"

CORVANE_EXTERN_C_BEGIN

#ifndef QV_STATUS_NOT_SEEDED
#define QV_STATUS_NOT_SEEDED 0x0408
#endif

/* The pool record: 40 bytes, no padding. */
typedef struct {
    uint32_t bytesNeeded;          /* seed bytes still wanted; output refused while non-zero */
    unsigned char state[16];       /* 128-bit state, most significant byte first */
    uint32_t outputAvailable;      /* unread bytes at the end of output, 0..16 */
    unsigned char output[16];      /* current output block */
} R_RANDOM_STRUCT;

/* state = 0, outputAvailable = 0, bytesNeeded = 256. Returns 0. */
CORVANE_EXPORT int32_t QV_R_RandomInit(R_RANDOM_STRUCT* random);
/* Adds MD5(block) into state and lowers bytesNeeded (never below 0). Returns 0. */
CORVANE_EXPORT int32_t QV_R_RandomUpdate(R_RANDOM_STRUCT* random, const unsigned char* block,
                                         uint32_t blockLen);
/* *bytesNeeded = the pool's bytesNeeded. Returns 0. */
CORVANE_EXPORT int32_t QV_R_GetRandomBytesNeeded(uint32_t* bytesNeeded, R_RANDOM_STRUCT* random);
/* Fills block[0..blockLen) (note: destination first, pool last).
 * Returns 0, or QV_STATUS_NOT_SEEDED with nothing touched. */
CORVANE_EXPORT int32_t QV_R_GenerateBytes(unsigned char* block, uint32_t blockLen, R_RANDOM_STRUCT* random);
/* Wipes the whole record to zero. */
CORVANE_EXPORT void QV_R_RandomFinal(R_RANDOM_STRUCT* random);
/* Resets the pool and seeds it from the clock and the operating system's
 * entropy source; afterwards it needs no more seed bytes. Should the entropy
 * source fail (it has no way to say so here), the pool is left seeded from
 * the clock alone, as the legacy seeding made it. */
CORVANE_EXPORT void QV_R_RandomCreate(R_RANDOM_STRUCT* random);
/* Stirs clock bytes into state and makes a fresh output block from it. */
CORVANE_EXPORT void QV_R_RandomMix(R_RANDOM_STRUCT* random);

CORVANE_EXTERN_C_END

#endif /* CORVANE_R_RANDOM_H */
