// The check every key reader makes of its KeyReadOptions before it reads
// anything: a limit outside 1 to kMaxKeyIterationLimit is the caller's
// mistake, refused as invalidInput whatever the key turns out to be, so
// that it shows on the first call and not only once an encrypted key comes.
#ifndef CORVANE_MODERN_KEYS_READ_OPTIONS_H
#define CORVANE_MODERN_KEYS_READ_OPTIONS_H

#include <Corvane/keys.h>

#include "platform/secure_zero.h"

namespace corvane::detail {

// The detail names the range by its digits; it must follow the constant.
static_assert(kMaxKeyIterationLimit == 2'147'483'647);
inline constexpr const char* kIterationLimitRange = "the iteration limit must be 1 to 2147483647";

inline bool readOptionsUsable(const KeyReadOptions& options) noexcept {
    return options.maxIterations >= 1 && options.maxIterations <= kMaxKeyIterationLimit;
}

// The outcome of a read refused for its options (record zeroed, as every
// refusal leaves it), or no error when the options are usable.
template <typename Record>
KeyStatus refusalOfReadOptions(const KeyReadOptions& options, Record& key) noexcept {
    KeyStatus status;
    if (readOptionsUsable(options)) return status;
    secure_zero_object(key);
    status.error = ErrorCode::invalidInput;
    status.detail = kIterationLimitRange;
    return status;
}

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_KEYS_READ_OPTIONS_H
