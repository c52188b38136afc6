// RSA PKCS #1 v1.5 keys: reading and writing them, the block operations
// and their batches.
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <type_traits>

#include "platform/secure_zero.h"
#include "python/src/conversions.h"

namespace corvane::python {

namespace {

RsaKeyFormat formatOf(bool pkcs1) { return pkcs1 ? RsaKeyFormat::pkcs1 : RsaKeyFormat::standard; }
cv::RsaRejection rejectionOf(bool implicit) {
    return implicit ? cv::RsaRejection::implicit : cv::RsaRejection::report;
}

// The iteration count of an encrypted key refused for it, read again with no
// passphrase (the refusal comes before the passphrase is asked for, in
// microseconds); nothing when the second reading disagrees (a file changed
// in between). The scratch record is wiped: it holds a key if the file
// turned into a plain one meanwhile.
std::optional<std::uint32_t> costlyCount(const KeyStatus& status) {
    if (status.error != ErrorCode::keyTooCostly) return std::nullopt;
    return status.iterations;
}
std::optional<std::uint32_t> costlyCountOf(cv::ByteView encoded, const KeyReadOptions& options) {
    R_RSA_PRIVATE_KEY scratch;
    const KeyStatus status = loadRsaPrivateKey(encoded.span(), scratch, KeyPassphrase(), options);
    secure_zero_object(scratch);
    return costlyCount(status);
}
std::optional<std::uint32_t> costlyCountOf(const std::string& path, const KeyReadOptions& options) {
    R_RSA_PRIVATE_KEY scratch;
    const KeyStatus status = loadRsaPrivateKeyFile(path.c_str(), scratch, KeyPassphrase(), options);
    secure_zero_object(scratch);
    return costlyCount(status);
}

// One read, with the GIL released (an encrypted key's derivation and the
// private key's checks take milliseconds). A key refused for its iteration
// count raises corvane.Error with the count as .iterations, as KeyStatus
// tells it in C++.
template <typename Key, typename Source>
Key readKey(const Source& source, PassphraseArg passphrase, const KeyReadOptions& options) {
    std::optional<cv::Error> refused;
    std::optional<std::uint32_t> iterations;
    {
        py::gil_scoped_release released;
        try {
            if constexpr (std::is_same_v<Source, std::string>)
                return Key::fromFile(source, passphrase.keyPassphrase(), options);
            else
                return Key::fromEncoded(source, passphrase.keyPassphrase(), options);
        } catch (const cv::Error& error) {
            if (error.code() != ErrorCode::keyTooCostly) throw;
            refused.emplace(error);
            iterations = costlyCountOf(source, options);
        }
    }
    raiseError(*refused, iterations);
}

template <typename Key>
Key fromFile(const PathArg& path, PassphraseArg passphrase, const IterationLimitArg& limit) {
    try {
        return readKey<Key>(path.path, passphrase, limit.options);
    } catch (const std::system_error& error) {
        const std::error_code code = error.code();
        if (code.category() != std::generic_category() && code.category() != std::system_category()) throw;
        // OSError(errno, strerror, filename): Python picks the subclass
        // (FileNotFoundError, PermissionError, ...) and keeps the path in
        // .filename, as open() does.
        py::object name = py::reinterpret_steal<py::object>(
            PyUnicode_DecodeFSDefaultAndSize(path.path.data(), static_cast<Py_ssize_t>(path.path.size())));
        if (!name) throw py::error_already_set();
        py::object raised =
            py::reinterpret_borrow<py::object>(PyExc_OSError)(code.value(), code.message(), name);
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(raised.ptr())), raised.ptr());
        throw py::error_already_set();
    }
}

template <typename Key>
Key fromEncoded(cv::ByteView encoded, PassphraseArg passphrase, const IterationLimitArg& limit) {
    return readKey<Key>(encoded, passphrase, limit.options);
}

// One block operation of a key, with the GIL released.
template <typename Key, typename Operation>
py::bytes blockOperation(const Key& key, cv::ByteView input, Operation operation) {
    std::vector<std::uint8_t> result;
    {
        py::gil_scoped_release released;
        result = operation(key, input);
    }
    return toBytes(result);
}

// A batch call on the items' views, with the GIL released.
template <typename Operation>
py::list batch(py::handle items, Operation operation) {
    HeldBuffers held(items);
    std::vector<cv::BatchResult> results;
    {
        py::gil_scoped_release released;
        results = operation(held.views());
    }
    return batchResults(results);
}

// What the readers' docstrings say of the limit.
#define CORVANE_ITERATION_LIMIT_DOC                                                                         \
    " An encrypted key whose passphrase derivation runs more than max_iterations iterations (1 to "         \
    "2147483647, default 1000000: about 0.3 s of one core) is refused before the passphrase is used: "      \
    "corvane.Error KEY_TOO_COSTLY, whose .iterations is the file's count. A service that loads keys it is " \
    "sent can set a lower limit; a limit outside the range raises corvane.Error INVALID_INPUT."

// What both key classes have alike.
template <typename Key>
void bindKeyCommon(py::class_<Key>& key, const char* kind) {
    key.def_static("from_file", &fromFile<Key>, py::arg("path"), py::arg("passphrase") = py::none(),
                   py::kw_only(), py::arg("max_iterations") = kDefaultMaxKeyIterations,
                   "The key in a PEM or DER file; the passphrase (str or bytes) serves an encrypted private "
                   "key." CORVANE_ITERATION_LIMIT_DOC)
        .def_static(
            "from_pem",
            [](TextArg pem, PassphraseArg passphrase, const IterationLimitArg& limit) {
                return fromEncoded<Key>(pem.bytes, passphrase, limit);
            },
            py::arg("pem"), py::arg("passphrase") = py::none(), py::kw_only(),
            py::arg("max_iterations") = kDefaultMaxKeyIterations,
            "The key in PEM text (str or bytes)." CORVANE_ITERATION_LIMIT_DOC)
        .def_static("from_der", &fromEncoded<Key>, py::arg("der"), py::arg("passphrase") = py::none(),
                    py::kw_only(), py::arg("max_iterations") = kDefaultMaxKeyIterations,
                    "The key in DER bytes." CORVANE_ITERATION_LIMIT_DOC)
        .def_property_readonly("bits", &Key::bits, "The modulus's bit count.")
        .def_property_readonly("block_size", &Key::blockSize, "The length of every block, in bytes.")
        .def_property_readonly("max_message_size", &Key::maxMessageSize,
                               "The longest message a block holds: block_size - 11.")
        .def("__repr__", [kind](const Key& self) {
            return std::string("<corvane.") + kind + " of " + std::to_string(self.bits()) + " bits>";
        });
}
#undef CORVANE_ITERATION_LIMIT_DOC

}  // namespace

void bindRsa(py::module_& module) {
    module.attr("DEFAULT_MAX_KEY_ITERATIONS") = kDefaultMaxKeyIterations;
    module.attr("MAX_KEY_ITERATION_LIMIT") = kMaxKeyIterationLimit;
    py::class_<cv::RsaPublicKey> publicKey(module, "RsaPublicKey",
                                           "An RSA public key of 96 to 1024 bits. Kept for interoperability: "
                                           "not recommended for new designs.");
    bindKeyCommon(publicKey, "RsaPublicKey");
    publicKey
        .def_static(
            "from_hex",
            [](const std::string& modulus, const std::string& exponent) {
                return cv::RsaPublicKey::fromHex(modulus, exponent);
            },
            py::arg("modulus"), py::arg("exponent"), "The two hexadecimal texts the legacy RSA class takes.")
        .def(
            "to_hex",
            [](const cv::RsaPublicKey& self) {
                RsaHexKey hex = self.toHex();
                return py::make_tuple(hex.modulus, hex.exponent);
            },
            "(modulus, exponent) as upper-case hexadecimal texts.")
        .def(
            "to_pem", [](const cv::RsaPublicKey& self, bool pkcs1) { return self.toPem(formatOf(pkcs1)); },
            py::kw_only(), py::arg("pkcs1") = false,
            "'PUBLIC KEY' PEM text, or 'RSA PUBLIC KEY' with pkcs1=True.")
        .def(
            "to_der", [](const cv::RsaPublicKey& self, bool pkcs1) { return toBytes(self.toDer(formatOf(pkcs1))); },
            py::kw_only(), py::arg("pkcs1") = false, "The same structures as DER bytes.")
        .def(
            "encrypt",
            [](const cv::RsaPublicKey& self, cv::ByteView message) {
                return blockOperation(self, message, [](const auto& key, cv::ByteView in) { return key.encrypt(in); });
            },
            py::arg("message"), "One type-2 block over the message (random non-zero filler).")
        .def(
            "recover",
            [](const cv::RsaPublicKey& self, cv::ByteView signature) {
                return blockOperation(self, signature,
                                      [](const auto& key, cv::ByteView in) { return key.recover(in); });
            },
            py::arg("signature"), "The message of a type-1 block that RsaPrivateKey.sign made.")
        .def(
            "encrypt_batch",
            [](const cv::RsaPublicKey& self, py::handle messages) {
                return batch(messages,
                             [&](std::span<const cv::ByteView> views) { return self.encryptBatch(views); });
            },
            py::arg("messages"), "encrypt() of each message: per item the block, or the corvane.Error it met.")
        .def(py::pickle([](const cv::RsaPublicKey& self) { return toBytes(self.toDer()); },
                        [](const py::bytes& der) { return cv::RsaPublicKey::fromEncoded(std::string_view(der)); }));

    py::class_<cv::RsaPrivateKey> privateKey(module, "RsaPrivateKey",
                                             "An RSA private key (two primes, CRT form) of 96 to 1024 bits, checked "
                                             "when read. Not picklable: load it where it is used.");
    bindKeyCommon(privateKey, "RsaPrivateKey");
    privateKey
        .def_static(
            "generate",
            [](unsigned bits) {
                py::gil_scoped_release released;
                cv::RandomPool pool;
                return cv::RsaPrivateKey::generate(bits, pool);
            },
            py::arg("bits") = 1024,
            "A new key of bits bits (512 to 1024) and public exponent 65537, its primes from a random pool "
            "seeded from the operating system.")
        .def("public_key", &cv::RsaPrivateKey::publicKey, "The public half.")
        .def(
            "to_pem",
            [](const cv::RsaPrivateKey& self, bool pkcs1, PassphraseArg passphrase) {
                std::string pem = self.toPem(formatOf(pkcs1), passphrase.text);
                py::str text(pem);
                secure_zero(pem.data(), pem.size());
                return text;
            },
            py::kw_only(), py::arg("pkcs1") = false, py::arg("passphrase") = py::none(),
            "'PRIVATE KEY' PEM text ('RSA PRIVATE KEY' with pkcs1=True), encrypted with AES-256-CBC under a "
            "non-empty passphrase. A secret.")
        .def(
            "to_der",
            [](const cv::RsaPrivateKey& self, bool pkcs1, PassphraseArg passphrase) {
                return toBytes(self.toDer(formatOf(pkcs1), passphrase.text));
            },
            py::kw_only(), py::arg("pkcs1") = false, py::arg("passphrase") = py::none(),
            "The same as DER bytes (a passphrase suits the standard format only). A secret.")
        .def(
            "decrypt",
            [](const cv::RsaPrivateKey& self, cv::ByteView block, bool implicitRejection) {
                std::vector<std::uint8_t> message;
                {
                    py::gil_scoped_release released;
                    message = self.decrypt(block, rejectionOf(implicitRejection));
                }
                return toBytes(message);
            },
            py::arg("block"), py::kw_only(), py::arg("implicit_rejection") = false,
            "The message of a type-2 block. corvane.Error: BAD_DATA for a block that is not one (with "
            "implicit_rejection=True: a substitute message instead, derived from the block and the key, as "
            "OpenSSL 3.2 and later give it; what a service facing clients should use), BAD_LENGTH for one "
            "longer than block_size.")
        .def(
            "decrypt_key",
            [](const cv::RsaPrivateKey& self, cv::ByteView block, std::size_t keySize) {
                std::vector<std::uint8_t> key;
                {
                    py::gil_scoped_release released;
                    key = self.decryptKey(block, keySize);
                }
                return toBytes(key);
            },
            py::arg("block"), py::arg("key_size"),
            "Exactly key_size bytes: the message of a well-formed block of that length, otherwise a substitute "
            "no one without the key can tell from it; never an error for the padding. corvane.Error only for "
            "what anyone can see: BAD_LENGTH (the block's length), BAD_DATA (its value), INVALID_INPUT (the size).")
        .def(
            "sign",
            [](const cv::RsaPrivateKey& self, cv::ByteView message) {
                return blockOperation(self, message, [](const auto& key, cv::ByteView in) { return key.sign(in); });
            },
            py::arg("message"), "One type-1 block over the message, signed as given.")
        .def(
            "decrypt_batch",
            [](const cv::RsaPrivateKey& self, py::handle blocks, bool implicitRejection) {
                return batch(blocks, [&](std::span<const cv::ByteView> views) {
                    return self.decryptBatch(views, rejectionOf(implicitRejection));
                });
            },
            py::arg("blocks"), py::kw_only(), py::arg("implicit_rejection") = false,
            "decrypt() of each block: per item the message, or the corvane.Error it met.")
        .def(
            "decrypt_key_batch",
            [](const cv::RsaPrivateKey& self, py::handle blocks, std::size_t keySize) {
                return batch(blocks, [&](std::span<const cv::ByteView> views) {
                    return self.decryptKeyBatch(views, keySize);
                });
            },
            py::arg("blocks"), py::arg("key_size"),
            "decrypt_key() of each block: per item the key, or the corvane.Error it met.")
        .def(
            "sign_batch",
            [](const cv::RsaPrivateKey& self, py::handle messages) {
                return batch(messages,
                             [&](std::span<const cv::ByteView> views) { return self.signBatch(views); });
            },
            py::arg("messages"), "sign() of each message: per item the block, or the corvane.Error it met.")
        .def("__reduce_ex__", [](const cv::RsaPrivateKey&, py::handle) -> py::object {
            throw py::type_error("an RsaPrivateKey is not picklable: load the key where it is used");
        });
}

}  // namespace corvane::python
