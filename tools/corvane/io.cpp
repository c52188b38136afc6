#include "io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../../platform/secure_zero.h"
#include "tool_error.h"

namespace corvane::tool {

std::optional<Bytes> readAll(const std::string& path, std::size_t limit) {
    std::FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    Bytes data;
    unsigned char chunk[65536];
    std::size_t n;
    while (data.size() <= limit &&
           (n = std::fread(chunk, 1, std::min(sizeof chunk, limit + 1 - data.size()), f)) > 0)
        data.insert(data.end(), chunk, chunk + n);
    bool failed = std::ferror(f) != 0;
    int savedErrno = errno;
    // The chunk may have held a key read from standard input.
    secure_zero(chunk, sizeof chunk);
    if (f != stdin) std::fclose(f);
    if (failed) {
        errno = savedErrno;
        return std::nullopt;
    }
    return data;
}

std::string inputName(const std::string& path) { return path == "-" ? "standard input" : path; }

Bytes readInput(const std::vector<std::string>& files, std::size_t limit) {
    std::string path = files.empty() ? "-" : files.front();
    errno = 0;
    auto data = readAll(path, limit);
    if (!data) failure(inputName(path) + ": " + (errno != 0 ? std::strerror(errno) : "read error"));
    if (data->size() > limit) failure(inputName(path) + ": more than " + std::to_string(limit) + " bytes");
    return std::move(*data);
}

void writeBytes(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void writeText(const std::string& text) { std::fputs(text.c_str(), stdout); }

void printError(const std::string& message) { std::fprintf(stderr, "corvane: %s\n", message.c_str()); }

}  // namespace corvane::tool
