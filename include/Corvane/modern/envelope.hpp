// Envelopes in the modern layer (part of <Corvane/corvane.hpp>): a
// triple-DES key wrapped under an RSA public key and a payload under that
// key, opened and sealed one at a time or in batches.
#ifndef CORVANE_MODERN_ENVELOPE_HPP
#define CORVANE_MODERN_ENVELOPE_HPP

#include <Corvane/CorvaneCxx20.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <Corvane/CorvaneExport.h>
#include <Corvane/modern/bytes.hpp>
#include <Corvane/modern/des3.hpp>
#include <Corvane/modern/random.hpp>
#include <Corvane/modern/rsa.hpp>

namespace corvane::v1 {

// Envelopes: the legacy scheme's message to a server. The client makes a
// random 24-byte triple-DES key, wraps it in a type-2 block under the
// server's RSA public key, and encrypts its payload under that key in CBC
// mode with the key's first 8 bytes as IV and PKCS #7 padding (the
// QVSimpleRSA and QVDes3 path with no IV).
//
// Opening refuses with ErrorCode::envelopeRefused and one message, whatever
// went wrong: a wrapped key of the wrong length or value, one whose block is
// malformed, a payload that does not decrypt. The wrapped key goes through
// RsaPrivateKey::decryptKey, so a malformed block gives a substitute key
// instead of an error, and the payload then fails to decrypt under it like
// a payload under a wrong key: the time of a refusal depends on the
// payload's length, which the sender knows, and not on the step that
// failed. (Refusals for the lengths of the two parts, or for a wrapped key
// whose value is not below the modulus, come at once: anyone can see those.)
//
// The format has no integrity check. About one payload in 256 under a wrong
// or substitute key still ends in valid padding and opens as garbage; and a
// service that tells its clients why a request failed, or that answers a
// request whose payload opened differently from one that did not, gives its
// senders a padding oracle on the payload itself (CBC padding oracle). Answer
// every failure the same way, check the plaintext's own structure, and use an
// authenticated format where the peers allow.

struct Envelope {
    std::vector<std::uint8_t> wrappedKey;  // the RSA block, blockSize() bytes
    std::vector<std::uint8_t> payload;     // the triple-DES ciphertext
};

struct EnvelopeView {
    ByteView wrappedKey;
    ByteView payload;
};


// How opening answers an envelope that does not open.
//
// A service that answers its senders must use `uniform` (the default): one
// refusal for every cause, the wrapped key unwrapped through implicit
// rejection, so that no answer and no time tells a sender whether its
// block unpadded (what Bleichenbacher's attack needs). The price: a block
// that does not unpad gives a substitute key, and about one payload in 256
// under a substitute (or under a wrong private key) still ends in valid
// padding and "opens" as garbage.
//
// A job that opens stored records, whose answers no sender sees as they
// happen, should use `archive`: a block that does not unpad to 24 bytes is
// refused outright (envelopeKeyRefused), so a wrong key or a damaged record
// passes garbage off as a record about once in 10^10 instead of once in
// 256, and every refusal says which check failed (envelopeMalformed,
// envelopeKeyRefused, envelopePaddingRefused, envelopeKeyNotText). Never
// use it where a sender can submit envelopes and learn the outcome: it is
// the padding oracle the uniform mode closes.
enum class EnvelopeRefusal { uniform, archive };

struct EnvelopeOpening {
    EnvelopeRefusal refusal = EnvelopeRefusal::uniform;
    // Archive only: the archive's keys are the legacy text form (24
    // hexadecimal characters, Des3KeyForm::hexText), and an unwrapped key
    // that is not is refused (envelopeKeyNotText). Asked for with the
    // uniform refusal it is invalidInput: a check of the unwrapped key would
    // tell a substitute from a real key.
    bool hexTextKeys = false;
};

// The plaintext of the envelope. ErrorCode::envelopeRefused for every
// failure; outOfMemory where an allocation fails. The plaintext is the
// caller's; every intermediate buffer (the unwrapped key, the decrypted
// blocks) is wiped.
CORVANE_EXPORT std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey,
                                                      ByteView payload);
CORVANE_EXPORT std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey,
                                                      ByteView payload, std::error_code& error) noexcept;
CORVANE_EXPORT std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey,
                                                      ByteView payload, ErrorInfo& error) noexcept;
// The same, refusing as `opening` says (the codes above).
CORVANE_EXPORT std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey,
                                                      ByteView payload, const EnvelopeOpening& opening,
                                                      std::error_code& error) noexcept;

// A new envelope of the message: a new key of the form asked for (full
// strength unless a peer needs Des3KeyForm::hexText), wrapped
// under the public key with filler from the pool, and the message encrypted
// under it. The payload is the message's length rounded up to the next
// multiple of 8 above it. What QV_RSAPrivateDecrypt with QVDes3 (no IV)
// opens, and openEnvelope. ErrorCode::badLength for a key too small to wrap
// 24 bytes (below 280 bits), notSeeded for a pool that wants seed bytes,
// std::errc::io_error when the entropy source fails.
CORVANE_EXPORT Envelope sealEnvelope(const RsaPublicKey& key, ByteView message, RandomPool& pool,
                                     Des3KeyForm form = Des3KeyForm::bytes);
// The same, reporting a failure in error (the envelope is then empty).
CORVANE_EXPORT Envelope sealEnvelope(const RsaPublicKey& key, ByteView message, RandomPool& pool, Des3KeyForm form,
                                     ErrorInfo& error) noexcept;
// The same with a pool seeded for the call.
CORVANE_EXPORT Envelope sealEnvelope(const RsaPublicKey& key, ByteView message,
                                     Des3KeyForm form = Des3KeyForm::bytes);

// openEnvelope on many envelopes under one key, the wrapped keys unwrapped
// together on the RSA batch lanes: per item its plaintext or
// envelopeRefused, in the order given. An item's outcome and time do not
// depend on the other items' contents.
CORVANE_EXPORT std::vector<BatchResult> openEnvelopes(const RsaPrivateKey& key,
                                                      std::span<const EnvelopeView> envelopes);
// The same, refusing as `opening` says; each item's outcome is what the
// single call with `opening` gives it. invalidInput (thrown) for the text
// keys asked with the uniform refusal.
CORVANE_EXPORT std::vector<BatchResult> openEnvelopes(const RsaPrivateKey& key,
                                                      std::span<const EnvelopeView> envelopes,
                                                      const EnvelopeOpening& opening);

// The text form of an envelope, as archives and the corvane tool keep it:
// one line of two fields, the wrapped key and the payload in standard
// padded Base64, separated by a space.
CORVANE_EXPORT std::string envelopeLine(EnvelopeView envelope);
// The envelope of such a line, given without its line end: a field, a run
// of spaces or tabs, a field, each decoding by base64Decode's rules (other
// whitespace inside a field is skipped) to at least one byte. nullopt for
// any other line: one field or three, a leading or trailing blank, a NUL,
// a field that is not Base64.
CORVANE_EXPORT std::optional<Envelope> parseEnvelopeLine(std::string_view line);

// sealEnvelope on each message, drawing from one pool; the envelopes in the
// order given. Fails as sealEnvelope does (for all or none).
CORVANE_EXPORT std::vector<Envelope> sealEnvelopes(const RsaPublicKey& key, std::span<const ByteView> messages,
                                                   RandomPool& pool, Des3KeyForm form = Des3KeyForm::bytes);

}  // namespace corvane::v1

#endif  // CORVANE_MODERN_ENVELOPE_HPP
