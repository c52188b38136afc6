#!/usr/bin/env python3
"""Writes the seed corpora of the envelope fuzz targets (fuzz/corpus/envelope_fuzz
and fuzz/corpus/envelope_line_fuzz), the same files on every run: each seed is
named by the SHA-1 of its bytes, as libFuzzer names what it keeps.

    fuzz/make_corpus.py [--check]     (--check: fail if a seed is missing)

The envelope seeds are under the fixed keys of fuzz/fuzz_rsa_keys.h. Most of
them give the padded block itself with the target's "encode" flag, so that
the fuzzer steers the padding; a few hold real blocks made here by the raw
public operation. Payloads are triple-DES in CBC mode under the wrapped key,
its first 8 bytes as IV (openssl enc does the cipher)."""

import argparse
import base64
import hashlib
import pathlib
import random
import re
import subprocess
import sys

from cryptography.hazmat.primitives import serialization

ROOT = pathlib.Path(__file__).resolve().parent
KEYS_HEADER = ROOT / "fuzz_rsa_keys.h"

ENVELOPES, UNWRAP, IMPLICIT, ARCHIVE = 0, 1, 2, 3
LARGE_KEY = 0x07
ENCODE = 0x08


def fuzz_keys():
    """The two PEM keys of the header, as (n, e, block size) by key bit."""
    text = KEYS_HEADER.read_text()
    keys = {}
    for name, large in (("kFuzzKey512Pem", False), ("kFuzzKey1024Pem", True)):
        body = re.search(name + r" =\s*((?:\s*\"[^\"]*\")+);", text).group(1)
        pem = "".join(re.findall(r"\"([^\"]*)\"", body)).replace("\\n", "\n").encode()
        numbers = serialization.load_pem_private_key(pem, password=None).private_numbers().public_numbers
        keys[large] = (numbers.n, numbers.e, (numbers.n.bit_length() + 7) // 8)
    return keys


def des3_cbc(key: bytes, message: bytes) -> bytes:
    return subprocess.run(["openssl", "enc", "-des-ede3-cbc", "-K", key.hex(), "-iv", key[:8].hex()],
                          input=message, capture_output=True, check=True).stdout


def padded_block(size: int, message: bytes, rng: random.Random, block_type: int = 2,
                 filler: int = None) -> bytes:
    """00 || type || non-zero filler || 00 || message, size bytes in all."""
    fill = size - 3 - len(message)
    assert fill >= 0
    pad = bytes(filler if filler is not None else rng.randrange(1, 256) for _ in range(fill))
    return bytes([0, block_type]) + pad + b"\0" + message


def item(block: bytes, payload: bytes = None, block_size: int = 0) -> bytes:
    shape = 0x80 if len(block) == block_size else len(block)
    assert shape == 0x80 or shape < 0x80
    out = bytes([shape]) + block
    if payload is not None:
        out += len(payload).to_bytes(2, "big") + payload
    return out


def envelope_seeds(keys, rng):
    seeds = []
    for large in (False, True):
        n, e, size = keys[large]
        key_flag = LARGE_KEY if large else 0

        def encoded_envelope(message: bytes, valid: bool = True) -> bytes:
            des_key = bytes(rng.randrange(256) for _ in range(24))
            block = padded_block(size, des_key, rng)
            if not valid:
                block = block[:1] + b"\x01" + block[2:]
            return item(block, des3_cbc(des_key, message), size)

        def raw_envelope(message: bytes) -> bytes:
            des_key = bytes(rng.randrange(256) for _ in range(24))
            block = pow(int.from_bytes(padded_block(size, des_key, rng), "big"), e, n).to_bytes(size, "big")
            return item(block, des3_cbc(des_key, message), size)

        header = lambda mode, flags, key_size=0: bytes([mode, key_flag | flags, key_size])
        seeds.append(header(ENVELOPES, ENCODE) + encoded_envelope(b"") + encoded_envelope(b"a message")
                     + encoded_envelope(bytes(16)))
        seeds.append(header(ENVELOPES, ENCODE) + encoded_envelope(b"refused", valid=False)
                     + item(b"\x01\x02", b"12345678") + encoded_envelope(b"x" * 40))
        seeds.append(header(ENVELOPES, 0) + raw_envelope(b"real block") + raw_envelope(b""))
        # Archive mode: a placeholder seed until the archive opener exists.
        seeds.append(header(ARCHIVE, ENCODE) + encoded_envelope(b"archived record"))

        for key_size in (8, 16, 24, 32):
            message = bytes(rng.randrange(256) for _ in range(key_size))
            blocks = [padded_block(size, message, rng),                     # well formed, keySize bytes
                      padded_block(size, message[:-1], rng),                # one byte short
                      padded_block(size, message + b"\x5a", rng),           # one byte long
                      padded_block(size, message, rng, block_type=1, filler=0xFF),
                      padded_block(size, message, rng)[:-key_size - 1] + b"\x01" + message]  # no separator
            seeds.append(header(UNWRAP, ENCODE, key_size) + b"".join(item(b, block_size=size) for b in blocks))
        seeds.append(header(UNWRAP, 0, 24) + item(bytes(size - 1), block_size=size)
                     + item(n.to_bytes(size, "big"), block_size=size)
                     + item(pow(int.from_bytes(padded_block(size, bytes(24), rng), "big"), e, n).to_bytes(size, "big"),
                            block_size=size))
        seeds.append(header(UNWRAP, ENCODE, 0) + item(padded_block(size, b"", rng), block_size=size))
        seeds.append(header(UNWRAP, ENCODE, size - 10) + item(padded_block(size, bytes(size - 11), rng), block_size=size))

        seeds.append(header(IMPLICIT, ENCODE) + b"".join(
            item(padded_block(size, bytes(rng.randrange(256) for _ in range(length)), rng), block_size=size)
            for length in (0, 1, 24, size - 11)))
        seeds.append(header(IMPLICIT, ENCODE) + item(padded_block(size, b"\0\0", rng, filler=1), block_size=size)
                     + item(bytes([0, 2]) + bytes(size - 2), block_size=size)
                     + item(bytes([0, 2]) + bytes([7] * 7) + b"\0" + bytes(size - 10), block_size=size))
        seeds.append(header(IMPLICIT, 0) + item(b"\x05" * 20) + item(n.to_bytes(size, "big"), block_size=size)
                     + item((n - 1).to_bytes(size, "big"), block_size=size))
    return seeds


def line_seeds(keys, rng):
    seeds = []
    _, _, size = keys[False]
    b64 = lambda data: base64.b64encode(data)
    wrapped = bytes(rng.randrange(256) for _ in range(size))
    payload = bytes(rng.randrange(256) for _ in range(24))
    good = b64(wrapped) + b" " + b64(payload)
    seeds += [good, b64(wrapped) + b"\t" + b64(payload), b64(wrapped) + b" \t  " + b64(payload),
              good + b"\r", good + b"\r\n", b64(wrapped) + b"\r " + b64(payload),
              b64(wrapped)[:20] + b"\r" + b64(wrapped)[20:] + b" " + b64(payload),
              good + b"\0", b64(wrapped) + b" \0" + b64(payload), good + b" third",
              b64(wrapped), b" " + good, good + b" ", b64(wrapped) + b" \x0b", b64(wrapped) + b" \xff",
              b64(wrapped) + b" " + b64(payload)[:-1], b"= =", b"QQ== QQ==", b"QQ QQ",
              # Overlong fields: the target repeats what follows 0x01 up to 65536 bytes.
              b"\x01" + b64(bytes(rng.randrange(256) for _ in range(300))),
              b"\x01" + b64(wrapped) + b" " + b64(payload) + b"\t",
              b"A" * 3000 + b" " + b"B" * 3000]
    return seeds


def write(folder: pathlib.Path, seeds, check: bool) -> bool:
    wanted = {hashlib.sha1(s).hexdigest(): s for s in seeds}
    present = {p.name for p in folder.glob("*")} if folder.is_dir() else set()
    if check:
        return set(wanted) <= present
    # Other files (findings kept as seeds) stay.
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in wanted.items():
        (folder / name).write_bytes(data)
    return True


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="fail if a seed this script writes is missing")
    args = parser.parse_args()
    keys = fuzz_keys()
    ok = write(ROOT / "corpus" / "envelope_fuzz", envelope_seeds(keys, random.Random(46)), args.check)
    ok &= write(ROOT / "corpus" / "envelope_line_fuzz", line_seeds(keys, random.Random(47)), args.check)
    if not ok:
        print("seeds are missing: run fuzz/make_corpus.py", file=sys.stderr)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
