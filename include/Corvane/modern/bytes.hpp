// The modern layer's inputs and failures, shared by every capability of
// <Corvane/corvane.hpp>: ByteView (the parameter type for bytes), Error (the
// exception of every failure), ErrorInfo (the same failure reported without
// one) and BatchResult (one item's outcome in a batch call).
//
// Inputs: ByteView, which any contiguous byte range converts to
// (std::span<const std::uint8_t>, std::span<const std::byte>,
// std::vector<std::uint8_t>, std::array, std::string, std::string_view, a
// NUL-terminated const char*, without its NUL). A view is read during the
// call only.
//
// Failures throw corvane::v1::Error, a std::system_error whose code() is a
// corvane::ErrorCode (<Corvane/errors.h>), or a std::errc where the system
// failed (a key file that cannot be read, the entropy source). Where a
// failure is an expected outcome, an overload taking a cv::ErrorInfo&
// reports it there instead, with the code and the whole message the
// exception would carry, and returns an empty result; those overloads never
// throw.
#ifndef CORVANE_MODERN_BYTES_HPP
#define CORVANE_MODERN_BYTES_HPP

#include <Corvane/CorvaneCxx20.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

#include <Corvane/CorvaneExport.h>
#include <Corvane/errors.h>

namespace corvane::v1 {


namespace detail {
template <typename T>
inline constexpr bool isByteLike =
    std::is_same_v<T, std::uint8_t> || std::is_same_v<T, unsigned char> || std::is_same_v<T, std::byte> ||
    std::is_same_v<T, char> || std::is_same_v<T, signed char> || std::is_same_v<T, char8_t>;
template <typename T>
inline constexpr bool isCharArray = std::is_array_v<T> &&
                                    (std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char> ||
                                     std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char8_t>);
}  // namespace detail

// A read-only view of bytes, for parameters only (like std::string_view).
class ByteView {
public:
    constexpr ByteView() noexcept = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}
    ByteView(std::span<const std::uint8_t> bytes) noexcept : ByteView(bytes.data(), bytes.size()) {}
    ByteView(std::span<const std::byte> bytes) noexcept
        : ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) {}
    ByteView(std::string_view text) noexcept
        : ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) {}
    ByteView(const std::string& text) noexcept : ByteView(std::string_view(text)) {}
    // A NUL-terminated text, without its NUL; null is the empty view.
    ByteView(const char* text) noexcept
        : ByteView(reinterpret_cast<const std::uint8_t*>(text), text != nullptr ? std::strlen(text) : 0) {}
    // Any other contiguous range of bytes. Character arrays (string
    // literals) go through const char* above, so their NUL is not counted.
    template <typename R>
    requires std::ranges::contiguous_range<const R&> && std::ranges::sized_range<const R&> &&
        detail::isByteLike<std::remove_cv_t<std::ranges::range_value_t<const R&>>> &&
        (!detail::isCharArray<std::remove_cvref_t<R>>)ByteView(const R& range) noexcept
        : ByteView(reinterpret_cast<const std::uint8_t*>(std::ranges::data(range)),
                   std::ranges::size(range)) {}

    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::span<const std::uint8_t> span() const noexcept { return {data_, size_}; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Every failure of this layer. code() is a corvane::ErrorCode.
class CORVANE_EXPORT Error : public std::system_error {
public:
    explicit Error(std::error_code code);
    explicit Error(ErrorCode code);
    // The same codes with a detail that says where or why (a file's path,
    // both lengths, an offset): what() is "detail: meaning of the code".
    Error(std::error_code code, const std::string& detail);
    Error(ErrorCode code, const std::string& detail);
    ~Error() override;
};

// A failure reported without an exception: the code, and the message that
// Error::what() would give ("detail: meaning of the code", the detail saying
// where or why: a file's path, both lengths, an offset). Empty (false) when
// the call succeeded.
struct ErrorInfo {
    std::error_code code;
    std::string message;

    explicit operator bool() const noexcept { return static_cast<bool>(code); }
    void clear() noexcept {
        code.clear();
        message.clear();
    }
};

// One item of a batch operation (RSA, triple DES, envelopes): its result,
// or the error that item alone met (one bad item never spoils the others;
// bytes is then empty).
struct BatchResult {
    std::vector<std::uint8_t> bytes;
    std::error_code error;
};

}  // namespace corvane::v1

#endif  // CORVANE_MODERN_BYTES_HPP
