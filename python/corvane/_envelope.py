"""The value seal_envelope returns."""

from typing import NamedTuple


class Envelope(NamedTuple):
    """A wrapped triple-DES key (the RSA block) and the payload encrypted under
    that key, as a legacy client sends them."""

    wrapped_key: bytes
    payload: bytes
