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

cv::EnvelopeOpening envelopeOpeningOf(bool archive, bool textKeys) {
    if (textKeys && !archive)
        throw std::system_error(make_error_code(ErrorCode::invalidInput),
                                "text_keys=True goes with archive=True: checking the unwrapped key of a uniform "
                                "refusal would tell a substitute from a real key");
    return {archive ? cv::EnvelopeRefusal::archive : cv::EnvelopeRefusal::uniform, textKeys};
}

void bindEnvelopes(py::module_& module) {
    envelopeType = new py::object(py::module_::import("corvane._envelope").attr("Envelope"));

    module.def(
        "open_envelope",
        [](const cv::RsaPrivateKey& key, cv::ByteView wrappedKey, cv::ByteView payload, bool archive,
           bool textKeys) {
            const cv::EnvelopeOpening opening = envelopeOpeningOf(archive, textKeys);
            std::vector<std::uint8_t> plain;
            std::error_code error;
            {
                py::gil_scoped_release released;
                plain = cv::openEnvelope(key, wrappedKey, payload, opening, error);
            }
            if (error) throw std::system_error(error);
            return toBytes(plain);
        },
        py::arg("key"), py::arg("wrapped_key"), py::arg("payload"), py::kw_only(), py::arg("archive") = false,
        py::arg("text_keys") = false,
        "The plaintext of an envelope. corvane.Error (ENVELOPE_REFUSED) for every failure, whichever step "
        "failed: the wrapped key's length or padding, or the payload's. archive=True, for stored records that "
        "no sender sees the answers for, refuses a wrapped key that does not unpad instead of substituting one "
        "(so a wrong key gives no garbage), each refusal with its own code (ENVELOPE_MALFORMED, "
        "ENVELOPE_KEY_REFUSED, ENVELOPE_PADDING_REFUSED; ENVELOPE_KEY_NOT_TEXT with text_keys=True, for "
        "archives whose keys are 24 hexadecimal characters). Never use it where senders learn the outcome.");
    module.def(
        "open_envelopes",
        [](const cv::RsaPrivateKey& key, py::handle envelopes, bool archive, bool textKeys) {
            const cv::EnvelopeOpening opening = envelopeOpeningOf(archive, textKeys);
            HeldEnvelopes held(envelopes);
            std::vector<cv::BatchResult> results;
            {
                py::gil_scoped_release released;
                results = cv::openEnvelopes(key, held.views(), opening);
            }
            return batchResults(results);
        },
        py::arg("key"), py::arg("envelopes"), py::kw_only(), py::arg("archive") = false, py::arg("text_keys") = false,
        "open_envelope of each (wrapped_key, payload) pair, the wrapped keys unwrapped together: per item the "
        "plaintext, or the corvane.Error (ENVELOPE_REFUSED; with archive=True the refusal's own code) it met, "
        "in order. archive and text_keys as for open_envelope.");
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
