// Key values read from DER into the library's key records, as every reader
// fills them: right-aligned big-endian fields, bits the modulus's bit count,
// and in a private record the larger prime first.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_KEY_RECORD_H
#define CORVANE_MODERN_KEY_RECORD_H

#include <Corvane/errors.h>
#include <Corvane/rsa.h>

#include "modern/keys/der_structures.h"

namespace corvane::detail {

// The values into the record (zeroed beforehand by the caller) in the
// encoding's order. keyTooLarge for a modulus above 1024 bits, keyDoesNotFit
// for a value longer than its field (why says which), ok otherwise; the
// modulus's bit count goes to modulusBits in every case.
ErrorCode fillPublicRecord(const PublicValues& values, R_RSA_PUBLIC_KEY& key, unsigned& modulusBits,
                           const char** why) noexcept;
ErrorCode fillPrivateRecord(const PrivateValues& values, R_RSA_PRIVATE_KEY& key, unsigned& modulusBits,
                            const char** why) noexcept;

// For a record that passed checkPrivateKey: when the first prime is the
// smaller, the primes trade places with their exponents, and the
// coefficient is made anew for the new order (the one the record held was
// checked for the old). ok, or outOfMemory.
ErrorCode putLargerPrimeFirst(R_RSA_PRIVATE_KEY& key) noexcept;

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_KEY_RECORD_H
