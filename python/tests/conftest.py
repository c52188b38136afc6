"""Shared fixtures: RSA keys made by the cryptography package (the oracle),
in memory and as files."""

import os

import pytest
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import rsa


def pytest_configure(config):
    config.addinivalue_line("markers", "cluster: starts a local Dask cluster (run once, not per CPU tier)")


class Key:
    def __init__(self, bits, directory):
        self.oracle = rsa.generate_private_key(public_exponent=65537, key_size=bits)
        self.pem = self.oracle.private_bytes(
            serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()
        )
        self.path = os.path.join(directory, f"key{bits}.pem")
        with open(self.path, "wb") as f:
            f.write(self.pem)
        self.public_pem = self.oracle.public_key().public_bytes(
            serialization.Encoding.PEM, serialization.PublicFormat.SubjectPublicKeyInfo
        )
        self.public_path = os.path.join(directory, f"pub{bits}.pem")
        with open(self.public_path, "wb") as f:
            f.write(self.public_pem)


@pytest.fixture(scope="session")
def keys(tmp_path_factory):
    directory = tmp_path_factory.mktemp("keys")
    return {bits: Key(bits, str(directory)) for bits in (512, 768, 1024)}
