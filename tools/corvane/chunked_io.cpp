#include "chunked_io.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

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

StdoutSink::StdoutSink() {
    filling_.reserve(chunkSize());
    writing_.reserve(chunkSize());
    writer_ = std::thread([this] { writerLoop(); });
}

StdoutSink::~StdoutSink() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    writer_.join();
    secure_zero(filling_.data(), filling_.capacity());
    secure_zero(writing_.data(), writing_.capacity());
}

void StdoutSink::writerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || stopping_; });
        if (!busy_) return;
        lock.unlock();
        std::exception_ptr failed;
        try {
            writeBytes(writing_);
        } catch (...) {
            failed = std::current_exception();
        }
        lock.lock();
        if (failed && !failure_) failure_ = failed;
        busy_ = false;
        changed_.notify_all();
    }
}

// Waits until the writer is done with writing_; its failure, if any, is
// thrown here, once.
void StdoutSink::waitForWriter(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [this] { return !busy_; });
    if (failure_) {
        std::exception_ptr failed = std::exchange(failure_, nullptr);
        filling_.clear();
        std::rethrow_exception(failed);
    }
}

void StdoutSink::handOver() {
    std::unique_lock<std::mutex> lock(mutex_);
    waitForWriter(lock);
    if (filling_.empty()) return;
    secure_zero(writing_.data(), writing_.size());
    std::swap(filling_, writing_);
    filling_.clear();
    busy_ = true;
    changed_.notify_all();
}

void StdoutSink::write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        std::size_t room = std::max(chunkSize(), filling_.capacity()) - filling_.size();
        std::size_t take = std::min(room, bytes.size());
        filling_.insert(filling_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        if (!bytes.empty() || filling_.size() >= chunkSize()) handOver();
    }
}

void StdoutSink::finish() {
    handOver();
    std::unique_lock<std::mutex> lock(mutex_);
    waitForWriter(lock);
}

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
