#include "tools/corvane/io/removal_on_signal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <mutex>

#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

// A slot is free, being written (the handler skips it), or holds a name.
enum SlotState : int { kFree, kWriting, kHeld };

// The table the handler reads: fixed storage, no allocation, and a
// lock-free state per slot, so that reading it from a handler is safe
// whatever the interrupted thread was doing. The tool holds at most two
// names at once (a result and its replacement's link); the rest is margin.
struct Slot {
    std::atomic<int> state{kFree};
    int directory = -1;
    char name[NAME_MAX + 1] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);

Slot slots[8];

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void removeHeldNames(int signal) {
    const int saved = errno;
    for (Slot& slot : slots)
        if (slot.state.load(std::memory_order_acquire) == kHeld) ::unlinkat(slot.directory, slot.name, 0);
    struct sigaction original {};
    original.sa_handler = SIG_DFL;
    sigemptyset(&original.sa_mask);
    ::sigaction(signal, &original, nullptr);
    // Pending until the handler returns and unblocks it; then the default
    // action ends the process.
    ::raise(signal);
    errno = saved;
}

void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction handler {};
        handler.sa_handler = removeHeldNames;
        // Every other one of the four waits while a name is being removed.
        sigemptyset(&handler.sa_mask);
        for (int signal : kSignals) sigaddset(&handler.sa_mask, signal);
        handler.sa_flags = SA_RESTART;
        for (int signal : kSignals) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
            ::sigaction(signal, &handler, nullptr);
        }
    });
}

}  // namespace

void RemovalOnSignal::hold(int directory, const std::string& name) {
    if (name.size() > NAME_MAX) failure(name + ": " + std::strerror(ENAMETOOLONG));
    installHandlers();
    if (slot_ < 0) {
        for (int i = 0; i < static_cast<int>(std::size(slots)) && slot_ < 0; ++i) {
            int expected = kFree;
            if (slots[i].state.compare_exchange_strong(expected, kWriting, std::memory_order_acq_rel)) slot_ = i;
        }
        if (slot_ < 0) failure("too many output files at once");
    } else {
        slots[slot_].state.store(kWriting, std::memory_order_release);
    }
    Slot& slot = slots[slot_];
    slot.directory = directory;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.state.store(kHeld, std::memory_order_release);
}

void RemovalOnSignal::clear() noexcept {
    if (slot_ < 0) return;
    slots[slot_].state.store(kFree, std::memory_order_release);
    slot_ = -1;
}

}  // namespace corvane::tool
