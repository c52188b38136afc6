#include "tools/corvane/io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/secure_zero.h"
#include "tools/corvane/commands/commands.h"
#include "tools/corvane/io/io.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

const char kOutputHelp[] =
    "With -o FILE the result is written beside FILE and takes its name (mode\n"
    "0600) only when the command succeeds; on a failure FILE is left as it was.\n"
    "Without -o the result goes to standard output as it is made, so a failure\n"
    "(exit status 1) may come after part of it has been written. Binary output\n"
    "is not written to a terminal unless -o - asks for it there.\n";

PendingFile::PendingFile(const std::string& path) : path_(path), temporary_(path + ".XXXXXX") {
    fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
    if (fd_ < 0) failure(path + ": " + std::strerror(errno));
    // The umask may have narrowed the mode; the file is the owner's alone either way.
    if (::fchmod(fd_, S_IRUSR | S_IWUSR) != 0) fail();
}

PendingFile::~PendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(temporary_.c_str());
}

void PendingFile::fail() const { failure(path_ + ": " + std::strerror(errno)); }

void PendingFile::writeAll(std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) failure(path_ + ": " + std::strerror(n < 0 ? errno : EIO));
        written += static_cast<std::size_t>(n);
    }
}

void PendingFile::close() {
    if (::fsync(fd_) != 0) fail();
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) fail();
}

void PendingFile::commit(bool replace) {
    if (replace) {
        if (::rename(temporary_.c_str(), path_.c_str()) != 0) fail();
    } else if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) != 0) {
        // File systems without the no-replace rename: a hard link, which
        // never replaces either.
        if ((errno != EINVAL && errno != ENOSYS) || ::link(temporary_.c_str(), path_.c_str()) != 0) {
            if (errno == EEXIST) failure(path_ + " exists; give --force to replace it");
            fail();
        }
        ::unlink(temporary_.c_str());
    }
    committed_ = true;
}

OutputFile::OutputFile(const std::optional<std::string>& path) {
    if (!path || *path == "-") return;
    file_.emplace(*path);
    const int fd = ::dup(file_->descriptor());
    stream_ = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (stream_ == nullptr) {
        if (fd >= 0) ::close(fd);
        failure(*path + ": " + std::strerror(errno));
    }
    std::setvbuf(stream_, buffer_.data(), _IOFBF, buffer_.size());
    previous_ = redirectOutput(stream_);
}

OutputFile::~OutputFile() { closeStream(); }

void OutputFile::closeStream() noexcept {
    if (stream_ == nullptr) return;
    redirectOutput(previous_ == stdout ? nullptr : previous_);
    std::fclose(stream_);
    stream_ = nullptr;
    secure_zero(buffer_.data(), buffer_.size());
}

void OutputFile::commit() {
    if (!file_) return;
    flushOutput();
    closeStream();
    file_->close();
    file_->commit(true);
}

void declareOutput(Options& options, std::optional<std::string>& output) {
    options.value(
        {"--output", "-o"}, output,
        {"write the result to FILE, which takes its name only when the command succeeds (see --help); - is "
         "standard output, even a terminal",
         "FILE"});
}

int runWithOutput(const std::optional<std::string>& output, const std::function<int()>& body) {
    OutputFile file(output);
    const int status = body();
    if (status == kExitOk) file.commit();
    return status;
}

}  // namespace corvane::tool
