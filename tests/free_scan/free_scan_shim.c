// A preloaded library for the tool's memory tests: it stands in front of
// free() and realloc() and looks in every heap block being released for the
// byte strings named in FREE_SCAN_NEEDLES (hexadecimal, separated by
// commas), such as a private key's prime or a passphrase. A block released
// with one of them still in it is a copy of a secret left in freed memory.
// At exit the number of such blocks is written, in decimal, to the file
// named by FREE_SCAN_OUT.
//
// With FREE_SCAN_KEEP_CRYPTO_ALLOCATOR set, a program's call to
// CRYPTO_set_mem_functions is answered as a success and has no effect: the
// run shows what libcrypto leaves in freed memory without a wiping
// allocator, which tells that the scan finds what it looks for.
//
// realloc is carried out as malloc, copy and free of the old block, so that
// a block that the C library would have moved (leaving the old bytes behind)
// is scanned whether or not this run's allocator happens to move it.
//
// With FREE_SCAN_DUMP set, the process's writable memory as it ends (every
// readable and writable mapping: data, heap, stacks, anonymous blocks, the
// C library's stream buffers; pages of zeros left out) is written to the
// file it names, for a test to search for whatever the process left
// behind, live or dead. The shim is bound at load (-z now), so that no
// lazily bound call of its own saves registers on the stack.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kMaxNeedles = 4, kMaxNeedleBytes = 4096 };

static unsigned char g_needles[kMaxNeedles][kMaxNeedleBytes];
static size_t g_needleLengths[kMaxNeedles];
static int g_needleCount;
static atomic_long g_hits;
static void (*g_realFree)(void*);

static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

__attribute__((constructor)) static void readNeedles(void) {
    g_realFree = (void (*)(void*))dlsym(RTLD_NEXT, "free");
    const char* text = getenv("FREE_SCAN_NEEDLES");
    if (text == NULL) return;
    while (*text != '\0' && g_needleCount < kMaxNeedles) {
        size_t n = 0;
        while (text[0] != '\0' && text[0] != ',' && n < kMaxNeedleBytes) {
            int high = hexValue(text[0]), low = text[1] != '\0' ? hexValue(text[1]) : -1;
            if (high < 0 || low < 0) break;
            g_needles[g_needleCount][n++] = (unsigned char)(high * 16 + low);
            text += 2;
        }
        // Needles shorter than 8 bytes would match by chance.
        if (n >= 8) g_needleLengths[g_needleCount++] = n;
        while (*text != '\0' && *text != ',') ++text;
        if (*text == ',') ++text;
    }
}

__attribute__((destructor)) static void writeCount(void) {
    const char* path = getenv("FREE_SCAN_OUT");
    if (path == NULL) return;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return;
    char line[32];
    int n = snprintf(line, sizeof line, "%ld\n", atomic_load(&g_hits));
    if (n > 0) (void)!write(fd, line, (size_t)n);
    close(fd);
}

// Writes the pages of [from, to) that are not all zero to fd.
static void dumpRange(int fd, const unsigned char* from, const unsigned char* to) {
    static const unsigned char zeros[4096];
    for (const unsigned char* page = from; page < to; page += sizeof zeros) {
        size_t size = (size_t)(to - page) < sizeof zeros ? (size_t)(to - page) : sizeof zeros;
        if (memcmp(page, zeros, size) != 0) (void)!write(fd, page, size);
    }
}

__attribute__((destructor)) static void dumpMemory(void) {
    const char* path = getenv("FREE_SCAN_DUMP");
    if (path == NULL) return;
    static char maps[1 << 20];
    int in = open("/proc/self/maps", O_RDONLY);
    if (in < 0) return;
    size_t length = 0;
    ssize_t n;
    while (length < sizeof maps - 1 && (n = read(in, maps + length, sizeof maps - 1 - length)) > 0)
        length += (size_t)n;
    close(in);
    maps[length] = '\0';
    int out = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0) return;
    for (char* line = maps; *line != '\0';) {
        char* end = strchr(line, '\n');
        if (end != NULL) *end = '\0';
        unsigned long from = 0, to = 0;
        char perms[8] = "";
        if (sscanf(line, "%lx-%lx %7s", &from, &to, perms) == 3 && perms[0] == 'r' && perms[1] == 'w')
            dumpRange(out, (const unsigned char*)from, (const unsigned char*)to);
        if (end == NULL) break;
        line = end + 1;
    }
    close(out);
}

static void scan(void* block) {
    size_t size = malloc_usable_size(block);
    for (int i = 0; i < g_needleCount; ++i)
        if (memmem(block, size, g_needles[i], g_needleLengths[i]) != NULL) {
            atomic_fetch_add(&g_hits, 1);
            return;
        }
}

typedef int (*SetMemFunctions)(void*, void*, void*);

int CRYPTO_set_mem_functions(void* allocate, void* reallocate, void* release) {
    if (getenv("FREE_SCAN_KEEP_CRYPTO_ALLOCATOR") != NULL) return 1;
    SetMemFunctions real = (SetMemFunctions)dlsym(RTLD_NEXT, "CRYPTO_set_mem_functions");
    return real != NULL ? real(allocate, reallocate, release) : 0;
}

void free(void* block) {
    if (block == NULL) return;
    // dlsym may free before the constructor has run; such a block is left.
    if (g_realFree == NULL) return;
    scan(block);
    g_realFree(block);
}

void* realloc(void* block, size_t size) {
    if (block == NULL) return malloc(size);
    if (size == 0) {
        free(block);
        return NULL;
    }
    void* moved = malloc(size);
    if (moved == NULL) return NULL;
    size_t old = malloc_usable_size(block);
    memcpy(moved, block, old < size ? old : size);
    free(block);
    return moved;
}
