// Envelopes: a triple-DES key wrapped under RSA and a payload encrypted
// under it, opened and sealed in one call each, and in batches.
#include <pybind11/stl.h>

#include "python/src/conversions.h"

namespace corvane::python {

namespace {

// corvane.Envelope, the named pair (wrapped_key, payload).
py::object* envelopeType = nullptr;

cv::Des3KeyForm keyFormOf(bool hexKey) { return hexKey ? cv::Des3KeyForm::hexText : cv::Des3KeyForm::bytes; }

py::object toEnvelope(cv::Envelope& envelope) {
    return (*envelopeType)(toBytes(envelope.wrappedKey), toBytes(envelope.payload));
}

// Every (wrapped key, payload) pair of an iterable, held for the call.
class HeldEnvelopes {
public:
    explicit HeldEnvelopes(py::handle envelopes) {
        for (py::handle pair : py::iter(envelopes)) {
            py::sequence fields = py::reinterpret_borrow<py::sequence>(pair);
            if (!py::isinstance<py::sequence>(pair) || PyUnicode_Check(pair.ptr()) || fields.size() != 2)
                throw py::type_error("each envelope must be a (wrapped_key, payload) pair of bytes-like objects");
            held_.emplace_back(fields[0], false);
            held_.emplace_back(fields[1], false);
        }
        for (std::size_t i = 0; i < held_.size(); i += 2) views_.push_back({held_[i].view(), held_[i + 1].view()});
    }
    std::span<const cv::EnvelopeView> views() const noexcept { return views_; }

private:
    std::vector<HeldBuffer> held_;
    std::vector<cv::EnvelopeView> views_;
};

}  // namespace

void bindEnvelopes(py::module_& module) {
    envelopeType = new py::object(py::module_::import("corvane._envelope").attr("Envelope"));

    module.def(
        "open_envelope",
        [](const cv::RsaPrivateKey& key, cv::ByteView wrappedKey, cv::ByteView payload) {
            std::vector<std::uint8_t> plain;
            {
                py::gil_scoped_release released;
                plain = cv::openEnvelope(key, wrappedKey, payload);
            }
            return toBytes(plain);
        },
        py::arg("key"), py::arg("wrapped_key"), py::arg("payload"),
        "The plaintext of an envelope. corvane.Error (ENVELOPE_REFUSED) for every failure, whichever step "
        "failed: the wrapped key's length or padding, or the payload's.");
    module.def(
        "open_envelopes",
        [](const cv::RsaPrivateKey& key, py::handle envelopes) {
            HeldEnvelopes held(envelopes);
            std::vector<cv::BatchResult> results;
            {
                py::gil_scoped_release released;
                results = cv::openEnvelopes(key, held.views());
            }
            return batchResults(results);
        },
        py::arg("key"), py::arg("envelopes"),
        "open_envelope of each (wrapped_key, payload) pair, the wrapped keys unwrapped together: per item the "
        "plaintext, or the corvane.Error (ENVELOPE_REFUSED) it met, in order.");
    module.def(
        "seal_envelope",
        [](const cv::RsaPublicKey& key, cv::ByteView message, bool hexKey) {
            cv::Envelope envelope;
            {
                py::gil_scoped_release released;
                envelope = cv::sealEnvelope(key, message, keyFormOf(hexKey));
            }
            return toEnvelope(envelope);
        },
        py::arg("key"), py::arg("message"), py::kw_only(), py::arg("hex_key") = false,
        "A new Envelope(wrapped_key, payload) of the message under a new 24-byte key (hex_key=True: 24 upper-case "
        "hexadecimal characters, for peers that treat the key as text; weaker, 75 bits).");
    module.def(
        "seal_envelopes",
        [](const cv::RsaPublicKey& key, py::handle messages, bool hexKey) {
            HeldBuffers held(messages);
            std::vector<cv::Envelope> envelopes;
            {
                py::gil_scoped_release released;
                cv::RandomPool pool;
                envelopes = cv::sealEnvelopes(key, held.views(), pool, keyFormOf(hexKey));
            }
            py::list list;
            for (cv::Envelope& envelope : envelopes) list.append(toEnvelope(envelope));
            return list;
        },
        py::arg("key"), py::arg("messages"), py::kw_only(), py::arg("hex_key") = false,
        "seal_envelope of each message, in order.");
}

}  // namespace corvane::python
