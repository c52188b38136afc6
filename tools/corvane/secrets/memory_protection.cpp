#include "tools/corvane/secrets/memory_protection.h"

#include <malloc.h>
#include <openssl/crypto.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/secure_zero.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

void* wipingMalloc(std::size_t size, const char*, int) { return std::malloc(size); }

void wipingFree(void* block, const char*, int) {
    if (block == nullptr) return;
    // The usable size covers the whole block, also what libcrypto did not ask for.
    secure_zero(block, malloc_usable_size(block));
    std::free(block);
}

// A reallocation may move the block and free the old one unwiped, so it is
// always carried out as a new block, a copy and a wiped release.
void* wipingRealloc(void* block, std::size_t size, const char* file, int line) {
    if (block == nullptr) return wipingMalloc(size, file, line);
    if (size == 0) {
        wipingFree(block, file, line);
        return nullptr;
    }
    void* moved = std::malloc(size);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, block, std::min(malloc_usable_size(block), size));
    wipingFree(block, file, line);
    return moved;
}

}  // namespace

void bindEveryLibraryAtLoad(char** argv) noexcept {
    if (std::getenv("LD_BIND_NOW") != nullptr) return;
    // The program's own path, as the kernel knows it (a debugger or valgrind
    // answers with the program it runs).
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0 || ::setenv("LD_BIND_NOW", "1", 1) != 0) return;
    self[length] = '\0';
    ::execv(self, argv);
    ::unsetenv("LD_BIND_NOW");
}

bool installWipingCryptoAllocator() {
    return CRYPTO_set_mem_functions(wipingMalloc, wipingRealloc, wipingFree) == 1;
}

void protectSecretsFromDumps() {
    const rlimit noCore{0, 0};
    if (::setrlimit(RLIMIT_CORE, &noCore) != 0)
        failure(std::string("cannot turn off core dumps: ") + std::strerror(errno));
    if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
        failure(std::string("cannot turn off debugger attachment: ") + std::strerror(errno));
}

}  // namespace corvane::tool
