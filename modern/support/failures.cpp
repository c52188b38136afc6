#include "modern/support/failures.h"

namespace corvane {

namespace v1 {

Error::Error(std::error_code code) : std::system_error(code) {}
Error::Error(ErrorCode code) : std::system_error(make_error_code(code)) {}
Error::Error(std::error_code code, const std::string& detail) : std::system_error(code, detail) {}
Error::Error(ErrorCode code, const std::string& detail) : std::system_error(make_error_code(code), detail) {}
Error::~Error() = default;

}  // namespace v1

void detail::throwError(std::error_code code) { throw v1::Error(code); }

void detail::throwError(std::error_code code, const std::string& detail) {
    if (detail.empty()) throw v1::Error(code);
    throw v1::Error(code, detail);
}
void detail::report(v1::ErrorInfo& info, std::error_code code, const std::string& detail) noexcept {
    info.code = code;
    try {
        info.message = v1::Error(code, detail).what();
        if (detail.empty()) info.message = code.message();
    } catch (...) {
        info.message.clear();
    }
}

void detail::checkRoom(std::size_t have, std::size_t need) {
    if (have < need)
        throw v1::Error(ErrorCode::invalidInput, "output of " + std::to_string(have) + " bytes is too small: " +
                                                     std::to_string(need) + " are needed");
}

}  // namespace corvane
