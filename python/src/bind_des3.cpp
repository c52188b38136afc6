// Triple DES: one-shot, streaming, random keys and the passphrase format of
// `openssl enc -des-ede3-cbc -pbkdf2`.
#include <pybind11/stl.h>

#include <algorithm>

#include "python/src/conversions.h"

namespace corvane::python {

namespace {

// The value of corvane.KEY_AS_IV: the legacy rule, asked for by name, that
// takes the key's first 8 bytes as the IV.
struct KeyAsIv {};

// The IV a call was given: bytes, or the key under the legacy rule.
cv::ByteView ivOf(py::handle iv, cv::ByteView key, HeldBuffer& held) {
    if (py::isinstance<KeyAsIv>(iv)) return key;
    if (iv.is_none())
        throw py::type_error("iv is required: 8 bytes, or corvane.KEY_AS_IV for the legacy rule (the key's first "
                             "8 bytes, so equal messages encrypt equally)");
    held = HeldBuffer(iv, false);
    return held.view();
}

// des3_encrypt or des3_decrypt: the library's span form, writing into the
// bytes object it returns.
template <std::size_t (*sizeFor)(std::size_t) noexcept,
          std::size_t (*run)(cv::ByteView, cv::ByteView, cv::ByteView, std::span<std::uint8_t>)>
void bindOneShot(py::module_& module, const char* name, const char* doc) {
    module.def(
        name,
        [](cv::ByteView data, cv::ByteView key, py::handle iv) {
            HeldBuffer heldIv;
            const cv::ByteView ivBytes = ivOf(iv, key, heldIv);
            OutputBytes out(sizeFor(data.size()));
            std::size_t written = 0;
            {
                GilReleasedIf released(data.size() > kReleaseGilAbove);
                written = run(data, key, ivBytes, out.span<std::uint8_t>());
            }
            return out.finish(written);
        },
        py::arg("data"), py::arg("key"), py::arg("iv"), doc);
}

template <typename Cipher>
void bindStream(py::module_& module, const char* name, const char* doc) {
    using Stream = Locked<Cipher>;
    py::class_<Stream>(module, name, doc)
        .def(py::init([](cv::ByteView key, py::handle iv) {
                 HeldBuffer heldIv;
                 return std::make_unique<Stream>(key, ivOf(iv, key, heldIv));
             }),
             py::arg("key"), py::arg("iv"))
        .def(
            "update",
            [](Stream& self, cv::ByteView data) {
                return toBytes(self.run(data.size(), [&](Cipher& c) { return c.update(data); }));
            },
            py::arg("data"), "The blocks completed so far.")
        .def(
            "finish", [](Stream& self) { return toBytes(self.run(0, [](Cipher& c) { return c.finish(); })); },
            "The last block; the object is then ready for the next message under the same key and IV.")
        .def(
            "reset", [](Stream& self) { self.run(0, [](Cipher& c) { c.reset(); }); },
            "Drops a message under way.");
}

}  // namespace

void bindDes3(py::module_& module) {
    py::class_<KeyAsIv>(module, "_KeyAsIv").def("__repr__", [](const KeyAsIv&) { return "corvane.KEY_AS_IV"; });
    module.attr("KEY_AS_IV") = KeyAsIv{};

    bindOneShot<&cv::des3EncryptedSize, &cv::des3Encrypt>(
        module, "des3_encrypt",
        "Three-key triple DES in CBC mode with PKCS #7 padding. The key is 1 to 24 bytes (a shorter one "
        "extended with zeros), the IV its first 8 bytes likewise, or corvane.KEY_AS_IV for the legacy rule.");
    bindOneShot<&cv::des3DecryptedCapacity, &cv::des3Decrypt>(
        module, "des3_decrypt",
        "The plaintext; corvane.Error (DECRYPTION_REFUSED) for data that is not whole blocks or not "
        "correctly padded (a wrong key, most often).");
    module.def(
        "des3_random_key",
        [](bool hexKey) { return toBytes(cv::des3RandomKey(hexKey ? cv::Des3KeyForm::hexText : cv::Des3KeyForm::bytes)); },
        py::kw_only(), py::arg("hex_key") = true,
        "A new 24-byte key from the operating system's entropy source: 24 upper-case hexadecimal characters "
        "(75 bits of key), as the legacy class makes it, or with hex_key=False 24 full-entropy bytes.");

    bindStream<cv::Des3Encryptor>(module, "Des3Encryptor",
                                  "Triple-DES encryption of a message given in pieces; the joined output is "
                                  "des3_encrypt of the whole message.");
    bindStream<cv::Des3Decryptor>(module, "Des3Decryptor",
                                  "Triple-DES decryption of a message given in pieces; the last block is held "
                                  "back until finish(), which checks the padding.");

    module.attr("DES3_DEFAULT_ITERATIONS") = cv::kDes3DefaultIterations;
    module.def(
        "des3_encrypt_with_passphrase",
        [](cv::ByteView data, PassphraseArg passphrase, unsigned iterations, const std::string& digest,
           std::optional<py::bytes> salt) {
            if (!passphrase.given) throw py::type_error("a passphrase is required");
            std::optional<cv::Des3Salt> fixedSalt;
            if (salt) {
                std::string_view given = *salt;
                if (given.size() != cv::kDes3SaltSize) throw py::value_error("the salt must be 8 bytes");
                fixedSalt.emplace();
                std::copy(given.begin(), given.end(), fixedSalt->begin());
            }
            std::vector<std::uint8_t> sealed;
            {
                py::gil_scoped_release released;
                sealed = fixedSalt ? cv::des3EncryptWithPassphrase(data, passphrase.text, *fixedSalt, iterations,
                                                                   digest)
                                   : cv::des3EncryptWithPassphrase(data, passphrase.text, iterations,
                                                                   digest);
            }
            return toBytes(sealed);
        },
        py::arg("data"), py::arg("passphrase"), py::kw_only(), py::arg("iterations") = cv::kDes3DefaultIterations,
        py::arg("digest") = std::string(cv::kDes3DefaultDigest), py::arg("salt") = py::none(),
        "'Salted__', an 8-byte salt (random unless given: a fixed salt is for known answers only) and the "
        "ciphertext under a key and IV derived by PBKDF2, as `openssl enc -des-ede3-cbc -pbkdf2` writes them. "
        "The passphrase is str (UTF-8) or bytes-like.");
    module.def(
        "des3_decrypt_with_passphrase",
        [](cv::ByteView data, PassphraseArg passphrase, unsigned iterations, const std::string& digest) {
            if (!passphrase.given) throw py::type_error("a passphrase is required");
            std::vector<std::uint8_t> plain;
            {
                py::gil_scoped_release released;
                plain = cv::des3DecryptWithPassphrase(data, passphrase.text, iterations, digest);
            }
            return toBytes(plain);
        },
        py::arg("data"), py::arg("passphrase"), py::kw_only(), py::arg("iterations") = cv::kDes3DefaultIterations,
        py::arg("digest") = std::string(cv::kDes3DefaultDigest),
        "The plaintext of what des3_encrypt_with_passphrase or openssl wrote. corvane.Error: INVALID_INPUT "
        "without the 'Salted__' header, DECRYPTION_REFUSED for a wrong passphrase, iteration count or digest.");
}

}  // namespace corvane::python
