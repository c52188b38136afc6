// QVGTMBase64: Base64 encoding and decoding (RFC 4648) in the standard
// alphabet and in the URL- and filename-safe ("web-safe") alphabet, from and
// to data objects, byte buffers and strings.
//
// Families:
//  - standard: encoding always writes padding ("="); decoding demands
//    complete four-character groups or correct padding.
//  - web-safe ("-" and "_" instead of "+" and "/"): encoding pads only when
//    asked; decoding accepts text with or without padding.
//
// Output: RFC 4648 Base64 with no line breaks. Encoded results are exactly
// 4 * ceil(n / 3) characters when padded, ceil(8 * n / 6) when not.
//
// Decoding rules (both families):
//  - whitespace is skipped anywhere: tab, line feed, vertical tab, form feed,
//    carriage return, space, and the bytes 0xA0 and 0xFF;
//  - a NUL byte ends the text; what follows it is ignored;
//  - "=" may stand only in the third or fourth place of a group, a group of
//    two characters takes exactly "==", one of three exactly "=", and only
//    whitespace may follow the padding (two joined encodings fail);
//  - a lone character in the last group fails, and so does a last character
//    whose unused low bits are not zero (non-canonical text);
//  - any other byte outside the alphabet fails, including the other
//    family's two characters.
//
// Results: every method returns an object the caller does NOT own. It was
// handed to the calling thread's innermost NSAutoreleasePool and lives until
// that pool drains; retain it (Ref<T>::retain) to keep it longer. Keep a pool
// in scope around these calls.
//
// Failure: nil (nullptr), never an empty object, and nothing is logged. Every
// method fails for nil or empty input; decoding fails for text that breaks
// the rules above or that decodes to no bytes (whitespace only); the string
// decoders fail for a string with a character outside ASCII; any method
// fails when memory runs out.
//
// Threads: the class keeps no state; every method may run on any thread at
// the same time (each thread needs its own pool).
#ifndef CORVANE_QVGTMBASE64_H
#define CORVANE_QVGTMBASE64_H

#include "CorvaneCxx20.h"

#include "CorvaneExport.h"
#include "Foundation.h"

namespace corvane {

class CORVANE_EXPORT QVGTMBase64 : public NSObject {
public:
    // ---- standard family --------------------------------------------------

    // Encoded text of the data's bytes, padded. nil for nil or empty data.
    static NSMutableData* encodeData(const NSData* data);
    // Bytes decoded from the text held by data; padding required.
    static NSMutableData* decodeData(const NSData* data);
    // Encoded text of length bytes at bytes, padded. nil for length 0.
    static NSMutableData* encodeBytes(const void* bytes, NSUInteger length);
    // Bytes decoded from length bytes of text at bytes; padding required.
    static NSMutableData* decodeBytes(const void* bytes, NSUInteger length);
    // Encoded text as an ASCII string, padded.
    static NSString* stringByEncodingData(const NSData* data);
    static NSString* stringByEncodingBytes(const void* bytes, NSUInteger length);
    // Bytes decoded from an ASCII string; padding required. A string with a
    // character outside ASCII (even U+00A0) gives nil.
    static NSMutableData* decodeString(const NSString* string);

    // ---- web-safe family --------------------------------------------------

    // Encoded text, padded only when padded is true.
    static NSMutableData* webSafeEncodeData(const NSData* data, bool padded);
    // Bytes decoded from the text, with or without padding.
    static NSMutableData* webSafeDecodeData(const NSData* data);
    static NSMutableData* webSafeEncodeBytes(const void* bytes, NSUInteger length, bool padded);
    static NSMutableData* webSafeDecodeBytes(const void* bytes, NSUInteger length);
    static NSString* stringByWebSafeEncodingData(const NSData* data, bool padded);
    static NSString* stringByWebSafeEncodingBytes(const void* bytes, NSUInteger length, bool padded);
    // Bytes decoded from an ASCII string, with or without padding.
    static NSMutableData* webSafeDecodeString(const NSString* string);

protected:
    ~QVGTMBase64() override = default;
};

}  // namespace corvane

#endif  // CORVANE_QVGTMBASE64_H
