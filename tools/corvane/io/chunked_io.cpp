#include "tools/corvane/io/chunked_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>

#include "platform/secure_zero.h"
#include "tools/corvane/tool_error.h"

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

std::FILE* openInput(const std::string& path) {
    errno = 0;
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) failure(inputName(path) + ": " + std::strerror(errno != 0 ? errno : EIO));
    return file;
}

// The input file, closed (unless it is standard input) when done.
class InputFile {
public:
    InputFile(const std::string& path, bool progress)
        : name_(inputName(path)), file_(openInput(path)), reader_(file_, name_, progress) {}
    ~InputFile() {
        if (file_ != stdin) std::fclose(file_);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Fills buffer as far as the input goes; 0 at its end.
    std::size_t read(std::span<std::uint8_t> buffer) {
        errno = 0;
        std::size_t n = reader_.read(buffer);
        if (n < buffer.size() && std::ferror(file_)) {
            int cause = errno;
            failure(name_ + ": " + (cause != 0 ? std::strerror(cause) : "read error"));
        }
        return n;
    }
    void finish() { reader_.finish(); }

private:
    std::string name_;
    std::FILE* file_;
    CountingReader reader_;
};

// Sizes as people read them: bytes, then KiB, MiB, GiB with one decimal.
std::string humanSize(double bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    std::size_t unit = 0;
    while (bytes >= 1024 && unit + 1 < std::size(units)) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

std::string clockTime(double seconds) {
    auto whole = static_cast<unsigned long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%llu:%02llu", whole / 60, whole % 60);
    return text;
}

// Redraws on a terminal, and plain lines elsewhere, are this far apart at
// least.
constexpr std::chrono::milliseconds kRedrawInterval{250};
constexpr std::chrono::milliseconds kPlainLineInterval{5000};

}  // namespace

const char kProgressHelp[] =
    "show the reading's progress on standard error (bytes, rate, time left): redrawn in place on a terminal, "
    "a plain line every five seconds elsewhere";

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

HeadCheck::~HeadCheck() { secure_zero(head_.data(), head_.size()); }

void HeadCheck::write(std::span<const std::uint8_t> bytes) {
    if (!released_) {
        const std::size_t take = std::min(bytes.size(), length_ - head_.size());
        head_.insert(head_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        if (head_.size() < length_) return;
        release(false);
    }
    out_.write(bytes);
}

void HeadCheck::finish() {
    if (!released_) release(true);
    out_.finish();
}

void HeadCheck::release(bool whole) {
    released_ = true;
    judge(head_, whole);
    out_.write(head_);
    secure_zero(head_.data(), head_.size());
}

CountingReader::CountingReader(std::FILE* file, std::string name, bool progress, std::string items)
    : file_(file),
      name_(std::move(name)),
      progress_(progress),
      inPlace_(::isatty(STDERR_FILENO) == 1),
      items_(std::move(items)) {
    struct stat info {};
    if (progress_ && ::fstat(::fileno(file_), &info) == 0 && S_ISREG(info.st_mode))
        total_ = static_cast<std::uint64_t>(info.st_size);
    start_ = lastDraw_ = std::chrono::steady_clock::now();
}

CountingReader::~CountingReader() {
    if (drawnWidth_ > 0) std::fputc('\n', stderr);
}

std::size_t CountingReader::read(std::span<std::uint8_t> buffer) {
    std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file_);
    count_ += n;
    drawIfDue();
    return n;
}

void CountingReader::countItems(std::uint64_t count) {
    itemCount_ += count;
    drawIfDue();
}

void CountingReader::drawIfDue() {
    if (progress_ && std::chrono::steady_clock::now() - lastDraw_ >= (inPlace_ ? kRedrawInterval : kPlainLineInterval))
        draw(false);
}

void CountingReader::clearLine() {
    if (drawnWidth_ == 0) return;
    std::fprintf(stderr, "\r%s\r", std::string(drawnWidth_, ' ').c_str());
    std::fflush(stderr);
    drawnWidth_ = 0;
}

void CountingReader::finish() {
    if (!progress_) return;
    draw(true);
    progress_ = false;
}

void CountingReader::draw(bool final) {
    auto now = std::chrono::steady_clock::now();
    lastDraw_ = now;
    double seconds = std::chrono::duration<double>(now - start_).count();
    double rate = seconds > 0 ? static_cast<double>(count_) / seconds : 0;
    std::string line = name_ + ": ";
    // Items lead, with their own rate; bytes stay for the share of the
    // input done and the time left.
    const bool items = !items_.empty();
    if (items) line += std::to_string(itemCount_) + " " + items_ + (final ? " (" : ", ");
    if (final) {
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.1f s", seconds);
        line += std::to_string(count_) + (items ? " bytes) in " : " bytes in ") + elapsed;
    } else {
        line += humanSize(static_cast<double>(count_));
        if (total_ && *total_ >= count_) {
            line += " of " + humanSize(static_cast<double>(*total_));
            if (*total_ > 0) line += " (" + std::to_string(count_ * 100 / *total_) + "%)";
        }
    }
    if (items && seconds > 0) {
        char itemRate[48];
        std::snprintf(itemRate, sizeof itemRate, "%.0f", static_cast<double>(itemCount_) / seconds);
        line += std::string(", ") + itemRate + " " + items_ + "/s";
    } else if (!items && rate > 0) {
        line += ", " + humanSize(rate) + "/s";
    }
    if (!final && total_ && *total_ >= count_ && rate > 0)
        line += ", " + clockTime(static_cast<double>(*total_ - count_) / rate) + " left";
    if (!inPlace_) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
        return;
    }
    // Blanks over what is left of a longer earlier line.
    std::size_t width = line.size();
    if (width < drawnWidth_) line.append(drawnWidth_ - width, ' ');
    std::fprintf(stderr, "\r%s%s", line.c_str(), final ? "\n" : "");
    std::fflush(stderr);
    drawnWidth_ = final ? 0 : width;
}

std::size_t chunkSize() {
    static const std::size_t size = chunkSizeFromEnvironment();
    return size;
}

void pumpInput(const std::vector<std::string>& files, ByteSink& sink, bool progress) {
    InputFile input(files.empty() ? "-" : files.front(), progress);
    std::vector<std::uint8_t> buffer(chunkSize());
    struct Wipe {
        std::vector<std::uint8_t>& buffer;
        ~Wipe() { secure_zero(buffer.data(), buffer.size()); }
    } wipe{buffer};
    while (std::size_t n = input.read(buffer)) sink.write(std::span(buffer).first(n));
    sink.finish();
    input.finish();
}

}  // namespace corvane::tool
