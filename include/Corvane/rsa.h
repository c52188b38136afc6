/*
 * RSA key records and PKCS #1 v1.5 block operations for moduli of 1 to 1024
 * bits. Kept for interoperability: RSA below 2048 bits and PKCS #1 v1.5
 * encryption are not recommended for new designs.
 *
 * modulusLen = (bits + 7) / 8 is the length of every encryption block and
 * every raw result. Every operation takes, in order: the output buffer, a
 * pointer to the output length it sets, the input, the input length, the
 * key (and, for public encryption, a seeded random pool). Output buffers:
 * modulusLen bytes for encryptions, up to modulusLen - 11 for decryptions.
 *
 * Statuses: 0 success; QV_STATUS_BAD_DATA (input not below the modulus, or
 * a malformed decrypted block); QV_STATUS_BAD_LENGTH (message longer than
 * modulusLen - 11, decryption input longer than modulusLen, or a key whose
 * bits is 0 or above 1024); QV_STATUS_NOT_SEEDED (the pool still wants seed
 * bytes). Length and seeding failures are found before anything is drawn or
 * written. After a failure the output buffer and length are unspecified.
 *
 * Secrets: the padded block and the digit arrays that held message or key
 * material are wiped before return. Key records are only read.
 * Threads: reentrant, as long as a pool is not shared between threads.
 */
#ifndef CORVANE_RSA_H
#define CORVANE_RSA_H

#include <stdint.h>

#include "CorvaneExport.h"
#include "r_random.h"

CORVANE_EXTERN_C_BEGIN

#define MAX_RSA_MODULUS_BITS 1024
#define MAX_RSA_MODULUS_LEN ((MAX_RSA_MODULUS_BITS + 7) / 8)
#define MAX_RSA_PRIME_BITS ((MAX_RSA_MODULUS_BITS + 1) / 2)
#define MAX_RSA_PRIME_LEN ((MAX_RSA_PRIME_BITS + 7) / 8)

#define QV_STATUS_BAD_DATA 0x0401
#define QV_STATUS_BAD_LENGTH 0x0406
#ifndef QV_STATUS_NOT_SEEDED
#define QV_STATUS_NOT_SEEDED 0x0408
#endif

/* Public key record: 258 bytes, no gaps. Fields are big-endian, right-aligned. */
typedef struct {
    uint16_t bits;                                 /* modulus length in bits, 1..1024 */
    unsigned char modulus[MAX_RSA_MODULUS_LEN];    /* n */
    unsigned char exponent[MAX_RSA_MODULUS_LEN];   /* e */
} R_RSA_PUBLIC_KEY;

/* Private key record (CRT form): 706 bytes, no gaps. */
typedef struct {
    uint16_t bits;                                          /* modulus length in bits, 1..1024 */
    unsigned char modulus[MAX_RSA_MODULUS_LEN];             /* n = p * q */
    unsigned char publicExponent[MAX_RSA_MODULUS_LEN];      /* e (not read by the library) */
    unsigned char privateExponent[MAX_RSA_MODULUS_LEN];     /* d (not read by the library) */
    unsigned char prime[2][MAX_RSA_PRIME_LEN];              /* p, q */
    unsigned char primeExponent[2][MAX_RSA_PRIME_LEN];      /* d mod (p-1), d mod (q-1) */
    unsigned char coefficient[MAX_RSA_PRIME_LEN];           /* q^-1 mod p */
} R_RSA_PRIVATE_KEY;

/* Type-2 block (random non-zero filler from the pool), then the public operation. */
CORVANE_EXPORT int32_t QV_RSAPublicEncrypt(unsigned char* output, uint32_t* outputLen,
                                           const unsigned char* input, uint32_t inputLen,
                                           const R_RSA_PUBLIC_KEY* publicKey, R_RANDOM_STRUCT* randomStruct);
/* Type-1 block (0xFF filler), then the private (CRT) operation. */
CORVANE_EXPORT int32_t QV_RSAPrivateEncrypt(unsigned char* output, uint32_t* outputLen,
                                            const unsigned char* input, uint32_t inputLen,
                                            const R_RSA_PRIVATE_KEY* privateKey);
/* Public operation, then checks and strips a type-1 block. */
CORVANE_EXPORT int32_t QV_RSAPublicDecrypt(unsigned char* output, uint32_t* outputLen,
                                           const unsigned char* input, uint32_t inputLen,
                                           const R_RSA_PUBLIC_KEY* publicKey);
/* Private operation, then checks and strips a type-2 block. */
CORVANE_EXPORT int32_t QV_RSAPrivateDecrypt(unsigned char* output, uint32_t* outputLen,
                                            const unsigned char* input, uint32_t inputLen,
                                            const R_RSA_PRIVATE_KEY* privateKey);

CORVANE_EXTERN_C_END

#endif /* CORVANE_RSA_H */
