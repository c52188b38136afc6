// The tool's text form of an envelope: one line of two Base64 fields, the
// wrapped key and the payload, separated by spaces or tabs (what `envelope
// seal` writes and `envelope open` reads).
#ifndef CORVANE_TOOL_ENVELOPE_LINE_H
#define CORVANE_TOOL_ENVELOPE_LINE_H

#include <Corvane/corvane.hpp>

#include <optional>
#include <string>

namespace corvane::tool {

// The two fields of an envelope line: the wrapped key, a run of spaces or
// tabs, the payload, each in standard Base64 (by base64Decode's rules). The
// line has no line end (the line reader drops it). nullopt for any other
// line: one field or three, a field that is not Base64 or that decodes to no
// bytes (whitespace alone).
std::optional<v1::Envelope> parseEnvelopeLine(const std::string& line);

}  // namespace corvane::tool

#endif
