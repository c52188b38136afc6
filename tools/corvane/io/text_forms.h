// What bytes look like, for the checks that catch a wrong form before
// anything is written: Base64 text given where --raw expects bytes, and a
// binary result about to reach a terminal.
#ifndef CORVANE_TOOL_TEXT_FORMS_H
#define CORVANE_TOOL_TEXT_FORMS_H

#include <cstddef>
#include <cstdint>
#include <span>

#include "tools/corvane/io/chunked_io.h"

namespace corvane::tool {

// Whether every byte may stand in standard Base64 text: the alphabet, "="
// and ASCII whitespace.
bool looksLikeBase64Text(std::span<const std::uint8_t> bytes);

// Whether a terminal shows the bytes as the text they are: printable ASCII,
// tab, line feed, carriage return, and well-formed UTF-8 beyond ASCII (C1
// controls, which terminals may obey, excepted). No other control byte
// passes, escape included. With more, the bytes are only the beginning and
// may end inside a character.
bool isDisplayableText(std::span<const std::uint8_t> bytes, bool more = false);

// The first stage of a chain that reads bytes (--raw): refuses, before
// passing anything on, an input that is Base64 text. Judged on the first
// 64 bytes: all of them Base64 text says text (random bytes pass that test
// with odds below 2^-120); a shorter input is judged text only when its
// length rules out bytes (it is not a multiple of unit, the cipher's
// block) and it decodes as Base64.
class RawInputCheck final : public HeadCheck {
public:
    RawInputCheck(std::size_t unit, ByteSink& out);

private:
    void judge(std::span<const std::uint8_t> head, bool whole) override;

    std::size_t unit_;
};

}  // namespace corvane::tool

#endif
