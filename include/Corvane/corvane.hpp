// Corvane's modern C++ layer (namespace corvane::v1): the same MD5, Base64,
// RSA PKCS #1 v1.5, triple-DES and random pool as the legacy API, with
// spans and string views in, owning values out, exceptions for failures,
// and no autorelease pool to keep. Every operation is a call of the legacy
// functions and classes underneath: results are byte for byte those of the
// legacy API on the same inputs.
//
//   #include <Corvane/corvane.hpp>
//   namespace cv = corvane::v1;
//   auto digest = cv::md5("abc");                                   // std::array<uint8_t, 16>
//   std::string text = cv::base64Encode(bytes, cv::Base64Alphabet::webSafe, cv::Base64Padding::unpadded);
//   cv::RsaPublicKey peer = cv::RsaPublicKey::fromFile("peer.pem");
//   std::vector<std::uint8_t> block = peer.encrypt("PIN 1234");
//
// Inputs: ByteView, which any contiguous byte range converts to
// (std::span<const std::uint8_t>, std::span<const std::byte>,
// std::vector<std::uint8_t>, std::array, std::string, std::string_view, a
// NUL-terminated const char*, without its NUL). A view is read during the
// call only.
//
// Failures throw corvane::v1::Error, a std::system_error whose code() is a
// corvane::ErrorCode (<Corvane/errors.h>), or a std::errc where the system
// failed (a key file that cannot be read, the entropy source). Where a
// failure is an expected outcome (reading a key, decryption, signature
// recovery, decoding, opening an envelope, encrypting a message of the
// caller's length) an overload taking a cv::ErrorInfo& reports it there
// instead, with the code and the whole message the exception would carry,
// and returns an empty result (an empty std::optional for keys); those
// overloads never throw. (The std::error_code& overloads of the first
// release remain, for the code alone.)
//
// Secrets: key objects and the random pool wipe their records when they are
// destroyed, moved from or assigned over; every intermediate buffer that held
// key or message material is wiped. Returned plaintexts and PEM texts of
// private keys belong to the caller.
//
// Names: this header declares nothing at global scope beyond the C records it
// needs from <Corvane/rsa.h> and <Corvane/r_random.h>. In particular it does
// not include <Corvane/md5.h>, whose MD5_CTX clashes with OpenSSL's
// <openssl/md5.h>, nor the global triple-DES operation names of
// <Corvane/QVDes3.h>, so it may share a translation unit with either.
//
// Headers: this one includes the layer's headers, one per capability, each
// of which may be included alone:
//   <Corvane/modern/bytes.hpp>     ByteView, Error, ErrorInfo, BatchResult
//   <Corvane/modern/md5.hpp>       Md5, md5()
//   <Corvane/modern/coding.hpp>    Base64 (one-shot and streams) and hexadecimal text
//   <Corvane/modern/random.hpp>    RandomPool
//   <Corvane/modern/rsa.hpp>       RsaPublicKey, RsaPrivateKey (keys read through <Corvane/keys.h>)
//   <Corvane/modern/des3.hpp>      triple DES: one-shot, streams, batches, passphrase format
//   <Corvane/modern/envelope.hpp>  envelopes: open and seal, one at a time or in batches
//   <Corvane/modern/scrub.hpp>     scrubStackAndRegisters(): clears what secret work left below the caller
//
// Threads: the layer keeps no shared state, and every function may run on
// several threads at once. A key object (RsaPublicKey, RsaPrivateKey) may
// be used by several threads at once: its operations only read it. Objects
// that change as they work (Md5, RandomPool, the Base64 and triple-DES
// streams) are for one thread at a time; give each thread its own.
#ifndef CORVANE_CORVANE_HPP
#define CORVANE_CORVANE_HPP

// One header per capability, each of which may also be included alone.
#include "CorvaneCxx20.h"

#include "modern/bytes.hpp"
#include "modern/coding.hpp"
#include "modern/des3.hpp"
#include "modern/envelope.hpp"
#include "modern/md5.hpp"
#include "modern/random.hpp"
#include "modern/rsa.hpp"
#include "modern/scrub.hpp"

#endif  // CORVANE_CORVANE_HPP
