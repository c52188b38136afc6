// The stack below a fixed frame as an operation left it: painted first,
// then the operation runs from the same frame, then the region is copied
// out, so that a scan can look for secrets the operation left behind and
// see how deep it went. Sanitizers keep locals in frames of their own
// (CORVANE_STACK_SCAN_SKIPPED then says the scan cannot see them).
#ifndef CORVANE_TEST_DEAD_STACK_H
#define CORVANE_TEST_DEAD_STACK_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CORVANE_STACK_SCAN_SKIPPED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CORVANE_STACK_SCAN_SKIPPED 1
#endif
#endif

namespace corvane::test::dead_stack {

inline constexpr std::size_t kScanBytes = 96 * 1024;
inline constexpr unsigned char kPaint = 0x5C;

enum class Pass { paint, copy };

// One frame for both passes, so that `region` lies at the same addresses
// each time: just below the caller's frame, where the operation's frames
// went. The empty asm statements make the compiler treat the region as
// read and written, so neither the paint nor the copy is optimised away.
[[gnu::noinline]] inline void stackWindow(Pass pass, unsigned char* copy) {
    unsigned char region[kScanBytes];
    __asm__ volatile("" : : "r"(region) : "memory");
    if (pass == Pass::paint)
        std::memset(region, kPaint, sizeof region);
    else
        std::memcpy(copy, region, sizeof region);
    __asm__ volatile("" : : "r"(region) : "memory");
}

// The dead stack after `operation`, deepest byte first.
[[gnu::noinline]] inline std::vector<std::uint8_t> after(const std::function<void()>& operation) {
    std::vector<std::uint8_t> copy(kScanBytes);
    stackWindow(Pass::paint, nullptr);
    operation();
    stackWindow(Pass::copy, copy.data());
    return copy;
}

}  // namespace corvane::test::dead_stack

#endif  // CORVANE_TEST_DEAD_STACK_H
