// Runs the byte-level Base64 coders on one chosen code path (portable, AVX2,
// AVX-512 VBMI) and records everything a caller could observe: the result,
// the assertion report if one was raised, and every byte of the destination
// including guard bytes behind it. Two paths agree on an input when their
// records are equal. The input is placed right in front of an inaccessible
// page, so a path that reads past its end crashes instead of passing.
//
// Header-only so that the fuzz targets can use it as well as the tests.
#ifndef CORVANE_TEST_BASE64_PATHS_H
#define CORVANE_TEST_BASE64_PATHS_H

#include <Corvane/Foundation.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "Classes/source/QVGTMBase64_PrivateMethods.h"

namespace corvane::test_seams {

inline const char* base64PathName(Base64Path path) {
    switch (path) {
        case Base64Path::portable:
            return "portable";
        case Base64Path::avx2:
            return "avx2";
        case Base64Path::avx512vbmi:
            return "avx512vbmi";
    }
    return "?";
}

// How GoogleTest prints a path (found by argument-dependent lookup).
inline void PrintTo(Base64Path path, std::ostream* os) { *os << base64PathName(path); }

}  // namespace corvane::test_seams

namespace corvane::test {

using Base64Path = corvane::test_seams::Base64Path;
using corvane::test_seams::base64PathName;

inline std::vector<Base64Path> availableBase64Paths() {
    std::vector<Base64Path> paths;
    for (Base64Path p : {Base64Path::portable, Base64Path::avx2, Base64Path::avx512vbmi})
        if (corvane::test_seams::base64PathAvailable(p)) paths.push_back(p);
    return paths;
}

// Bytes placed so that the last one is followed by a page that cannot be
// read. One mapping per thread, grown on demand and kept.
class PageEndCopy {
public:
    const std::uint8_t* place(const std::uint8_t* data, std::size_t n) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t need = (n + page - 1) / page * page;
        if (need > usable_ || base_ == nullptr) {
            release();
            usable_ = need > 16 * page ? need : 16 * page;
            void* m =
                mmap(nullptr, usable_ + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (m == MAP_FAILED) std::abort();
            base_ = static_cast<std::uint8_t*>(m);
            if (mprotect(base_ + usable_, page, PROT_NONE) != 0) std::abort();
        }
        std::uint8_t* at = base_ + usable_ - n;
        if (n != 0) std::memcpy(at, data, n);
        return at;
    }
    ~PageEndCopy() { release(); }

private:
    void release() {
        if (base_ != nullptr) munmap(base_, usable_ + static_cast<std::size_t>(sysconf(_SC_PAGESIZE)));
        base_ = nullptr;
    }
    std::uint8_t* base_ = nullptr;
    std::size_t usable_ = 0;
};

struct Base64Run {
    NSUInteger result = 0;
    bool reported = false;
    std::string report;              // method, file, line and message of the report
    std::vector<std::uint8_t> dest;  // the destination and the guard bytes behind it

    bool operator==(const Base64Run&) const = default;
};

// How GoogleTest prints a record when two differ.
inline void PrintTo(const Base64Run& run, std::ostream* os) {
    static const char kHex[] = "0123456789abcdef";
    *os << "{result " << run.result << (run.reported ? ", report " + run.report : std::string()) << ", dest ";
    for (std::uint8_t b : run.dest) *os << kHex[b >> 4] << kHex[b & 15];
    *os << "}";
}

inline constexpr std::size_t kBase64Guard = 16;
inline constexpr std::uint8_t kBase64GuardByte = 0xA5;

template <typename Call>
Base64Run base64Record(std::size_t destLen, std::uint8_t fill, Call&& call) {
    Base64Run run;
    run.dest.assign(destLen + kBase64Guard, kBase64GuardByte);
    std::memset(run.dest.data(), fill, destLen);
    NSLogSink previous = NSLogSetSink([](const std::string&) {});
    try {
        run.result = call(run.dest.data());
    } catch (const NSInternalInconsistencyException& e) {
        run.reported = true;
        run.report = e.function() + "|" + e.file() + "|" + std::to_string(e.line()) + "|" + e.description();
    }
    NSLogSetSink(previous);
    return run;
}

// Encodes src into a destination of destLen bytes (filled with 0x5A first).
inline Base64Run base64RunEncode(Base64Path path, const std::uint8_t* src, std::size_t srcLen,
                                 std::size_t destLen, const char* alphabet, bool padded) {
    thread_local PageEndCopy input;
    const std::uint8_t* at = input.place(src, srcLen);
    return base64Record(destLen, 0x5A, [&](std::uint8_t* dest) {
        return corvane::test_seams::base64EncodeOnPath(path, at, srcLen, dest, destLen, alphabet, padded);
    });
}

// Decodes text into a zero-filled destination of destLen bytes.
inline Base64Run base64RunDecode(Base64Path path, const std::uint8_t* text, std::size_t textLen,
                                 std::size_t destLen, const char* table, bool requirePadding) {
    thread_local PageEndCopy input;
    const std::uint8_t* at = input.place(text, textLen);
    return base64Record(destLen, 0, [&](std::uint8_t* dest) {
        return corvane::test_seams::base64DecodeOnPath(path, at, textLen, dest, destLen, table,
                                                       requirePadding);
    });
}

}  // namespace corvane::test

#endif
