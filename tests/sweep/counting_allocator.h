// The allocator of the allocation-failure sweep: operator new and OpenSSL's
// allocator replaced for the whole test program, so that every allocation a
// library call makes, its own or OpenSSL's, is counted by the library's
// failure switch (test_seams::failNthAllocation) and can be made to fail.
// Linked into the sweep program only: other tests keep the sanitizers' and
// valgrind's own operator new.
#ifndef CORVANE_TEST_COUNTING_ALLOCATOR_H
#define CORVANE_TEST_COUNTING_ALLOCATOR_H

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::test {

// Whether OpenSSL accepted the counting allocator (it must be installed
// before OpenSSL's first allocation).
bool openSslAllocatorInstalled();

// Blocks allocated and not yet freed: through operator new, through OpenSSL,
// and through the library's own allocate().
std::int64_t liveBlocks();

// While enabled, the call stack of each allocation the switch fails is kept
// (without allocating), for takeFailedStack() to fetch after the call.
void keepFailedStacks(bool enabled);
// The return addresses of the last failed allocation's stack, innermost
// first; empty when none was kept since the last fetch.
std::vector<void*> takeFailedStack();

// The innermost frame of each stack that lies in the library's own sources
// (platform/, Classes/, myrsa/, include/Corvane/), as "file:line function",
// found with llvm-symbolizer; empty when it cannot be run.
std::vector<std::string> librarySites(const std::vector<std::vector<void*>>& stacks);

}  // namespace corvane::test

#endif
