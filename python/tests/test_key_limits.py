"""The key readers' max_iterations=: it bounds what an encrypted key may
cost, the refusal carries the file's count, a limit outside 1 to 2147483647
is refused, and no wrong argument's TypeError repeats a key or passphrase."""

import pickle

import pytest

import corvane

# PBES2 (PBKDF2-HMAC-SHA256, AES-256-CBC) asking for 2^32 - 1 iterations,
# its one cipher block never decrypted: the count refuses it first.
ENDLESS = bytes.fromhex(
    "306e305a06092a864886f70d01050d304d302c06092a864886f70d01050c301f04080102030405060708020500ffffffff"
    "300c06082a864886f70d02090500301d060960864801650304012a0410" + "00" * 16 + "0410" + "5a" * 16
)


@pytest.fixture(scope="module")
def sources(keys, tmp_path_factory):
    """Per reader form, a key the library wrote under "pw" (2048 iterations),
    the 2^32 - 1 one and a plain key."""
    private = corvane.RsaPrivateKey.from_pem(keys[512].pem)
    folder = tmp_path_factory.mktemp("limits")
    files = {"sound": private.to_der(passphrase="pw"), "endless": ENDLESS, "plain": private.to_der()}
    for name, der in files.items():
        (folder / name).write_bytes(der)
    return {
        "from_der": files,
        # The readers tell PEM from DER by the content: from_pem takes the DER one too.
        "from_pem": {"sound": private.to_pem(passphrase="pw"), "endless": ENDLESS, "plain": private.to_pem()},
        "from_file": {name: folder / name for name in files},
    }


FORMS = ("from_pem", "from_der", "from_file")
READERS = [(cls, form) for cls in (corvane.RsaPrivateKey, corvane.RsaPublicKey) for form in FORMS]


@pytest.mark.parametrize("cls,form", READERS, ids=[f"{c.__name__}.{f}" for c, f in READERS])
def test_max_iterations_bounds_the_cost_and_is_refused_outside_its_range(sources, cls, form):
    def read(name, limit):
        return getattr(cls, form)(sources[form][name], "pw", max_iterations=limit)

    assert read("sound", 2048).bits == 512 and getattr(cls, form)(sources[form]["sound"], "pw").bits == 512
    for name, limit, count in [
        ("sound", 2047, 2048),
        ("endless", corvane.MAX_KEY_ITERATION_LIMIT, 2**32 - 1),
        ("endless", corvane.DEFAULT_MAX_KEY_ITERATIONS, 2**32 - 1),
    ]:
        with pytest.raises(corvane.Error) as refused:
            read(name, limit)
        assert refused.value.code.name == "KEY_TOO_COSTLY" and refused.value.iterations == count
        assert pickle.loads(pickle.dumps(refused.value)).iterations == count  # as Dask sends it back
    for name in ("plain", "sound"):
        for limit in (0, -1, 2**31, 2**64):
            with pytest.raises(corvane.Error, match="max_iterations is .*1 to 2147483647") as refused:
                read(name, limit)
            assert refused.value.code == corvane.ErrorCode.INVALID_INPUT and refused.value.iterations is None


def test_wrong_argument_types_never_repeat_the_arguments(keys):
    secret, plain = "a passphrase nobody may read", keys[512].pem.decode()
    for call in [
        lambda: corvane.RsaPrivateKey.from_pem(plain, secret, max_iterations=1.5),
        lambda: corvane.RsaPrivateKey.from_pem(plain, secret, max_iterations=True),
        lambda: corvane.RsaPrivateKey.from_pem(plain, 12345),
        lambda: corvane.RsaPrivateKey.from_der(12345, secret),
        lambda: corvane.RsaPrivateKey.from_file(12345, secret),
    ]:
        with pytest.raises(TypeError) as refused:
            call()
        assert secret not in str(refused.value) and "PRIVATE KEY" not in str(refused.value)
