// Helpers shared by the sources of the modern layer. Internal: not
// installed, not exported.
#ifndef CORVANE_MODERN_SUPPORT_H
#define CORVANE_MODERN_SUPPORT_H

#include <Corvane/corvane.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

namespace corvane::detail {

// Throws corvane::v1::Error carrying the code.
[[noreturn]] void throwError(std::error_code code);
// Likewise, with a detail for what() (see v1::Error).
[[noreturn]] void throwError(std::error_code code, const std::string& detail);

// Throws invalidInput, with both sizes in the message, when an output of
// have bytes cannot hold the need bytes an operation may write.
void checkRoom(std::size_t have, std::size_t need);

inline void throwIfError(const std::error_code& code) {
    if (code) throwError(code);
}

// A valid pointer for an empty input that came as null, since the legacy
// functions copy from their input pointer even for a length of 0.
inline const std::uint8_t* bytesOrEmpty(const v1::ByteView& view) noexcept {
    static const std::uint8_t kNoBytes[1] = {0};
    return view.data() != nullptr ? view.data() : kNoBytes;
}

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_SUPPORT_H
