#include "chunked_io.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "../../platform/secure_zero.h"
#include "tool_error.h"

namespace corvane::tool {

namespace {

constexpr std::size_t kDefaultChunkSize = std::size_t{1} << 20;
// A test that asks for more than this gets the default instead: the bound on
// memory must hold whatever the environment says.
constexpr std::size_t kLargestChunkSize = std::size_t{8} << 20;

std::size_t chunkSizeFromEnvironment() {
    const char* text = std::getenv("CORVANE_TOOL_CHUNK_SIZE");
    if (text == nullptr) return kDefaultChunkSize;
    std::string_view view(text);
    std::size_t size = 0;
    auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), size);
    if (ec != std::errc() || end != view.data() + view.size() || size == 0 || size > kLargestChunkSize)
        return kDefaultChunkSize;
    return size;
}

// The input file, closed (unless it is standard input) when done.
class InputFile {
public:
    explicit InputFile(const std::string& path) : name_(path == "-" ? "standard input" : path) {
        errno = 0;
        file_ = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
        if (file_ == nullptr) failWith(errno);
    }
    ~InputFile() {
        if (file_ != nullptr && file_ != stdin) std::fclose(file_);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Fills buffer as far as the input goes; 0 at its end.
    std::size_t read(std::span<std::uint8_t> buffer) {
        errno = 0;
        std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file_);
        if (n < buffer.size() && std::ferror(file_)) failWith(errno);
        return n;
    }

private:
    [[noreturn]] void failWith(int cause) {
        failure(name_ + ": " + (cause != 0 ? std::strerror(cause) : "read error"));
    }

    std::string name_;
    std::FILE* file_ = nullptr;
};

}  // namespace

std::size_t chunkSize() {
    static const std::size_t size = chunkSizeFromEnvironment();
    return size;
}

void pumpInput(const std::vector<std::string>& files, ByteSink& sink) {
    InputFile input(files.empty() ? "-" : files.front());
    std::vector<std::uint8_t> buffer(chunkSize());
    struct Wipe {
        std::vector<std::uint8_t>& buffer;
        ~Wipe() { secure_zero(buffer.data(), buffer.size()); }
    } wipe{buffer};
    while (std::size_t n = input.read(buffer)) sink.write(std::span(buffer).first(n));
    sink.finish();
}

}  // namespace corvane::tool
