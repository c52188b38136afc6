"""Triple DES against the cryptography package: one-shot, streaming, the
legacy no-IV rule and the passphrase format of `openssl enc -pbkdf2`."""

import random

import pytest
from cryptography.hazmat.primitives import hashes, padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.kdf.pbkdf2 import PBKDF2HMAC

import corvane


def oracle_encrypt(data, key, iv):
    padder = padding.PKCS7(64).padder()
    encryptor = Cipher(algorithms.TripleDES(key), modes.CBC(iv)).encryptor()
    return encryptor.update(padder.update(data) + padder.finalize()) + encryptor.finalize()


def oracle_decrypt(data, key, iv):
    decryptor = Cipher(algorithms.TripleDES(key), modes.CBC(iv)).decryptor()
    unpadder = padding.PKCS7(64).unpadder()
    return unpadder.update(decryptor.update(data) + decryptor.finalize()) + unpadder.finalize()


@pytest.mark.parametrize("size", [0, 1, 7, 8, 9, 4095, 4096, 100_003])
def test_des3_is_cryptography_des3(size):
    rng = random.Random(size)
    data, key, iv = rng.randbytes(size), rng.randbytes(24), rng.randbytes(8)
    sealed = corvane.des3_encrypt(data, key, iv)
    assert sealed == oracle_encrypt(data, key, iv)
    assert corvane.des3_decrypt(bytearray(sealed), memoryview(key), iv) == data
    # The legacy rule, asked for by name: the key's first 8 bytes.
    assert corvane.des3_encrypt(data, key, corvane.KEY_AS_IV) == oracle_encrypt(data, key, key[:8])
    # Streams, in pieces of any size, give the same bytes.
    encryptor, decryptor = corvane.Des3Encryptor(key, iv), corvane.Des3Decryptor(key, corvane.KEY_AS_IV)
    pieces = [data[i : i + 13] for i in range(0, size, 13)]
    assert b"".join([encryptor.update(p) for p in pieces] + [encryptor.finish()]) == sealed
    legacy = oracle_encrypt(data, key, key[:8])
    assert b"".join([decryptor.update(legacy[i : i + 5]) for i in range(0, len(legacy), 5)] + [decryptor.finish()]) == data


def test_des3_refusals():
    key = bytes(range(24))
    with pytest.raises(TypeError, match="KEY_AS_IV"):
        corvane.des3_encrypt(b"data", key, None)
    sealed = corvane.des3_encrypt(b"data", key, b"8 bytes!")
    with pytest.raises(corvane.Error) as refused:
        corvane.des3_decrypt(sealed, bytes(24), b"8 bytes!")
    assert refused.value.code == corvane.ErrorCode.DECRYPTION_REFUSED
    for bad_key in [b"", bytes(25)]:
        with pytest.raises(corvane.Error) as refused:
            corvane.des3_encrypt(b"data", bad_key, corvane.KEY_AS_IV)
        assert refused.value.code == corvane.ErrorCode.INVALID_INPUT
    decryptor = corvane.Des3Decryptor(key, corvane.KEY_AS_IV)
    decryptor.update(sealed[:-1])
    with pytest.raises(corvane.Error):
        decryptor.finish()
    key = corvane.des3_random_key()
    assert len(key) == 24 and all(c in b"0123456789ABCDEF" for c in key)
    assert len(corvane.des3_random_key(hex_key=False)) == 24


@pytest.mark.parametrize("passphrase", ["secret", "pässwörd", b"bytes", bytearray(b"mutable"), ""])
def test_passphrase_format_is_openssl_pbkdf2(passphrase):
    data = random.Random(1).randbytes(1000)
    sealed = corvane.des3_encrypt_with_passphrase(data, passphrase, iterations=1000, digest="sha1")
    assert sealed[:8] == b"Salted__"
    secret = passphrase.encode() if isinstance(passphrase, str) else bytes(passphrase)
    kdf = PBKDF2HMAC(hashes.SHA1(), length=32, salt=sealed[8:16], iterations=1000)
    derived = kdf.derive(secret)
    assert oracle_decrypt(sealed[16:], derived[:24], derived[24:]) == data
    assert corvane.des3_decrypt_with_passphrase(sealed, passphrase, iterations=1000, digest="sha1") == data
    # The defaults (sha256, 10000 iterations) and a fixed salt.
    fixed = corvane.des3_encrypt_with_passphrase(data, passphrase, salt=b"12345678")
    derived = PBKDF2HMAC(hashes.SHA256(), length=32, salt=b"12345678", iterations=10000).derive(secret)
    assert fixed == b"Salted__12345678" + oracle_encrypt(data, derived[:24], derived[24:])
    if passphrase:
        with pytest.raises(corvane.Error):
            corvane.des3_decrypt_with_passphrase(fixed, "wrong passphrase")
