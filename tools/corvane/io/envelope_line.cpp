#include "tools/corvane/io/envelope_line.h"

namespace corvane::tool {

// The library's reading, so that the tool and the Python archive jobs (which
// call the same function) take every line alike.
std::optional<v1::Envelope> parseEnvelopeLine(const std::string& line) { return v1::parseEnvelopeLine(line); }

}  // namespace corvane::tool
