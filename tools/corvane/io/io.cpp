#include "tools/corvane/io/io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/secure_zero.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

std::optional<Bytes> readAll(const std::string& path, std::size_t limit) {
    std::FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    Bytes data;
    unsigned char chunk[65536];
    std::size_t n;
    while (data.size() <= limit &&
           (n = std::fread(chunk, 1, std::min(sizeof chunk, limit + 1 - data.size()), f)) > 0) {
        // The input may be a key: when the vector grows, the old storage is
        // wiped rather than left behind in freed memory.
        if (data.size() + n > data.capacity()) {
            Bytes larger;
            larger.reserve(std::max(data.size() + n, 2 * data.capacity()));
            larger.assign(data.begin(), data.end());
            secure_zero(data.data(), data.size());
            data.swap(larger);
        }
        data.insert(data.end(), chunk, chunk + n);
    }
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

namespace {

bool g_writeFailed = false;
std::FILE* g_output = nullptr;  // null: standard output

std::FILE* output() { return g_output != nullptr ? g_output : stdout; }

// The standard streams' buffers, in static storage so that they outlive
// every write, even the C library's last flush as the process ends.
unsigned char g_inputBuffer[BUFSIZ];
unsigned char g_outputBuffer[BUFSIZ];

[[noreturn]] void writeFailed(int cause) {
    g_writeFailed = true;
    failure(std::string("write error: ") + (cause != 0 ? std::strerror(cause) : "output failed"));
}

}  // namespace

void writeBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || g_writeFailed) return;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), output()) != bytes.size()) writeFailed(errno);
}

void writeText(const std::string& text) {
    writeBytes(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void flushOutput() {
    if (g_writeFailed) return;
    errno = 0;
    if (std::fflush(output()) != 0) writeFailed(errno);
    // An earlier write through printf may have failed with the buffer since emptied.
    if (std::ferror(output())) writeFailed(0);
}

std::FILE* redirectOutput(std::FILE* stream) {
    std::FILE* previous = output();
    g_output = stream;
    return previous;
}

void useWipedStandardBuffers() {
    std::setvbuf(stdin, reinterpret_cast<char*>(g_inputBuffer), _IOFBF, sizeof g_inputBuffer);
    // Line buffering on a terminal, as the C library would choose.
    std::setvbuf(stdout, reinterpret_cast<char*>(g_outputBuffer), ::isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF,
                 sizeof g_outputBuffer);
}

void wipeStandardBuffers() {
    // What is still buffered goes out first; a failure was reported already
    // or is reported by the caller's own flush.
    std::fflush(stdout);
    secure_zero(g_outputBuffer, sizeof g_outputBuffer);
    secure_zero(g_inputBuffer, sizeof g_inputBuffer);
}

void printError(const std::string& message) { std::fprintf(stderr, "corvane: %s\n", message.c_str()); }

}  // namespace corvane::tool
