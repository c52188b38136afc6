"""Envelopes and the RSA calls beneath them (implicit rejection, key unwrap)
against the cryptography package and the library's OpenSSL 3.2 answers."""

import os

import pytest
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa

import corvane
from test_des3 import oracle_decrypt, oracle_encrypt

VECTORS = os.path.join(os.path.dirname(__file__), "..", "..", "tests", "vectors", "rsa_implicit_rejection.vec")


def implicit_rejection_cases():
    """(key, ciphertext, message) of every case of the library's vector file."""
    records = [dict(line.split(" = ", 1) if " = " in line else (line.rstrip(" ="), "") for line in block.splitlines()
                    if not line.startswith("#")) for block in open(VECTORS).read().split("\n\n")]
    keys, cases = {}, []
    for r in (r for r in records if r):
        if "n" in r:
            numbers = rsa.RSAPrivateNumbers(*(int(r[f], 16) for f in ("p", "q", "d", "dP", "dQ", "qInv")),
                                            rsa.RSAPublicNumbers(int(r["e"], 16), int(r["n"], 16)))
            keys[r["key"]] = corvane.RsaPrivateKey.from_der(numbers.private_key().private_bytes(
                serialization.Encoding.DER, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()))
        else:
            cases.append((keys[r["key"]], bytes.fromhex(r["ciphertext"]), bytes.fromhex(r["message"])))
    return cases


def test_implicit_rejection_gives_openssl_32_answers():
    cases = implicit_rejection_cases()
    assert len(cases) > 30
    for key, ciphertext, message in cases:
        assert key.decrypt(ciphertext, implicit_rejection=True) == message
        assert key.decrypt_key(ciphertext, 24) == key.decrypt_key(ciphertext, 24)
        if len(message) == 24:
            assert key.decrypt_key(ciphertext, 24) == message
    key = cases[0][0]
    blocks = [c for k, c, _ in cases if k is key]
    assert key.decrypt_batch(blocks, implicit_rejection=True) == [key.decrypt(b, implicit_rejection=True) for b in blocks]
    assert key.decrypt_key_batch(blocks, 24) == [key.decrypt_key(b, 24) for b in blocks]
    with pytest.raises(corvane.Error) as refused:
        key.decrypt_key(blocks[0][:-1], 24)
    assert refused.value.code == corvane.ErrorCode.BAD_LENGTH


@pytest.mark.parametrize("size", [0, 1, 256, 4096])
def test_envelopes_open_what_legacy_clients_seal_and_back(keys, size):
    oracle = keys[1024].oracle
    key = corvane.RsaPrivateKey.from_pem(keys[1024].pem)
    message, des_key = os.urandom(size), os.urandom(24)
    wrapped = oracle.public_key().encrypt(des_key, padding.PKCS1v15())
    payload = oracle_encrypt(message, des_key, des_key[:8])
    assert corvane.open_envelope(key, wrapped, payload) == message
    for hex_key in (False, True):
        envelope = corvane.seal_envelope(key.public_key(), message, hex_key=hex_key)
        assert isinstance(envelope, corvane.Envelope)
        sealed_key = oracle.decrypt(envelope.wrapped_key, padding.PKCS1v15())
        assert len(sealed_key) == 24 and (not hex_key or all(c in b"0123456789ABCDEF" for c in sealed_key))
        assert oracle_decrypt(envelope.payload, sealed_key, sealed_key[:8]) == message
    sealed = corvane.seal_envelopes(key.public_key(), [message, b"second"])
    assert corvane.open_envelopes(key, sealed) == [message, b"second"]


def test_every_refusal_is_one_answer(keys):
    key = corvane.RsaPrivateKey.from_pem(keys[1024].pem)
    good = corvane.seal_envelope(key.public_key(), b"message")
    short_key = key.public_key().encrypt(b"16 bytes of key!")
    bad = [(good.wrapped_key[:-1], good.payload), (short_key, good.payload), (good.wrapped_key, good.payload[:-1]),
           (b"\x00" * 128, good.payload)]
    # A malformed wrapped key unwraps to a substitute key, under which one
    # payload in 256 ends in valid padding and opens as garbage.
    results = [corvane.open_envelopes(key, [good, *bad])]
    for wrapped, payload in bad:
        try:
            results.append([corvane.open_envelope(key, wrapped, payload)])
        except corvane.Error as refused:
            results.append([refused])
    assert results[0][0] == b"message"
    outcomes = [r for batch in results for r in batch][1:]
    assert b"message" not in outcomes
    answers = {(r.code, str(r)) for r in outcomes if isinstance(r, corvane.Error)}
    assert answers == {(corvane.ErrorCode.ENVELOPE_REFUSED, corvane._corvane._error_meaning(0x0601))}
    with pytest.raises(TypeError):
        corvane.open_envelopes(key, [good.wrapped_key])
