#!/usr/bin/env python3
"""Writes tests/vectors/rsa_implicit_rejection.vec: known answers of PKCS #1
v1.5 decryption with implicit rejection, as an OpenSSL of 3.2 or later gives
them through the Python `cryptography` package (any interpreter whose
package links such an OpenSSL; the Debian one does not).

For keys of 512, 768 and 1024 bits (made with `openssl genrsa`), each
record holds a ciphertext and the bytes OpenSSL returns for it: blocks that
are well formed (messages of 0, 1, 24 and the largest length), blocks broken
in each way a type-2 block can be (first byte, type byte, no separator,
fewer than 8 filler bytes), random values below the modulus, and ciphertexts
found by search whose synthetic message has length 0 and the largest length
possible (the modulus length less 11). The synthetic length is computed here
from the published algorithm only to steer that search; every stored answer
is OpenSSL's.

Run from the repository root: scripts/gen_implicit_rejection_vectors.py
"""
import hashlib
import hmac
import os
import subprocess
import sys
import tempfile

from cryptography.hazmat.primitives.asymmetric import padding
from cryptography.hazmat.primitives.serialization import load_pem_private_key

OUT = "tests/vectors/rsa_implicit_rejection.vec"


def prf(kdk, label, bits):
    out = b""
    i = 0
    while len(out) * 8 < bits:
        out += hmac.new(kdk, i.to_bytes(2, "big") + label + bits.to_bytes(2, "big"), hashlib.sha256).digest()
        i += 1
    return out[: bits // 8]


def synthetic_length(d, modulus_len, c):
    kdk = hmac.new(hashlib.sha256(d.to_bytes(modulus_len, "big")).digest(), c, hashlib.sha256).digest()
    candidates = prf(kdk, b"length", 128 * 16)
    limit = modulus_len - 10
    mask = limit
    for shift in (1, 2, 4, 8):
        mask |= mask >> shift
    length = 0
    for i in range(0, len(candidates), 2):
        candidate = int.from_bytes(candidates[i : i + 2], "big") & mask
        if candidate < limit:
            length = candidate
    return length


def hex_of(number):
    return number.to_bytes((number.bit_length() + 7) // 8, "big").hex()


def make_key(bits):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "key.pem")
        subprocess.run(["openssl", "genrsa", "-out", path, str(bits)], check=True, capture_output=True)
        return load_pem_private_key(open(path, "rb").read(), None)


def block(modulus_len, first, kind, filler, message):
    return bytes([first, kind]) + filler + b"\x00" + message if message is not None else bytes([first, kind]) + filler


def main():
    records = []
    rng = os.urandom
    for bits in (512, 768, 1024):
        key = make_key(bits)
        numbers = key.private_numbers()
        pub = numbers.public_numbers
        modulus_len = (bits + 7) // 8
        name = "k%d" % bits
        records.append(
            {
                "key": name, "bits": str(bits), "n": hex_of(pub.n), "e": hex_of(pub.e), "d": hex_of(numbers.d),
                "p": hex_of(numbers.p), "q": hex_of(numbers.q), "dP": hex_of(numbers.dmp1),
                "dQ": hex_of(numbers.dmq1), "qInv": hex_of(numbers.iqmp),
            }
        )

        def nonzero(count):
            return bytes((b % 255) + 1 for b in rng(count))

        def encrypt_raw(em):
            return pow(int.from_bytes(em, "big"), pub.e, pub.n).to_bytes(modulus_len, "big")

        def well_formed(length):
            return block(modulus_len, 0, 2, nonzero(modulus_len - 3 - length), rng(length))

        cases = [("well formed, empty message", well_formed(0)), ("well formed, 1 byte", well_formed(1)),
                 ("well formed, 24 bytes", well_formed(24)),
                 ("well formed, largest message", well_formed(modulus_len - 11)),
                 ("first byte not zero", block(modulus_len, 1, 2, nonzero(modulus_len - 27), rng(24))),
                 ("type 1", block(modulus_len, 0, 1, nonzero(modulus_len - 27), rng(24))),
                 ("no separator", block(modulus_len, 0, 2, nonzero(modulus_len - 2), None)),
                 ("7 filler bytes", block(modulus_len, 0, 2, nonzero(7), nonzero(modulus_len - 10))),
                 ("separator right after the type", block(modulus_len, 0, 2, b"", nonzero(modulus_len - 3)))]
        for comment, em in cases:
            assert len(em) == modulus_len, comment
            records.append({"key": name, "comment": comment, "ciphertext": encrypt_raw(em).hex()})
        for i in range(4):
            c = (int.from_bytes(rng(modulus_len), "big") % pub.n).to_bytes(modulus_len, "big")
            records.append({"key": name, "comment": "random value", "ciphertext": c.hex()})
        for wanted, comment in ((0, "synthetic length 0"), (modulus_len - 11, "synthetic length the largest")):
            while True:
                c = (int.from_bytes(rng(modulus_len), "big") % pub.n).to_bytes(modulus_len, "big")
                if synthetic_length(numbers.d, modulus_len, c) == wanted:
                    break
            records.append({"key": name, "comment": comment, "ciphertext": c.hex()})

        for record in records:
            if record.get("key") == name and "ciphertext" in record:
                message = key.decrypt(bytes.fromhex(record["ciphertext"]), padding.PKCS1v15())
                record["message"] = message.hex()
                if record["comment"].startswith("synthetic"):
                    assert len(message) == synthetic_length(numbers.d, modulus_len,
                                                            bytes.fromhex(record["ciphertext"])), record

    with open(OUT, "w") as out:
        out.write("# PKCS #1 v1.5 decryption with implicit rejection: what OpenSSL 3.2 and later\n"
                  "# returns for each ciphertext (made by scripts/gen_implicit_rejection_vectors.py).\n"
                  "# A record with n is a key; the others are cases under the key they name.\n"
                  "# The keys protect nothing.\n")
        for record in records:
            out.write("\n")
            for field, value in record.items():
                out.write("%s = %s\n" % (field, value))
    print("wrote %d records to %s" % (len(records), OUT), file=sys.stderr)


if __name__ == "__main__":
    main()
