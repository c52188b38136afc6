// The core coder behind QVGTMBase64. Internal: this header is not installed
// and nothing here is exported from the shared library; the public methods
// and the tests are its only users.
//
// Byte-level coders work in a caller-supplied destination and return the
// number of characters or bytes written, 0 meaning failure. A destination
// too short for the work is a caller error: it is reported through
// NSAssertionHandler (which throws NSInternalInconsistencyException) before
// anything is written past destLen. The data-level coders size the
// destination themselves, so the report cannot happen through them.
#ifndef CORVANE_QVGTMBASE64_PRIVATEMETHODS_H
#define CORVANE_QVGTMBASE64_PRIVATEMETHODS_H

#include <Corvane/Foundation.h>

#include <cstdint>

namespace corvane {

struct QVGTMBase64PrivateMethods {
    // Encodes length bytes with the 64-character alphabet charset, padded
    // with "=" to a multiple of four characters when padded. A new data
    // object (caller does not own it), or nil for empty input or when memory
    // runs out.
    static NSMutableData* baseEncode(const void* bytes, NSUInteger length, const char* charset,
                                     bool padded);
    // Decodes length bytes of text with the 256-entry decode table charset.
    // A new data object holding exactly the decoded bytes, or nil for bad
    // text, empty input, a decoded length of 0, or when memory runs out.
    static NSMutableData* baseDecode(const void* bytes, NSUInteger length, const char* charset,
                                     bool requirePadding);

    // Writes the encoding of srcLen bytes into destBytes; returns the number
    // of characters written. 0 for empty input, destLen 0 or null pointers.
    static NSUInteger baseEncode(const void* srcBytes, NSUInteger srcLen, void* destBytes,
                                 NSUInteger destLen, const char* charset, bool padded);
    // Decodes srcLen bytes of text into destBytes, which must be zero-filled
    // and needs room for one byte beyond the decoded ones whenever the text
    // ends inside a group. Returns the number of bytes decoded, 0 for bad
    // text (the destination may then hold partial output).
    static NSUInteger baseDecode(const void* srcBytes, NSUInteger srcLen, void* destBytes,
                                 NSUInteger destLen, const char* charset, bool requirePadding);

    // For in-library callers of the byte-level coders (the modern layer):
    // the alphabet and decode table of either family, as the class methods
    // pass them, and the coder's own sizes for a destination: the exact
    // encoded length, and the zero-filled room decoding needs.
    static const char* encodeChars(bool webSafe) noexcept;
    static const char* decodeChars(bool webSafe) noexcept;
    static NSUInteger encodedLength(NSUInteger length, bool padded) noexcept;
    static NSUInteger decodedCapacity(NSUInteger length) noexcept;
};

}  // namespace corvane

#ifdef CORVANE_TEST_SEAMS
// File-local tables and length functions of the coder, for the tests.
namespace corvane::test_seams {
const char* base64EncodeChars();
const char* webSafeBase64EncodeChars();
const char* base64DecodeChars();
const char* webSafeBase64DecodeChars();
bool base64IsSpace(std::uint8_t c);
NSUInteger base64EncodedLength(NSUInteger length, bool padded);
NSUInteger base64DecodedCapacity(NSUInteger length);

// The coder's code paths: the scalar code alone, or with the kernels of one
// instruction set.
enum class Base64Path { portable, avx2, avx512vbmi };
// Whether this build has the path and this CPU can run it (whatever
// CORVANE_CPU says; it only caps the path the process chooses).
bool base64PathAvailable(Base64Path path);
// The path the byte-level and data-level coders use in this process.
Base64Path base64SelectedPath();
// The byte-level coders on the given path, which must be available.
NSUInteger base64EncodeOnPath(Base64Path path, const void* srcBytes, NSUInteger srcLen, void* destBytes,
                              NSUInteger destLen, const char* charset, bool padded);
NSUInteger base64DecodeOnPath(Base64Path path, const void* srcBytes, NSUInteger srcLen, void* destBytes,
                              NSUInteger destLen, const char* table, bool requirePadding);
}  // namespace corvane::test_seams
#endif

#endif  // CORVANE_QVGTMBASE64_PRIVATEMETHODS_H
