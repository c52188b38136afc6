"""Per-call speed of the corvane package beside the cryptography package and
Python's own hashlib and base64, in one process, on the same inputs.

Each row runs both sides in interleaved rounds (ours, then the peer's, the
order alternating) and reports the median time per call of each and the
median of the per-round ratios (peer time / our time: above 1 we are
faster). With the native loop module of the build tree (_corvane_bench), it
also measures what the Python call adds to one RSA-1024 decryption: the
Python call beside the same C++ call looped natively.

    PYTHONPATH=build/default/python python3 python/bench/bench_calls.py [--rounds N]
"""

import argparse
import base64
import hashlib
import os
import statistics
import time

from cryptography.hazmat.primitives import hashes, padding as sym_padding
from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives import serialization

import corvane


def per_call(function, calls):
    started = time.perf_counter()
    for _ in range(calls):
        function()
    return (time.perf_counter() - started) / calls


def compare(name, ours, peer, calls, rounds, items=1):
    ours_times, peer_times, ratios = [], [], []
    for r in range(rounds):
        if r % 2:
            p, o = per_call(peer, calls), per_call(ours, calls)
        else:
            o, p = per_call(ours, calls), per_call(peer, calls)
        ours_times.append(o / items)
        peer_times.append(p / items)
        ratios.append(p / o)
    print(f"{name:42s} {statistics.median(ours_times) * 1e6:10.2f} us {statistics.median(peer_times) * 1e6:10.2f} us"
          f" {statistics.median(ratios):8.2f}x")


def cryptography_open(private, wrapped, payload):
    key = private.decrypt(wrapped, padding.PKCS1v15())
    if len(key) != 24:
        raise ValueError("refused")
    decryptor = Cipher(algorithms.TripleDES(key), modes.CBC(key[:8])).decryptor()
    unpadder = sym_padding.PKCS7(64).unpadder()
    return unpadder.update(decryptor.update(payload) + decryptor.finalize()) + unpadder.finalize()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=15)
    args = parser.parse_args()
    rounds = args.rounds

    oracle = rsa.generate_private_key(public_exponent=65537, key_size=1024)
    pem = oracle.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                               serialization.NoEncryption())
    key = corvane.RsaPrivateKey.from_pem(pem)
    des_key = os.urandom(24)
    block = key.public_key().encrypt(des_key)
    mib = os.urandom(1 << 20)
    iv = os.urandom(8)

    print(f"{'operation':42s} {'corvane':>13s} {'peer':>13s} {'ratio':>9s}")
    compare("RSA-1024 decrypt (cryptography)", lambda: key.decrypt(block),
            lambda: oracle.decrypt(block, padding.PKCS1v15()), 200, rounds)
    if hasattr(key, "decrypt_key"):
        compare("RSA-1024 decrypt_key (cryptography decrypt)", lambda: key.decrypt_key(block, 24),
                lambda: oracle.decrypt(block, padding.PKCS1v15()), 200, rounds)
    if hasattr(corvane, "open_envelope"):
        for size in (256, 4096):
            payload = corvane.des3_encrypt(os.urandom(size), des_key, corvane.KEY_AS_IV)
            compare(f"envelope open {size} B (cryptography)", lambda: corvane.open_envelope(key, block, payload),
                    lambda: cryptography_open(oracle, block, payload), 200, rounds)
            batch = [(block, payload)] * 256
            compare(f"envelope open {size} B, batch of 256, per item",
                    lambda: corvane.open_envelopes(key, batch),
                    lambda: [cryptography_open(oracle, block, payload) for _ in range(256)], 1, rounds, items=256)
    des3 = Cipher(algorithms.TripleDES(des_key), modes.CBC(iv))
    compare("triple-DES encrypt 1 MiB (cryptography)", lambda: corvane.des3_encrypt(mib, des_key, iv),
            lambda: des3.encryptor().update(mib), 3, rounds)
    sealed = corvane.des3_encrypt(mib, des_key, iv)
    compare("triple-DES decrypt 1 MiB (cryptography)", lambda: corvane.des3_decrypt(sealed, des_key, iv),
            lambda: des3.decryptor().update(sealed), 3, rounds)
    text = base64.b64encode(mib)
    compare("Base64 encode 1 MiB (base64)", lambda: corvane.base64_encode(mib), lambda: base64.b64encode(mib), 20,
            rounds)
    compare("Base64 decode 1 MiB (base64)", lambda: corvane.base64_decode(text), lambda: base64.b64decode(text), 20,
            rounds)
    compare("MD5 1 MiB (hashlib)", lambda: corvane.md5(mib).digest(), lambda: hashlib.md5(mib).digest(), 10, rounds)

    def cryptography_md5():
        digest = hashes.Hash(hashes.MD5())
        digest.update(mib)
        return digest.finalize()

    compare("MD5 1 MiB (cryptography)", lambda: corvane.md5(mib).digest(), cryptography_md5, 10, rounds)

    try:
        import _corvane_bench
    except ImportError:
        print("(no _corvane_bench module: the Python overhead over the C++ call is not measured)")
        return
    calls = 2000
    overheads = []
    for r in range(rounds):
        native = _corvane_bench.decrypt_seconds(key, block, calls) / calls
        python = per_call(lambda: key.decrypt(block), calls)
        overheads.append(python / native - 1)
    print(f"Python call over the C++ call, RSA-1024 decrypt: {statistics.median(overheads) * 100:.1f}% "
          f"(median of {rounds} rounds)")
    payload = corvane.des3_encrypt(os.urandom(256), des_key, corvane.KEY_AS_IV)
    batch = [(block, payload)] * 256
    overheads = []
    for r in range(rounds):
        native = _corvane_bench.open_envelopes_seconds(key, block, payload, 256)
        python = per_call(lambda: corvane.open_envelopes(key, batch), 1)
        overheads.append(python / native - 1)
    print(f"Python call over the C++ call, open_envelopes of 256 (256 B): {statistics.median(overheads) * 100:.1f}%")


if __name__ == "__main__":
    main()
