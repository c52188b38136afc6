// The one-shot symmetric cipher call that QVDes3 stands on, with the call
// shape, types and constants of the platform's CommonCrypto. Internal: not
// installed and not exported.
//
// Where the real system header exists (Apple platforms) it is used as is.
// Elsewhere CCCrypt decrypts through the library's triple-DES engine
// (engine/des: no table lookup, no branch or address that depends on the
// key, the data or the padding, beyond the final verdict) and encrypts
// through OpenSSL libcrypto's DES (not constant-time: its tables are indexed
// by key and data), with no context or allocation of its own. It offers
// triple DES (three-key DES-EDE3, 24-byte keys) in CBC mode, or ECB
// mode when kCCOptionECBMode is given, with or without PKCS #7 padding.
//
// Threads: CCCrypt keeps no state between calls; any number of calls may run
// at once.
#ifndef CORVANE_PLATFORM_COMMONCRYPTO_H
#define CORVANE_PLATFORM_COMMONCRYPTO_H

#include <cstddef>
#include <cstdint>

#if defined(__APPLE__) && __has_include(<CommonCrypto/CommonCryptor.h>)
#include <CommonCrypto/CommonCryptor.h>
#else

// The two operation names are also given to applications by
// <Corvane/QVDes3.h>, in namespace corvane and at global scope; the shared
// guard keeps one definition per file, and the global names here and there
// are both declarations of the same entities.
#ifndef CORVANE_CC_OPERATION_DEFINED
#define CORVANE_CC_OPERATION_DEFINED
namespace corvane {
using CCOperation = std::uint32_t;
inline constexpr CCOperation kCCEncrypt = 0;
inline constexpr CCOperation kCCDecrypt = 1;
}  // namespace corvane
#endif
using corvane::CCOperation;
using corvane::kCCDecrypt;
using corvane::kCCEncrypt;

typedef uint32_t CCAlgorithm;
typedef uint32_t CCOptions;
typedef int32_t CCCryptorStatus;

// Algorithm numbers as the platform numbers them; only triple DES is offered.
inline constexpr CCAlgorithm kCCAlgorithmAES = 0;
inline constexpr CCAlgorithm kCCAlgorithmDES = 1;
inline constexpr CCAlgorithm kCCAlgorithm3DES = 2;
inline constexpr CCAlgorithm kCCAlgorithmCAST = 3;
inline constexpr CCAlgorithm kCCAlgorithmRC4 = 4;
inline constexpr CCAlgorithm kCCAlgorithmRC2 = 5;
inline constexpr CCAlgorithm kCCAlgorithmBlowfish = 6;

inline constexpr CCOptions kCCOptionPKCS7Padding = 1;
inline constexpr CCOptions kCCOptionECBMode = 2;

inline constexpr std::size_t kCCKeySize3DES = 24;
inline constexpr std::size_t kCCBlockSize3DES = 8;

inline constexpr CCCryptorStatus kCCSuccess = 0;
inline constexpr CCCryptorStatus kCCParamError = -4300;
inline constexpr CCCryptorStatus kCCBufferTooSmall = -4301;
inline constexpr CCCryptorStatus kCCMemoryFailure = -4302;
inline constexpr CCCryptorStatus kCCAlignmentError = -4303;
inline constexpr CCCryptorStatus kCCDecodeError = -4304;
inline constexpr CCCryptorStatus kCCUnimplemented = -4305;

// Encrypts or decrypts dataIn[0..dataInLength) into dataOut in one call.
//
//  op          kCCEncrypt or kCCDecrypt.
//  alg         kCCAlgorithm3DES; the platform's other algorithm numbers give
//              kCCUnimplemented, any other number kCCParamError.
//  options     kCCOptionPKCS7Padding and/or kCCOptionECBMode; other bits give
//              kCCParamError. Without kCCOptionECBMode the mode is CBC.
//  key         keyLength must be kCCKeySize3DES (24): K1 || K2 || K3. Parity
//              bits are ignored and weak keys are accepted.
//  iv          8 bytes of chaining value for CBC; null means all zero. Not
//              read in ECB mode.
//  dataOut     may be the same buffer as dataIn (in place), but must not
//              overlap it otherwise.
//  dataOutMoved  may be null; receives the number of bytes written on
//              success, the size needed on kCCBufferTooSmall, 0 otherwise.
//
// Output size needed: encryption with padding, dataInLength rounded up to the
// next multiple of 8 strictly above it; otherwise dataInLength.
//
// Statuses, checked in this order and before any output is written:
//  kCCParamError      unknown op, alg or option bits; key length not 24;
//                     a null key, or a null dataIn or dataOut with a
//                     non-zero length.
//  kCCAlignmentError  decrypting, or encrypting without padding, an input
//                     that is not a whole number of 8-byte blocks.
//  kCCBufferTooSmall  dataOutAvailable below the size needed.
// and then:
//  kCCDecodeError     decrypting with padding found no valid PKCS #7 padding
//                     (an empty input included); whatever had been written to
//                     dataOut is wiped.
//  kCCMemoryFailure   encrypting through libcrypto's EVP interface (builds
//                     without its DES functions): no memory for a context.
CCCryptorStatus CCCrypt(CCOperation op, CCAlgorithm alg, CCOptions options, const void* key,
                        std::size_t keyLength, const void* iv, const void* dataIn,
                        std::size_t dataInLength, void* dataOut, std::size_t dataOutAvailable,
                        std::size_t* dataOutMoved);

#endif  // Apple's own header

#endif  // CORVANE_PLATFORM_COMMONCRYPTO_H
