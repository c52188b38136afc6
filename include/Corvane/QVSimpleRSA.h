// QVSimpleRSA: RSA public-key encryption of short messages (PKCS #1 v1.5,
// block type 2) under a public key given as two hexadecimal texts.
//
// Kept for interoperability: RSA below 2048 bits and PKCS #1 v1.5
// encryption are not recommended for new designs. The class encrypts only;
// it does not decrypt, sign, verify or make keys.
//
//   auto rsa = make_ref<QVSimpleRSA>();
//   if (rsa->setPublicKey(hexModulus, hexExponent) == 0) {
//       std::int32_t err = 0;
//       Ref<NSData> block = rsa->createEncryptData(bytes, std::int64_t(len), &err);
//   }
//
// Every encryption seeds a fresh random pool from the clock and the
// operating system's entropy source, so two encryptions of one message give
// different blocks.
//
// Log lines: key and input errors are written with NSLog as one fixed
// English line; a refused block operation is printed to standard output as
// "QV_RSAPublicEncrypt failed with <status in lower-case hex>\n".
//
// Threads: one object is for one thread at a time (setPublicKey replaces the
// record that an encryption reads); distinct objects share nothing.
#ifndef CORVANE_QVSIMPLERSA_H
#define CORVANE_QVSIMPLERSA_H

#include "CorvaneCxx20.h"

#include <cstdint>

#include "CorvaneExport.h"
#include "Foundation.h"
#include "rsa.h"

namespace corvane {

class CORVANE_EXPORT QVSimpleRSA : public NSObject {
public:
    // The longest hexadecimal text a key field holds: two digits per byte of
    // the 128-byte field.
    static constexpr std::size_t kMaxHexDigits = 2 * MAX_RSA_MODULUS_LEN;

    // init: an object with no key (_publicKey null).
    QVSimpleRSA() noexcept;

    // Sets the public key from two NUL-terminated hexadecimal texts, read in
    // pairs from the end (see valueChange) into the record's 128-byte fields,
    // right-aligned. Returns:
    //   0  the key is set, replacing (and freeing) any earlier record;
    //  -2  a text is null (nothing logged); a text has an odd length
    //      ("hexModulus len is not double" / "hexExponent len is not
    //      double", modulus checked first); a text is longer than 256 digits
    //      ("hexModulus is longer than 256 digits" / "hexExponent is longer
    //      than 256 digits"). The earlier key, if any, stays in force;
    //  -3  no memory for the record ("create public key failed!"); the
    //      object then has no key.
    // The recorded modulus size is 512 bits for modulus texts of up to 128
    // digits; for longer texts (129 to 256 digits) it is the modulus's
    // significant bit count, so 768- and 1024-bit keys work as well.
    // Characters that are not hexadecimal digits are not refused: each pair
    // gives what strtol reads from it in base 16 (0 if nothing).
    std::int32_t setPublicKey(const char* hexModulus, const char* hexExponent);

    // Hexadecimal text to bytes: fills out[0..outLen) with zeros, then reads
    // hexChars[0..count) from its end in pairs, each pair through strtol in
    // base 16 (low 8 bits kept), writing from the last byte of out backwards.
    // Out-of-range input never reads before the text or writes outside out:
    //  - an odd count reads the first character alone, as if it had a
    //    leading '0';
    //  - a count above 2 * outLen keeps the text's last 2 * outLen digits;
    //  - a null or empty out (outLen <= 0) writes nothing; a null text or a
    //    count <= 0 leaves out all zero.
    void valueChange(void* out, std::int32_t outLen, const char* hexChars, std::int32_t count);

    // Encrypts length bytes of message into one block of the key's size (64
    // bytes for 512-bit keys; the message may hold at most the block size
    // less 11 bytes, 53 for 512 bits). Returns a new object that the caller
    // owns, or nil. When error is not null it receives on every return:
    //   0  success;
    //  -2  no key is set ("no public key set"), length is negative or above
    //      2^32 - 1 ("message length out of range"), or message is null with
    //      a non-zero length ("message is null"); nothing is encrypted;
    //  -3  no memory for the result ("create encrypt data failed!");
    //  -6  the block operation refused (message too long: 406; block not
    //      below the modulus: 401), printed to standard output as above.
    // A null message with length 0 is the empty message.
    Ref<NSData> createEncryptData(const void* message, std::int64_t length, std::int32_t* error);

    // createEncryptData over the bytes of a NUL-terminated text (without the
    // NUL). A null text gives nil and -2 ("message is null").
    Ref<NSData> createEncryptData(const char* message, std::int32_t* error);

    // createEncryptData over the bytes of data; nil data is the empty message.
    Ref<NSData> createEncryptDataForData(const NSData* data, std::int32_t* error);

    // The key record this object owns (malloc'd), or null while it has no
    // key. Readable by clients; the object frees it when a new key replaces
    // it and when the object is destroyed.
    R_RSA_PUBLIC_KEY* _publicKey = nullptr;

protected:
    // dealloc: frees the key record.
    ~QVSimpleRSA() override;
};

}  // namespace corvane

#endif  // CORVANE_QVSIMPLERSA_H
