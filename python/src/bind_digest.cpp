// MD5 with the interface of Python's hashlib objects.
#include "python/src/conversions.h"

namespace corvane::python {

namespace {

using LockedMd5 = Locked<cv::Md5>;

cv::Md5::Digest digestOf(LockedMd5& hash) {
    return hash.run(0, [](cv::Md5& md5) { return md5.digest(); });
}

void update(LockedMd5& hash, cv::ByteView data) {
    hash.run(data.size(), [&](cv::Md5& md5) { md5.update(data); });
}

}  // namespace

void bindDigest(py::module_& module) {
    py::class_<LockedMd5>(module, "Md5",
                          "An MD5 hash object with hashlib's interface. MD5 is kept for interoperability; "
                          "it is broken for collision resistance.")
        .def("update", &update, py::arg("data"), "Hashes the bytes; any number of calls.")
        .def(
            "digest",
            [](LockedMd5& hash) {
                cv::Md5::Digest digest = digestOf(hash);
                return py::bytes(reinterpret_cast<const char*>(digest.data()), digest.size());
            },
            "The 16-byte digest of everything hashed so far; more data may follow.")
        .def(
            "hexdigest", [](LockedMd5& hash) { return cv::hexEncode(digestOf(hash)); },
            "The digest as 32 lower-case hexadecimal digits.")
        .def(
            "copy",
            [](LockedMd5& hash) {
                return hash.run(0, [](cv::Md5& md5) { return std::make_unique<LockedMd5>(md5); });
            },
            "An independent hash object in the same state.")
        .def_property_readonly("name", [](const LockedMd5&) { return "md5"; })
        .def_property_readonly("digest_size", [](const LockedMd5&) { return 16; })
        .def_property_readonly("block_size", [](const LockedMd5&) { return 64; });

    module.def(
        "md5",
        [](cv::ByteView data, bool) {
            auto hash = std::make_unique<LockedMd5>();
            update(*hash, data);
            return hash;
        },
        py::arg("data") = py::bytes(), py::kw_only(), py::arg("usedforsecurity") = true,
        "A new MD5 hash object, as hashlib.md5 makes one (usedforsecurity is accepted and ignored).");
}

}  // namespace corvane::python
