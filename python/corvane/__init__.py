"""Corvane for Python: the library's MD5, Base64, hexadecimal, triple DES and
RSA PKCS #1 v1.5 and envelope calls, byte for byte those of the C++ library.

Inputs are any bytes-like objects (bytes, bytearray, memoryview, NumPy byte
arrays), read in place without a copy; results are bytes (str for PEM and
hexadecimal text). Failures raise corvane.Error, a ValueError whose ``code``
is a corvane.ErrorCode. The key readers take ``max_iterations=`` (default
DEFAULT_MAX_KEY_ITERATIONS, at most MAX_KEY_ITERATION_LIMIT): an encrypted
key that asks for more is refused with KEY_TOO_COSTLY, the error's
``iterations`` giving its count. Calls that take more than a few microseconds (RSA,
batches, triple DES and coding of more than 4 KiB, key reading) release the
GIL, so threads run them in parallel.

These algorithms are kept for interoperability with legacy peers; they are
not recommended for new designs.
"""

from ._envelope import Envelope
from ._errors import Error, ErrorCode
from ._corvane import (
    DEFAULT_MAX_KEY_ITERATIONS as DEFAULT_MAX_KEY_ITERATIONS,
    DES3_DEFAULT_ITERATIONS as DES3_DEFAULT_ITERATIONS,
    KEY_AS_IV as KEY_AS_IV,
    MAX_KEY_ITERATION_LIMIT as MAX_KEY_ITERATION_LIMIT,
    Base64Decoder as Base64Decoder,
    Base64Encoder as Base64Encoder,
    Des3Decryptor as Des3Decryptor,
    Des3Encryptor as Des3Encryptor,
    Md5 as Md5,
    RsaPrivateKey as RsaPrivateKey,
    RsaPublicKey as RsaPublicKey,
    base64_decode as base64_decode,
    base64_encode as base64_encode,
    des3_decrypt as des3_decrypt,
    des3_decrypt_with_passphrase as des3_decrypt_with_passphrase,
    des3_encrypt as des3_encrypt,
    des3_encrypt_with_passphrase as des3_encrypt_with_passphrase,
    des3_random_key as des3_random_key,
    hex_decode as hex_decode,
    hex_encode as hex_encode,
    md5 as md5,
    open_envelope as open_envelope,
    open_envelope_lines as open_envelope_lines,
    open_envelopes as open_envelopes,
    reencrypt_envelope_lines as reencrypt_envelope_lines,
    seal_envelope as seal_envelope,
    seal_envelopes as seal_envelopes,
    seal_message_lines as seal_message_lines,
)

__all__ = [
    "DEFAULT_MAX_KEY_ITERATIONS",
    "DES3_DEFAULT_ITERATIONS",
    "KEY_AS_IV",
    "MAX_KEY_ITERATION_LIMIT",
    "Base64Decoder",
    "Base64Encoder",
    "Des3Decryptor",
    "Des3Encryptor",
    "Envelope",
    "Error",
    "ErrorCode",
    "Md5",
    "RsaPrivateKey",
    "RsaPublicKey",
    "base64_decode",
    "base64_encode",
    "des3_decrypt",
    "des3_decrypt_with_passphrase",
    "des3_encrypt",
    "des3_encrypt_with_passphrase",
    "des3_random_key",
    "hex_decode",
    "hex_encode",
    "md5",
    "open_envelope",
    "open_envelope_lines",
    "open_envelopes",
    "reencrypt_envelope_lines",
    "seal_envelope",
    "seal_envelopes",
    "seal_message_lines",
]
