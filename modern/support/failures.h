// Helpers shared by the sources of the modern layer. Internal: not
// installed, not exported.
#ifndef CORVANE_MODERN_SUPPORT_H
#define CORVANE_MODERN_SUPPORT_H

#include <Corvane/modern/bytes.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <new>
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

// Fills info with the code and the message an Error of that code and
// detail would give (the code's meaning alone without a detail); a message
// that cannot be allocated is left empty, the code is kept.
void report(v1::ErrorInfo& info, std::error_code code, const std::string& detail = {}) noexcept;

// Runs call, a throwing form, and reports its failure in info instead: the
// Error's code and what(), outOfMemory for an allocation that failed.
// Returns what call returned, or a value-initialised result on failure.
template <typename Call>
auto reportInto(v1::ErrorInfo& info, Call&& call) noexcept -> decltype(call()) {
    info.clear();
    try {
        return call();
    } catch (const std::system_error& e) {
        info.code = e.code();
        try {
            info.message = e.what();
        } catch (...) {
        }
    } catch (const std::bad_alloc&) {
        info.code = ErrorCode::outOfMemory;
    }
    return {};
}

// A valid pointer for an empty input that came as null, since the legacy
// functions copy from their input pointer even for a length of 0.
inline const std::uint8_t* bytesOrEmpty(const v1::ByteView& view) noexcept {
    static const std::uint8_t kNoBytes[1] = {0};
    return view.data() != nullptr ? view.data() : kNoBytes;
}

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_SUPPORT_H
