#include "tests/sweep/counting_allocator.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <openssl/crypto.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <sstream>

#include "platform/allocation.h"

namespace {

std::atomic<std::int64_t> g_live{0};

// The stack of the last failed allocation, kept in fixed storage: the
// failing allocation must not allocate.
constexpr int kMaxFrames = 48;
std::atomic<bool> g_keepStacks{false};
thread_local void* t_frames[kMaxFrames];
thread_local int t_frameCount = 0;

void keepStack() {
    if (g_keepStacks.load(std::memory_order_relaxed)) t_frameCount = backtrace(t_frames, kMaxFrames);
}

void* countedAllocation(std::size_t size, std::size_t alignment) noexcept {
    if (!corvane::test_seams::allocationAllowed()) return nullptr;
    if (size == 0) size = 1;
    void* p = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        p = std::malloc(size);
    } else if (posix_memalign(&p, alignment, size) != 0) {
        p = nullptr;
    }
    if (p != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void countedFree(void* p) noexcept {
    if (p == nullptr) return;
    g_live.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
}

void* newOrThrow(std::size_t size, std::size_t alignment) {
    if (void* p = countedAllocation(size, alignment)) return p;
    throw std::bad_alloc();
}

// OpenSSL's allocator. A reallocation counts as an allocation too.
void* sslMalloc(std::size_t size, const char*, int) { return countedAllocation(size, 0); }
void* sslRealloc(void* p, std::size_t size, const char*, int) {
    if (p == nullptr) return countedAllocation(size, 0);
    if (!corvane::test_seams::allocationAllowed()) return nullptr;
    return std::realloc(p, size);
}
void sslFree(void* p, const char*, int) { countedFree(p); }

// Before main, so that it precedes OpenSSL's first allocation.
const bool g_sslInstalled = CRYPTO_set_mem_functions(sslMalloc, sslRealloc, sslFree) == 1;

}  // namespace

void* operator new(std::size_t size) { return newOrThrow(size, 0); }
void* operator new[](std::size_t size) { return newOrThrow(size, 0); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) { return newOrThrow(size, std::size_t(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return newOrThrow(size, std::size_t(a)); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return countedAllocation(size, std::size_t(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return countedAllocation(size, std::size_t(a));
}
void operator delete(void* p) noexcept { countedFree(p); }
void operator delete[](void* p) noexcept { countedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { countedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { countedFree(p); }
void operator delete(void* p, std::size_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { countedFree(p); }
void operator delete(void* p, std::align_val_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::align_val_t) noexcept { countedFree(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { countedFree(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { countedFree(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { countedFree(p); }

namespace corvane::test {

bool openSslAllocatorInstalled() { return g_sslInstalled; }

std::int64_t liveBlocks() { return g_live.load(std::memory_order_relaxed) + test_seams::rawBlocksLive(); }

void keepFailedStacks(bool enabled) {
    if (enabled) {
        void* prime[1];
        backtrace(prime, 1);  // loads the unwinder now, not inside a failing allocation
    }
    g_keepStacks = enabled;
    t_frameCount = 0;
    test_seams::setAllocationFailureObserver(enabled ? keepStack : nullptr);
}

std::vector<void*> takeFailedStack() {
    std::vector<void*> frames(t_frames, t_frames + t_frameCount);
    t_frameCount = 0;
    return frames;
}

namespace {

// A frame's offset in its object file, as llvm-symbolizer takes it; one byte
// back from the return address, so that it lies in the call.
bool frameOffset(void* frame, std::string* object, std::string* offset) {
    Dl_info info;
    if (dladdr(frame, &info) == 0 || info.dli_fname == nullptr) return false;
    char text[32];
    std::snprintf(
        text, sizeof text, "0x%zx",
        static_cast<std::size_t>(static_cast<char*>(frame) - static_cast<char*>(info.dli_fbase) - 1));
    *object = info.dli_fname;
    *offset = text;
    // A program started as /proc/self/exe is named so; the symbolizer needs its real path.
    if (*object == "/proc/self/exe" || object->empty()) {
        char path[4096];
        ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        if (n > 0) *object = std::string(path, static_cast<std::size_t>(n));
    }
    return true;
}

bool isLibraryFunction(const std::string& f) {
    return (f.rfind("corvane::", 0) == 0 && f.rfind("corvane::test", 0) != 0) || f.rfind("QV", 0) == 0 ||
           f.rfind("Qv", 0) == 0 || f.rfind("CCCrypt", 0) == 0;
}

// The library site of one symbolized frame: its innermost inlined frame in
// the library's sources ("file:line function"), else, for library code
// built from standard-library templates, the library function itself.
std::string siteOf(const std::vector<std::pair<std::string, std::string>>& inlined) {
    for (const auto& [function, location] : inlined) {
        if (location.find("/platform/allocation.cpp") != std::string::npos) return {};  // the switch itself
        for (const char* dir : {"/platform/", "/Classes/", "/myrsa/", "/include/Corvane/"}) {
            auto at = location.find(dir);
            if (at != std::string::npos) return location.substr(at + 1, location.rfind(':') - at - 1);
        }
    }
    if (!inlined.empty() && isLibraryFunction(inlined.back().first)) {
        const std::string& f = inlined.back().first;
        return f.substr(0, f.find('(')) + " (standard-library code)";
    }
    return {};
}

}  // namespace

std::vector<std::string> librarySites(const std::vector<std::vector<void*>>& stacks) {
    std::map<std::string, std::set<std::string>> queries;  // object file -> offsets
    for (const auto& stack : stacks) {
        for (void* frame : stack) {
            std::string object, offset;
            if (frameOffset(frame, &object, &offset)) queries[object].insert(offset);
        }
    }
    std::map<std::string, std::string> sites;  // "object offset" -> site
    for (const auto& [object, offsets] : queries) {
        std::string command = "llvm-symbolizer --obj='" + object + "' --inlining";
        for (const auto& o : offsets) command += " " + o;
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        if (!pipe) return {};
        // Per address: (function, file:line:column) line pairs, innermost
        // first, then a blank line.
        auto next = offsets.begin();
        std::vector<std::pair<std::string, std::string>> inlined;
        char function[8192], location[8192];
        while (next != offsets.end() && std::fgets(function, sizeof function, pipe.get()) != nullptr) {
            std::string f(function);
            if (f == "\n") {
                sites[object + " " + *next++] = siteOf(inlined);
                inlined.clear();
                continue;
            }
            if (std::fgets(location, sizeof location, pipe.get()) == nullptr) break;
            std::string l(location);
            if (!l.empty() && l.back() == '\n') l.pop_back();
            if (!f.empty() && f.back() == '\n') f.pop_back();
            inlined.emplace_back(f, l);
        }
    }
    std::vector<std::string> found;
    for (const auto& stack : stacks) {
        for (void* frame : stack) {
            std::string object, offset;
            if (!frameOffset(frame, &object, &offset)) continue;
            auto site = sites.find(object + " " + offset);
            if (site != sites.end() && !site->second.empty()) {
                found.push_back(site->second);
                break;
            }
        }
    }
    return found;
}

}  // namespace corvane::test
