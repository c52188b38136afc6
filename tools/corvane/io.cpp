#include "io.h"

#include <cerrno>
#include <cstdio>

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

void printError(const std::string& message) { std::fprintf(stderr, "corvane: %s\n", message.c_str()); }

}  // namespace corvane::tool
