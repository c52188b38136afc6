// QVDes3: triple-DES encryption and decryption of byte buffers (three-key
// DES-EDE3 in CBC mode with PKCS #7 padding) through the platform's cipher,
// and random triple-DES keys.
//
// Triple DES is kept for interoperability with existing peers; its 64-bit
// block makes it unfit for large volumes under one key, and it should not be
// chosen for new designs.
//
// Threads: the class has no state; every method may run on any number of
// threads at once.
#ifndef CORVANE_QVDES3_H
#define CORVANE_QVDES3_H

#include "CorvaneCxx20.h"

#include <cstddef>
#include <cstdint>

#include "CorvaneExport.h"
#include "Foundation.h"

// The operation argument of createDes3Data, named as the platform's cipher
// header names it: corvane::CCOperation, corvane::kCCEncrypt (0) and
// corvane::kCCDecrypt (1), and the same names at global scope, where legacy
// code expects them (on Apple platforms they are the system header's own).
// A translation unit with names of its own spelled kCCEncrypt, kCCDecrypt or
// CCOperation defines CORVANE_NO_GLOBAL_CC_NAMES before including this
// header and writes corvane::kCCEncrypt; <Corvane/corvane.hpp> declares
// none of them.
#if defined(__APPLE__) && __has_include(<CommonCrypto/CommonCryptor.h>) && !defined(CORVANE_NO_GLOBAL_CC_NAMES)
#include <CommonCrypto/CommonCryptor.h>
namespace corvane {
using ::CCOperation;
using ::kCCDecrypt;
using ::kCCEncrypt;
}  // namespace corvane
#else
// One definition per translation unit, shared with the library's internal
// cipher header.
#ifndef CORVANE_CC_OPERATION_DEFINED
#define CORVANE_CC_OPERATION_DEFINED
namespace corvane {
using CCOperation = std::uint32_t;
inline constexpr CCOperation kCCEncrypt = 0;
inline constexpr CCOperation kCCDecrypt = 1;
}  // namespace corvane
#endif
#ifndef CORVANE_NO_GLOBAL_CC_NAMES
using corvane::CCOperation;
using corvane::kCCDecrypt;
using corvane::kCCEncrypt;
#endif
#endif

namespace corvane {

class CORVANE_EXPORT QVDes3 : public NSObject {
public:
    // The longest data accepted, 2^31 - 9 bytes; longer data is refused
    // with -2.
    static constexpr NSUInteger kMaxDataLength = 2147483639u;

    // Encrypts (operation 0, kCCEncrypt) or decrypts (operation 1,
    // kCCDecrypt) data under key, in CBC mode with PKCS #7 padding.
    //
    //  key   its first 24 bytes are the key; a shorter key is extended with
    //        zero bytes (an empty key is all zero).
    //  iv    its first 8 bytes are the chaining value, a shorter one extended
    //        with zero bytes; nil takes the first 8 bytes of the
    //        zero-extended key instead.
    //  error when not null, receives on every return:
    //         0  success;
    //        -2  data or key is nil ("input or key nil" is logged), or data
    //            is longer than kMaxDataLength;
    //        -3  no memory for the output;
    //        -4  the cipher refused an encryption, -5 a decryption or an
    //            operation other than 0 ("CCCrypt failed,CCCryptorStatus %d!"
    //            is logged with the cipher's status).
    //
    // Encryption output is the data length rounded up to the next multiple of
    // 8 strictly above it (a whole padding block for aligned input).
    // Decryption refuses input that is not a whole number of blocks or does
    // not end in valid padding.
    //
    // Returns a new object that the caller owns, or nil on failure. The
    // inputs are only read. The key, the chaining value and the working
    // buffer are wiped before the call returns.
    static Ref<NSData> createDes3Data(const NSData* data, const NSData* key, const NSData* iv,
                                      std::uint32_t operation, std::int32_t* error);

    // createDes3Data with operation kCCEncrypt.
    static Ref<NSData> createDes3EncryptData(const NSData* data, const NSData* key,
                                             const NSData* iv, std::int32_t* error);

    // createDes3Data with operation kCCDecrypt.
    static Ref<NSData> createDes3DecryptData(const NSData* data, const NSData* key,
                                             const NSData* iv, std::int32_t* error);

    // A new 24-byte key, each byte an upper-case hexadecimal character
    // ('0'-'9', 'A'-'F'): 96 bits drawn from the operating system's entropy
    // source. The caller owns the result. Nil, with a logged line, if the
    // entropy source fails.
    static Ref<NSData> createRandomDes3Key();

protected:
    ~QVDes3() override;
};

}  // namespace corvane

#endif  // CORVANE_QVDES3_H
