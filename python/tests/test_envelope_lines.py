"""Whole partitions of envelope lines in one call (what the archive jobs
use): line for line what the single calls give, in the tool's text form,
and archive mode's refusals of a wrong key."""

import base64

import pytest
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import rsa

import corvane

REFUSED = b"error: envelope refused"
NOT_AN_ENVELOPE = b"error: not an envelope: two Base64 fields separated by a space or tab"


def line_of(wrapped_key, payload):
    return base64.b64encode(wrapped_key) + b" " + base64.b64encode(payload)


def another_512_bit_public_key():
    other = rsa.generate_private_key(public_exponent=65537, key_size=512)
    return corvane.RsaPublicKey.from_pem(other.public_key().public_bytes(
        serialization.Encoding.PEM, serialization.PublicFormat.SubjectPublicKeyInfo))


@pytest.fixture(scope="module")
def private(keys):
    return corvane.RsaPrivateKey.from_pem(keys[512].pem)


def test_each_line_gives_what_the_single_call_gives(private, keys):
    messages = [bytes([n % 256]) * n for n in (0, 1, 8, 300)]
    good = [line_of(*corvane.seal_envelope(private.public_key(), m)) for m in messages]
    longer = line_of(*corvane.seal_envelope(corvane.RsaPrivateKey.from_pem(keys[768].pem).public_key(), b"x"))
    unpadded = line_of(b"\x00" + b"\x55" * 63, bytes(8))
    rows = [  # (line as written, output line, reason)
        (good[0] + b"\n", b"", None),
        (good[1] + b"\r\n", base64.b64encode(messages[1]), None),
        (good[2].replace(b" ", b" \t ") + b"\n", base64.b64encode(messages[2]), None),
        (good[3] + b"\n", base64.b64encode(messages[3]), None),
        (b"not an envelope\n", NOT_AN_ENVELOPE, "not an envelope"),
        (b"\n", NOT_AN_ENVELOPE, "not an envelope"),
        (b"\r" + good[1] + b"\n", base64.b64encode(messages[1]), None),  # skipped inside a field, as the tool does
        (longer + b"\n", REFUSED, "envelope malformed"),
        (b"A" * 65537 + b"\n", b"error: line longer than 65536 bytes", "line too long"),
        (unpadded + b"\n", REFUSED, "wrapped key refused"),
        (good[2], base64.b64encode(messages[2]), None),  # the last line, without a line feed
    ]
    text = b"".join(line for line, _, _ in rows)
    output, bad = corvane.open_envelope_lines(private, text)
    assert output.endswith(b"\n") and output.split(b"\n")[:-1] == [expected for _, expected, _ in rows]
    assert bad == [(i, reason) for i, (_, _, reason) in enumerate(rows) if reason]
    # The uniform refusal: the same output lines, one reason for every refusal.
    uniform_output, uniform_bad = corvane.open_envelope_lines(private, text, archive=False)
    assert uniform_output == output
    assert [reason for i, reason in uniform_bad if i in (7, 9)] == ["envelope refused"] * 2
    assert corvane.open_envelope_lines(private, b"") == (b"", [])


def test_a_wrong_key_opens_nothing_in_archive_mode_and_about_one_in_256_uniformly(private):
    count = 5000
    text, _ = corvane.seal_message_lines(another_512_bit_public_key(), (base64.b64encode(bytes(16)) + b"\n") * count)
    archive_output, archive_bad = corvane.open_envelope_lines(private, text)
    assert archive_output == (REFUSED + b"\n") * count and len(archive_bad) == count
    _, uniform_bad = corvane.open_envelope_lines(private, text, archive=False)
    # About 20 of 5000 substitute keys meet valid padding; outside (0, 60)
    # has a chance below one in 10^8.
    assert 0 < count - len(uniform_bad) < 60


def test_reencrypt_and_seal_lines_round_trip(private, keys):
    target = corvane.RsaPrivateKey.from_pem(keys[768].pem)
    messages = [b"", b"a", bytes(range(256)) * 3]
    text = b"".join(base64.b64encode(m) + b"\n" for m in messages) + b" \t\n" + b"!!\n"
    sealed, bad = corvane.seal_message_lines(private.public_key(), text, hex_key=True)
    assert bad == [(4, "not Base64")] and sealed.split(b"\n")[4] == b"error: not valid Base64"
    resealed, bad = corvane.reencrypt_envelope_lines(private, target.public_key(), sealed, text_keys=True)
    assert bad == [(4, "not an envelope")]
    opened, bad = corvane.open_envelope_lines(target, resealed)
    assert opened.split(b"\n")[:4] == [base64.b64encode(m) for m in messages + [b""]]
    assert bad == [(4, "not an envelope")]
    with pytest.raises(corvane.Error) as refused:
        corvane.open_envelope_lines(private, sealed, archive=False, text_keys=True)
    assert refused.value.code == corvane.ErrorCode.INVALID_INPUT


def test_single_and_batch_calls_offer_archive_mode(private, keys):
    envelope = corvane.seal_envelope(private.public_key(), b"record")
    longer = corvane.seal_envelope(corvane.RsaPrivateKey.from_pem(keys[768].pem).public_key(), b"x")
    assert corvane.open_envelope(private, *envelope, archive=True) == b"record"
    with pytest.raises(corvane.Error) as refused:
        corvane.open_envelope(private, *longer, archive=True)
    assert refused.value.code == corvane.ErrorCode.ENVELOPE_MALFORMED
    results = corvane.open_envelopes(private, [envelope, longer], archive=True)
    assert results[0] == b"record" and results[1].code == corvane.ErrorCode.ENVELOPE_MALFORMED
    assert corvane.open_envelopes(private, [longer])[0].code == corvane.ErrorCode.ENVELOPE_REFUSED
