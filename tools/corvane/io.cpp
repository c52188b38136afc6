#include "io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tool_error.h"

namespace corvane::tool {

std::optional<std::vector<unsigned char>> readAll(const std::string& path) {
    std::FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    std::vector<unsigned char> data;
    unsigned char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
    bool failed = std::ferror(f) != 0;
    int savedErrno = errno;
    if (f != stdin) std::fclose(f);
    if (failed) {
        errno = savedErrno;
        return std::nullopt;
    }
    return data;
}

Bytes readInput(const std::vector<std::string>& files) {
    std::string path = files.empty() ? "-" : files.front();
    errno = 0;
    auto data = readAll(path);
    if (!data) {
        std::string what = path == "-" ? "standard input" : path;
        failure(what + ": " + (errno != 0 ? std::strerror(errno) : "read error"));
    }
    return std::move(*data);
}

void writeBytes(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void writeText(const std::string& text) { std::fputs(text.c_str(), stdout); }

void printError(const std::string& message) { std::fprintf(stderr, "corvane: %s\n", message.c_str()); }

}  // namespace corvane::tool
