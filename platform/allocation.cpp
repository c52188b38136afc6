#include "platform/allocation.h"

#include <cstdlib>
#include <new>

#ifdef CORVANE_TEST_SEAMS
#include <atomic>
#endif

namespace corvane {

#ifdef CORVANE_TEST_SEAMS
namespace {
// Per thread, so that allocations of other threads never shift the count.
thread_local std::uint64_t t_counted = 0;
thread_local std::uint64_t t_failAt = 0;
std::atomic<std::int64_t> g_rawLive{0};
std::atomic<test_seams::AllocationFailureObserver> g_observer{nullptr};
}  // namespace

void test_seams::failNthAllocation(std::uint64_t n) noexcept {
    t_counted = 0;
    t_failAt = n;
}

bool test_seams::allocationAllowed() noexcept {
    if (++t_counted != t_failAt) return true;
    if (auto observer = g_observer.load(std::memory_order_relaxed)) observer();
    return false;
}

void test_seams::setAllocationFailureObserver(AllocationFailureObserver observer) noexcept {
    g_observer.store(observer, std::memory_order_relaxed);
}

std::uint64_t test_seams::allocationsCounted() noexcept { return t_counted; }

std::int64_t test_seams::rawBlocksLive() noexcept { return g_rawLive.load(std::memory_order_relaxed); }
#endif

void* allocate(std::size_t size) noexcept {
#ifdef CORVANE_TEST_SEAMS
    if (!test_seams::allocationAllowed()) return nullptr;
    void* p = std::malloc(size);
    if (p != nullptr) g_rawLive.fetch_add(1, std::memory_order_relaxed);
    return p;
#else
    return std::malloc(size);
#endif
}

void deallocate(void* p) noexcept {
#ifdef CORVANE_TEST_SEAMS
    if (p != nullptr) g_rawLive.fetch_sub(1, std::memory_order_relaxed);
#endif
    std::free(p);
}

bool resizeBytes(std::vector<std::uint8_t>& bytes, std::size_t size) noexcept {
#ifdef CORVANE_TEST_SEAMS
    if (!test_seams::allocationAllowed()) return false;
#endif
    if (size > bytes.max_size()) return false;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace corvane
