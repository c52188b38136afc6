/*
 * MD5 message digest (RFC 1321) over a caller-owned context.
 *
 * Kept for interoperability with existing peers; MD5 is broken for
 * collision resistance and must not be chosen for new security designs.
 *
 * Calling order: QvMD5Init, any number of QvMD5Update (a length of 0 is
 * allowed and changes nothing), then one QvMD5Final, which writes the digest
 * and wipes the whole context to zero. Initialise again before reuse.
 * No function fails or allocates; pointers are trusted (no null checks).
 * Threads: distinct contexts may be used on distinct threads at once.
 */
#ifndef CORVANE_MD5_H
#define CORVANE_MD5_H

#include <stdint.h>

#include "CorvaneExport.h"

CORVANE_EXTERN_C_BEGIN

/* The context record: 88 bytes, no padding. */
typedef struct {
    uint32_t state[4];        /* chaining values A, B, C, D */
    uint32_t count[2];        /* message length in bits mod 2^64; [0] is the low word */
    unsigned char buffer[64]; /* input not yet hashed (fewer than 64 bytes between calls) */
} MD5_CTX;

/* Sets count to zero and state to the RFC 1321 initial values. */
CORVANE_EXPORT void QvMD5Init(MD5_CTX* context);

/* Hashes inputLen bytes. Whole 64-byte blocks are hashed straight from input. */
CORVANE_EXPORT void QvMD5Update(MD5_CTX* context, const unsigned char* input, uint32_t inputLen);

/* Writes the 16-byte digest (note: output first), then sets every byte of
 * the context to zero. */
CORVANE_EXPORT void QvMD5Final(unsigned char digest[16], MD5_CTX* context);

CORVANE_EXTERN_C_END

#endif /* CORVANE_MD5_H */
