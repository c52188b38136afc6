// The heap buffers the classes allocate themselves (the RSA key record, the
// cipher's output buffer), and, in the test archive only, the switch that
// makes one chosen allocation fail so that tests can walk every out-of-memory
// path. Internal: not installed, nothing here is exported.
#ifndef CORVANE_ALLOCATION_H
#define CORVANE_ALLOCATION_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

// std::malloc and std::free. In the test archive, allocate() also counts the
// allocation and gives nullptr when it is the one chosen to fail.
void* allocate(std::size_t size) noexcept;
void deallocate(void* p) noexcept;

// Makes bytes hold size bytes (new ones zero), for a buffer that a result
// object then takes over without a copy; false when memory runs out. In the
// test archive the growth also counts as one allocation of allocate()'s
// sequence, so that tests can make it fail.
bool resizeBytes(std::vector<std::uint8_t>& bytes, std::size_t size) noexcept;

}  // namespace corvane

#ifdef CORVANE_TEST_SEAMS
namespace corvane::test_seams {

// Restarts the count of the calling thread's allocations and makes the n-th
// one from now on fail (1 = the next one); 0 fails none. Counted are
// allocate() here and whatever else calls allocationAllowed(): the sweep test
// routes operator new and OpenSSL's allocator through it.
void failNthAllocation(std::uint64_t n) noexcept;
// Counts one allocation of the calling thread; false when it must fail.
bool allocationAllowed() noexcept;
// Allocations counted on the calling thread since failNthAllocation.
std::uint64_t allocationsCounted() noexcept;
// Called on the failing thread each time an allocation is made to fail (the
// sweep test records the call stack there); nullptr for none.
using AllocationFailureObserver = void (*)();
void setAllocationFailureObserver(AllocationFailureObserver observer) noexcept;
// Blocks from allocate() not yet given to deallocate(), over all threads.
std::int64_t rawBlocksLive() noexcept;

}  // namespace corvane::test_seams
#endif

#endif  // CORVANE_ALLOCATION_H
