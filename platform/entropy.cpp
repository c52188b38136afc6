#include "platform/entropy.h"

#include <cerrno>
#include <cstdint>

#if defined(__APPLE__)
#include <sys/random.h>
#include <unistd.h>
#elif defined(__linux__)
#include <sys/random.h>
#else
#include <unistd.h>
#endif

#ifdef CORVANE_TEST_SEAMS
#include <atomic>
#endif

namespace corvane {

#ifdef CORVANE_TEST_SEAMS
namespace {
std::atomic<test_seams::EntropySource> g_standIn{nullptr};
}

test_seams::EntropySource test_seams::setEntropySource(EntropySource source) noexcept {
    return g_standIn.exchange(source);
}
#endif

bool os_entropy(void* out, std::size_t length) noexcept {
#ifdef CORVANE_TEST_SEAMS
    if (auto standIn = g_standIn.load()) return standIn(out, length);
#endif
    auto* p = static_cast<std::uint8_t*>(out);
    // getentropy serves at most 256 bytes per call; loop for longer requests.
    while (length > 0) {
        std::size_t chunk = length < 256 ? length : 256;
        if (getentropy(p, chunk) != 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += chunk;
        length -= chunk;
    }
    return true;
}

}  // namespace corvane
