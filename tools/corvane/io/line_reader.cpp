#include "tools/corvane/io/line_reader.h"

#include <cerrno>
#include <cstring>

#include "platform/secure_zero.h"
#include "tools/corvane/io/chunked_io.h"
#include "tools/corvane/io/io.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

LineReader::LineReader(const std::string& path, std::size_t maxLength, bool progress)
    : file_(path == "-" ? stdin : std::fopen(path.c_str(), "rb")),
      name_(inputName(path)),
      maxLength_(maxLength),
      buffer_(chunkSize()) {
    if (file_ == nullptr) failure(name_ + ": " + std::strerror(errno));
    counter_.emplace(file_, name_, progress, "records");
}

LineReader::~LineReader() {
    // Ends a progress line left open before the file goes.
    counter_.reset();
    secure_zero(buffer_.data(), buffer_.size());
    if (file_ != stdin) std::fclose(file_);
}

// Refills the buffer once everything in it is used; false at the end.
bool LineReader::fill() {
    errno = 0;
    begin_ = 0;
    end_ = counter_->read(std::span(reinterpret_cast<std::uint8_t*>(buffer_.data()), buffer_.size()));
    if (end_ == 0 && std::ferror(file_))
        failure(name_ + ": " + (errno != 0 ? std::strerror(errno) : "read error"));
    return end_ > 0;
}

bool LineReader::next(std::string& line, bool& tooLong) {
    secure_zero(line.data(), line.size());
    line.clear();
    // Room for the longest line kept, reserved once: appending never moves
    // the bytes and leaves a copy behind.
    line.reserve(maxLength_ + 1);
    tooLong = false;
    bool any = false;  // bytes (or a line feed) seen for this line
    while (begin_ < end_ || fill()) {
        any = true;
        const char* start = buffer_.data() + begin_;
        const void* found = std::memchr(start, '\n', end_ - begin_);
        std::size_t length = found != nullptr
                                 ? static_cast<std::size_t>(static_cast<const char*>(found) - start)
                                 : end_ - begin_;
        if (!tooLong && line.size() + length <= maxLength_ + 1) {
            // One byte over the limit is kept: it may be the carriage return of a CRLF end.
            line.append(start, length);
        } else if (!tooLong) {
            tooLong = true;
            secure_zero(line.data(), line.size());
            line.clear();
        }
        begin_ += length;
        if (found != nullptr) {
            ++begin_;
            break;
        }
    }
    if (!tooLong && !line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > maxLength_) {
        tooLong = true;
        secure_zero(line.data(), line.size());
        line.clear();
    }
    return any;
}

}  // namespace corvane::tool
