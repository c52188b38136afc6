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
// behind, live or dead. The vector registers as the process ends go into
// the dump too, as a lazily bound call or a signal's delivery would put
// them in memory, so that a secret left in a register is found. The shim
// is bound at load (-z now), so that no lazily bound call of its own saves
// registers on the stack.
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

// Room for 32 registers of 64 bytes; in the data segment, which is dumped.
static unsigned char g_registers[2048] __attribute__((aligned(64)));

#if defined(__x86_64__)
__attribute__((target("avx512f"))) static void storeZmm(unsigned char* to) {
    __asm__ volatile(
        "vmovdqu64 %%zmm0, 0(%0)\n\tvmovdqu64 %%zmm1, 64(%0)\n\tvmovdqu64 %%zmm2, 128(%0)\n\t"
        "vmovdqu64 %%zmm3, 192(%0)\n\tvmovdqu64 %%zmm4, 256(%0)\n\tvmovdqu64 %%zmm5, 320(%0)\n\t"
        "vmovdqu64 %%zmm6, 384(%0)\n\tvmovdqu64 %%zmm7, 448(%0)\n\tvmovdqu64 %%zmm8, 512(%0)\n\t"
        "vmovdqu64 %%zmm9, 576(%0)\n\tvmovdqu64 %%zmm10, 640(%0)\n\tvmovdqu64 %%zmm11, 704(%0)\n\t"
        "vmovdqu64 %%zmm12, 768(%0)\n\tvmovdqu64 %%zmm13, 832(%0)\n\tvmovdqu64 %%zmm14, 896(%0)\n\t"
        "vmovdqu64 %%zmm15, 960(%0)\n\tvmovdqu64 %%zmm16, 1024(%0)\n\tvmovdqu64 %%zmm17, 1088(%0)\n\t"
        "vmovdqu64 %%zmm18, 1152(%0)\n\tvmovdqu64 %%zmm19, 1216(%0)\n\tvmovdqu64 %%zmm20, 1280(%0)\n\t"
        "vmovdqu64 %%zmm21, 1344(%0)\n\tvmovdqu64 %%zmm22, 1408(%0)\n\tvmovdqu64 %%zmm23, 1472(%0)\n\t"
        "vmovdqu64 %%zmm24, 1536(%0)\n\tvmovdqu64 %%zmm25, 1600(%0)\n\tvmovdqu64 %%zmm26, 1664(%0)\n\t"
        "vmovdqu64 %%zmm27, 1728(%0)\n\tvmovdqu64 %%zmm28, 1792(%0)\n\tvmovdqu64 %%zmm29, 1856(%0)\n\t"
        "vmovdqu64 %%zmm30, 1920(%0)\n\tvmovdqu64 %%zmm31, 1984(%0)"
        :
        : "r"(to)
        : "memory");
}

__attribute__((target("avx"))) static void storeYmm(unsigned char* to) {
    __asm__ volatile(
        "vmovdqu %%ymm0, 0(%0)\n\tvmovdqu %%ymm1, 32(%0)\n\tvmovdqu %%ymm2, 64(%0)\n\t"
        "vmovdqu %%ymm3, 96(%0)\n\tvmovdqu %%ymm4, 128(%0)\n\tvmovdqu %%ymm5, 160(%0)\n\t"
        "vmovdqu %%ymm6, 192(%0)\n\tvmovdqu %%ymm7, 224(%0)\n\tvmovdqu %%ymm8, 256(%0)\n\t"
        "vmovdqu %%ymm9, 288(%0)\n\tvmovdqu %%ymm10, 320(%0)\n\tvmovdqu %%ymm11, 352(%0)\n\t"
        "vmovdqu %%ymm12, 384(%0)\n\tvmovdqu %%ymm13, 416(%0)\n\tvmovdqu %%ymm14, 448(%0)\n\t"
        "vmovdqu %%ymm15, 480(%0)"
        :
        : "r"(to)
        : "memory");
}
#endif

// The registers first, before this destructor's own calls move anything.
__attribute__((destructor)) static void dumpMemory(void) {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f"))
        storeZmm(g_registers);
    else if (__builtin_cpu_supports("avx"))
        storeYmm(g_registers);
#endif
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
