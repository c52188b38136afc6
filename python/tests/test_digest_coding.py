"""MD5, Base64 and hexadecimal against Python's own hashlib, base64 and bytes."""

import array
import base64
import hashlib
import random

import numpy
import pytest

import corvane

SIZES = [0, 1, 2, 3, 55, 56, 63, 64, 65, 1000, 4095, 4097, 100_000]


def message(size, seed=7):
    return random.Random(seed * 1000 + size).randbytes(size)


def as_every_buffer(data):
    return [data, bytearray(data), memoryview(data), numpy.frombuffer(data, dtype=numpy.uint8), array.array("B", data)]


@pytest.mark.parametrize("size", SIZES)
def test_md5_is_hashlib_md5(size):
    data = message(size)
    expected = hashlib.md5(data)
    for buffer in as_every_buffer(data):
        assert corvane.md5(buffer).digest() == expected.digest()
    h = corvane.md5()
    cut = size // 3
    h.update(data[:cut])
    copy = h.copy()
    h.update(data[cut:])
    assert (h.digest(), h.hexdigest()) == (expected.digest(), expected.hexdigest())
    assert h.digest() == expected.digest()  # digest() ends nothing
    copy.update(data[cut:])
    assert copy.hexdigest() == expected.hexdigest()
    assert (h.name, h.digest_size, h.block_size) == ("md5", 16, 64)


def test_md5_refuses_text():
    with pytest.raises(TypeError):
        corvane.md5("text")


CODINGS = [  # corvane's options, Python's encoder
    ({}, base64.b64encode),
    ({"websafe": True}, base64.urlsafe_b64encode),
    ({"padded": False}, lambda d: base64.b64encode(d).rstrip(b"=")),
    ({"websafe": True, "padded": False}, lambda d: base64.urlsafe_b64encode(d).rstrip(b"=")),
]


@pytest.mark.parametrize("options,python", CODINGS)
@pytest.mark.parametrize("size", SIZES)
def test_base64_is_python_base64(options, python, size):
    data = message(size)
    text = python(data)
    assert corvane.base64_encode(data, **options) == text
    assert corvane.base64_decode(text, **options) == data
    assert corvane.base64_decode(text.decode(), **options) == data
    # In pieces of every kind, with the same results.
    cuts = sorted(random.Random(size).sample(range(size + 1), min(size + 1, 5)))
    pieces = [data[a:b] for a, b in zip([0] + cuts, cuts + [size])]
    encoder = corvane.Base64Encoder(**options)
    assert b"".join([encoder.update(p) for p in pieces] + [encoder.finish()]) == text
    decoder = corvane.Base64Decoder(**options)
    assert b"".join([decoder.update(text[i : i + 7]) for i in range(0, len(text), 7)] + [decoder.finish()]) == data


def test_base64_lines_and_refusals():
    data = message(100)
    encoder = corvane.Base64Encoder(line_width=76)
    assert encoder.update(data) + encoder.finish() == base64.encodebytes(data)
    for bad in ["QUJD*", "QQ", "QUJD=QUJD"]:
        with pytest.raises(corvane.Error) as refused:
            corvane.base64_decode(bad)
        assert refused.value.code == corvane.ErrorCode.INVALID_INPUT
        assert isinstance(refused.value, ValueError)
    decoder = corvane.Base64Decoder()
    with pytest.raises(corvane.Error):
        decoder.update("QUJD*")


@pytest.mark.parametrize("size", SIZES)
def test_hex_is_bytes_hex(size):
    data = message(size)
    assert corvane.hex_encode(data) == data.hex()
    assert corvane.hex_encode(data, upper=True) == data.hex().upper()
    assert corvane.hex_decode(data.hex().upper()) == data
    assert corvane.hex_decode(" ".join(data.hex()), skip_whitespace=True) == data


def test_hex_refusals_name_the_offset():
    with pytest.raises(corvane.Error, match="3"):
        corvane.hex_decode("abcx")
    with pytest.raises(corvane.Error):
        corvane.hex_decode("abc")
    with pytest.raises(corvane.Error):
        corvane.hex_decode("ab cd")
