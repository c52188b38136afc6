// corvane._corvane: the library's modern layer for Python. It converts
// arguments and results and releases the GIL around library calls; every
// operation is the library's own (see <Corvane/corvane.hpp>).
#include "python/src/conversions.h"

PYBIND11_MODULE(_corvane, module) {
    using namespace corvane::python;
    module.doc() = "Corvane's modern layer: MD5, Base64, hexadecimal, triple DES, RSA PKCS #1 v1.5, envelopes.";
    registerErrors(module);
    bindDigest(module);
    bindCoding(module);
    bindDes3(module);
    bindRsa(module);
    bindEnvelopes(module);
    bindEnvelopeLines(module);
}
