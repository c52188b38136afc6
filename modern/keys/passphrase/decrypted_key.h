// The last step of reading an encrypted private key: the decrypted blocks
// into the record, with one answer for everything that can be wrong with
// them. An attacker who holds an encrypted key file but not its passphrase,
// and can have a process that knows the passphrase load altered copies,
// must learn nothing from the outcome: not from the answer (bad padding,
// bytes that are not DER, DER that breaks a rule and values that do not fit
// together all read alike) and not from the time it takes (the padding is
// checked in constant time, and the DER reader and every check of the
// values run whatever failed before them).
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_DECRYPTED_KEY_H
#define CORVANE_MODERN_DECRYPTED_KEY_H

#include <Corvane/errors.h>
#include <Corvane/rsa.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace corvane::detail {

// plain: every decrypted block, PKCS #7 padding included (blockSize 8 or
// 16, at least one block); pkcs8: a PrivateKeyInfo was encrypted, else a
// PKCS #1 RSAPrivateKey. ok with the record filled (larger prime first) and
// modulusBits set; wrongPassphrase with the record and modulusBits zero for
// any fault; outOfMemory when the checks cannot allocate.
ErrorCode openDecryptedKey(std::span<const std::uint8_t> plain, std::size_t blockSize, bool pkcs8,
                           R_RSA_PRIVATE_KEY& key, unsigned& modulusBits) noexcept;

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_DECRYPTED_KEY_H
