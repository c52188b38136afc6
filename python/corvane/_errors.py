"""The errors corvane raises: one exception class and the library's codes."""

import enum
from typing import Optional


class ErrorCode(enum.IntEnum):
    """The library's error codes, under the integer values its C++ and legacy
    calls use (the classes' error cells, the RSA statuses, the key readers, the
    envelopes)."""

    INVALID_INPUT = -2
    OUT_OF_MEMORY = -3
    ENCRYPTION_REFUSED = -4
    DECRYPTION_REFUSED = -5
    RSA_OPERATION_FAILED = -6
    BAD_DATA = 0x0401
    BAD_LENGTH = 0x0406
    NOT_SEEDED = 0x0408
    KEY_UNREADABLE = 0x0501
    KEY_TOO_LARGE = 0x0502
    KEY_TOO_SMALL = 0x0503
    KEY_ENCRYPTED = 0x0504
    WRONG_PASSPHRASE = 0x0505
    KEY_INCOMPLETE = 0x0506
    MULTI_PRIME_KEY = 0x0507
    KEY_DOES_NOT_FIT = 0x0508
    KEY_INVALID = 0x0509
    KEY_INCONSISTENT = 0x050A
    KEY_MALFORMED = 0x050B
    PEM_DAMAGED = 0x050C
    KEY_OTHER_ALGORITHM = 0x050D
    NOT_PRIVATE_KEY = 0x050E
    KEY_TOO_COSTLY = 0x0510
    KEY_DAMAGED = 0x0511
    ENVELOPE_REFUSED = 0x0601
    ENVELOPE_MALFORMED = 0x0602
    ENVELOPE_KEY_REFUSED = 0x0603
    ENVELOPE_PADDING_REFUSED = 0x0604
    ENVELOPE_KEY_NOT_TEXT = 0x0605


class Error(ValueError):
    """A refusal by the library: bad input, a key it cannot take, a block or
    ciphertext that does not decrypt. ``code`` says which (an ErrorCode);
    ``str(error)`` is the library's message, with the detail it gives (a
    file's path, both lengths, an offset). ``iterations`` is the iteration
    count of an encrypted key refused for it (KEY_TOO_COSTLY: the count the
    file asks for, so a caller can tell how far above its max_iterations it
    lies), None for every other refusal."""

    code: ErrorCode
    iterations: Optional[int]

    def __init__(self, message: str, code: ErrorCode, iterations: Optional[int] = None) -> None:
        super().__init__(message)
        self.code = code
        self.iterations = iterations

    def __reduce__(self):  # so that errors cross process boundaries (Dask)
        return (type(self), (str(self), self.code, self.iterations))
