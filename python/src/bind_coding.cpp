// Base64 (both alphabets, padded or not, one-shot and streaming) and
// hexadecimal text.
#include "python/src/conversions.h"

namespace corvane::python {

namespace {

cv::Base64Alphabet alphabetOf(bool websafe) {
    return websafe ? cv::Base64Alphabet::webSafe : cv::Base64Alphabet::standard;
}
cv::Base64Padding paddingOf(bool padded) { return padded ? cv::Base64Padding::padded : cv::Base64Padding::unpadded; }

py::bytes base64Encode(cv::ByteView data, bool websafe, bool padded) {
    OutputBytes out(cv::base64EncodedSize(data.size(), paddingOf(padded)));
    std::size_t written = 0;
    {
        GilReleasedIf released(data.size() > kReleaseGilAbove);
        written = cv::base64Encode(data, out.span<char>(), alphabetOf(websafe), paddingOf(padded));
    }
    return out.finish(written);
}

py::bytes base64Decode(TextArg text, bool websafe, bool padded) {
    OutputBytes out(cv::base64DecodedCapacity(text.bytes.size()));
    std::size_t written = 0;
    {
        GilReleasedIf released(text.bytes.size() > kReleaseGilAbove);
        written = cv::base64Decode(text.bytes, out.span<std::uint8_t>(), alphabetOf(websafe), paddingOf(padded));
    }
    return out.finish(written);
}

std::string_view asText(cv::ByteView bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

template <typename Coder>
void bindStreamCommon(py::class_<Locked<Coder>>& coder) {
    coder.def(
        "reset", [](Locked<Coder>& self) { self.run(0, [](Coder& c) { c.reset(); }); },
        "Drops a message under way; held bytes are wiped.");
}

}  // namespace

void bindCoding(py::module_& module) {
    module.def("base64_encode", &base64Encode, py::arg("data"), py::kw_only(), py::arg("websafe") = false,
               py::arg("padded") = true,
               "The Base64 text of the bytes, as bytes without line breaks; websafe takes '-' and '_' for '+' "
               "and '/', padded=False writes no '='.");
    module.def("base64_decode", &base64Decode, py::arg("text"), py::kw_only(), py::arg("websafe") = false,
               py::arg("padded") = true,
               "The bytes of Base64 text (str or bytes-like). Whitespace is skipped and a NUL ends the text; "
               "with padded=True the text must be whole groups or correctly padded. corvane.Error "
               "(INVALID_INPUT) for text that breaks the rules, naming the offset.");

    using Encoder = Locked<cv::Base64Encoder>;
    py::class_<Encoder> encoder(module, "Base64Encoder",
                                "Base64 of a message given in pieces: the joined output of update() and "
                                "finish() is base64_encode of the whole message (with a line feed after every "
                                "line_width characters and after the last line, when line_width is not 0).");
    encoder
        .def(py::init([](bool websafe, bool padded, std::size_t lineWidth) {
                 return std::make_unique<Encoder>(alphabetOf(websafe), paddingOf(padded), lineWidth);
             }),
             py::kw_only(), py::arg("websafe") = false, py::arg("padded") = true, py::arg("line_width") = 0)
        .def(
            "update",
            [](Encoder& self, cv::ByteView data) {
                std::string text = self.run(data.size(), [&](cv::Base64Encoder& e) { return e.update(data); });
                return py::bytes(text);
            },
            py::arg("data"), "The text of the whole groups completed.")
        .def(
            "finish",
            [](Encoder& self) {
                return py::bytes(self.run(0, [](cv::Base64Encoder& e) { return e.finish(); }));
            },
            "The rest of the text; the encoder is then ready for the next message.");
    bindStreamCommon(encoder);

    using Decoder = Locked<cv::Base64Decoder>;
    py::class_<Decoder> decoder(module, "Base64Decoder",
                                "Base64 text given in pieces: the joined output of update() and finish() is "
                                "base64_decode of the whole text, and refusals are the same (raised by the "
                                "update() that settles them, or by finish()).");
    decoder
        .def(py::init([](bool websafe, bool padded) {
                 return std::make_unique<Decoder>(alphabetOf(websafe), paddingOf(padded));
             }),
             py::kw_only(), py::arg("websafe") = false, py::arg("padded") = true)
        .def(
            "update",
            [](Decoder& self, TextArg text) {
                return toBytes(
                    self.run(text.bytes.size(), [&](cv::Base64Decoder& d) { return d.update(text.bytes); }));
            },
            py::arg("text"), "The bytes of the whole groups completed.")
        .def(
            "finish",
            [](Decoder& self) { return toBytes(self.run(0, [](cv::Base64Decoder& d) { return d.finish(); })); },
            "The last bytes; the decoder is then ready for the next message.");
    bindStreamCommon(decoder);

    module.def(
        "hex_encode",
        [](cv::ByteView data, bool upper) {
            std::string text;
            {
                GilReleasedIf released(data.size() > kReleaseGilAbove);
                text = cv::hexEncode(data, upper ? cv::HexCase::upper : cv::HexCase::lower);
            }
            return py::str(text);
        },
        py::arg("data"), py::kw_only(), py::arg("upper") = false,
        "Two hexadecimal digits a byte, high digit first, as bytes.hex() writes them.");
    module.def(
        "hex_decode",
        [](TextArg text, bool skipWhitespace) {
            std::vector<std::uint8_t> bytes;
            {
                GilReleasedIf released(text.bytes.size() > kReleaseGilAbove);
                bytes = cv::hexDecode(asText(text.bytes),
                                      skipWhitespace ? cv::HexWhitespace::skip : cv::HexWhitespace::reject);
            }
            return toBytes(bytes);
        },
        py::arg("text"), py::kw_only(), py::arg("skip_whitespace") = false,
        "The bytes of hexadecimal text of either case. corvane.Error (INVALID_INPUT) for an odd count of "
        "digits or another character (whitespace too, unless skipped), naming its offset.");
}

}  // namespace corvane::python
