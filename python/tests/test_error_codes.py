"""corvane.ErrorCode beside the library's own list of codes: every code the
C++ library has is a member, under the C++ enumerator's name in upper snake
case and its number, and no member is a code the library lacks. A code
added to the library and not to the package fails here."""

import re

import pytest

import corvane
import corvane._corvane

UNKNOWN = "unknown Corvane error code"


def python_name(cxx_name):
    return re.sub(r"(?<!^)(?=[A-Z])", "_", cxx_name).upper()


def test_error_code_walks_the_library_list_side_by_side():
    table = corvane._corvane._error_codes()
    numbers = [number for number, _ in table]
    assert len(set(numbers)) == len(numbers)
    # The binding's table is the library's whole list: every number
    # errorMeaning knows, over far more than the families use (a new family
    # would land in this range too), and nothing else.
    known = {v for v in range(-0x10000, 0x10000) if corvane._corvane._error_meaning(v) != UNKNOWN}
    assert set(numbers) == known
    # Side by side with the enum: success is no error and has no member.
    members = {member.value: member.name for member in corvane.ErrorCode}
    expected = {number: python_name(name) for number, name in table if number != 0}
    for number in sorted(set(members) | set(expected)):
        assert members.get(number) == expected.get(number), hex(number)


def test_the_key_readers_newer_codes_have_names(keys, tmp_path):
    # They used to come back as the bare numbers 1296 and 1297.
    cut = tmp_path / "cut.der"
    cut.write_bytes(corvane.RsaPrivateKey.from_pem(keys[512].pem).to_der(passphrase="pw")[:-16])
    with pytest.raises(corvane.Error) as refused:
        corvane.RsaPrivateKey.from_file(cut, "pw")
    assert refused.value.code.name == "KEY_DAMAGED" and corvane.ErrorCode(0x0510).name == "KEY_TOO_COSTLY"
