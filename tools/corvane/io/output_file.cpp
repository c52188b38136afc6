#include "tools/corvane/io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/secure_zero.h"
#include "tools/corvane/commands/commands.h"
#include "tools/corvane/io/io.h"
#include "tools/corvane/io/temporary_names.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

const char kOutputHelp[] =
    "With -o FILE the result is written beside FILE and takes its name (mode\n"
    "0600) only when the command succeeds; on a failure FILE is left as it was.\n"
    "Until then the file has no name, so a stopped or killed command leaves\n"
    "nothing behind; where the file system cannot make such files, it has a\n"
    "hidden name, .FILE.corvane-PID-XXXXXX, which SIGINT, SIGTERM, SIGHUP and\n"
    "SIGQUIT remove, and which after a SIGKILL the next corvane command that\n"
    "writes into that folder removes.\n"
    "Without -o the result goes to standard output as it is made, so a failure\n"
    "(exit status 1) may come after part of it has been written. Binary output\n"
    "is not written to a terminal unless -o - asks for it there.\n";

namespace {

// Whether open(O_TMPFILE) failing with this error means that the file
// system (or the kernel) cannot make unnamed files, rather than a fault the
// named path would meet as well.
bool noUnnamedFiles(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

bool unnamedFilesRefused() {
    const char* setting = std::getenv("CORVANE_TOOL_NO_TMPFILE");
    return setting != nullptr && std::strcmp(setting, "1") == 0;
}

}  // namespace

PendingFile::PendingFile(const std::string& path) : path_(path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    name_ = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name_.empty() || name_ == "." || name_ == "..") failWith(EISDIR);
    directory_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder one may write in but not list still takes files.
    if (directory_ < 0 && errno == EACCES) directory_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directory_ < 0) fail();
    // The result takes the place of a file (or of a link, not followed);
    // renaming it over a device or a pipe (-o /dev/null as root) would
    // replace that node instead of writing to it.
    struct stat existing {};
    if (::fstatat(directory_, name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(existing.st_mode) &&
        !S_ISLNK(existing.st_mode))
        failure(path_ + " is not a regular file; only a regular file is replaced");
    removeAbandonedTemporaries(directory_);

    if (!unnamedFilesRefused()) {
        fd_ = ::openat(directory_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd_ < 0 && !noUnnamedFiles(errno)) fail();
    }
    unnamed_ = fd_ >= 0;
    if (!unnamed_) openNamed();
    // The umask may have narrowed the mode; the file is the owner's alone either way.
    if (::fchmod(fd_, S_IRUSR | S_IWUSR) != 0) fail();
}

// The fallback: a hidden name, held for removal before the file exists.
void PendingFile::openNamed() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = temporaryNameFor(name_);
        removal_.hold(directory_, temporary_);
        fd_ = ::openat(directory_, temporary_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC,
                       S_IRUSR | S_IWUSR);
        if (fd_ >= 0) break;
        const int error = errno;
        removal_.clear();
        temporary_.clear();
        if (error != EEXIST) failWith(error);
    }
    if (fd_ < 0) failWith(EEXIST);
    // A second descriptor of the same open file keeps the lock, which tells
    // other runs the file is in use, from close() until the name goes.
    holdTemporary(fd_);
    hold_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 3);
    if (hold_ < 0) fail();
}

PendingFile::~PendingFile() {
    closeDescriptor(fd_);
    if (!committed_ && !temporary_.empty()) ::unlinkat(directory_, temporary_.c_str(), 0);
    removal_.clear();
    closeDescriptor(hold_);
    closeDescriptor(directory_);
}

void PendingFile::closeDescriptor(int& fd) {
    if (fd >= 0) ::close(std::exchange(fd, -1));
}

void PendingFile::fail() const { failWith(errno); }

void PendingFile::failWith(int error) const { failure(path_ + ": " + std::strerror(error)); }

void PendingFile::writeAll(std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) failWith(n < 0 ? errno : EIO);
        written += static_cast<std::size_t>(n);
    }
}

void PendingFile::close() {
    if (::fsync(fd_) != 0) fail();
    // An unnamed file is linked through its descriptor, which stays open
    // until then. A named one is closed now, so that a file system that
    // reports write errors only at close (NFS) reports them before commit.
    if (unnamed_) return;
    if (::close(std::exchange(fd_, -1)) != 0) fail();
}

// Links the unnamed file as name: through /proc, or where that is not
// mounted, through the descriptor itself (which needs CAP_DAC_READ_SEARCH).
void PendingFile::linkAs(const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, self.c_str(), directory_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
    if (errno != ENOENT || ::linkat(fd_, "", directory_, name.c_str(), AT_EMPTY_PATH) != 0) {
        if (errno == EEXIST) failure(path_ + " exists; give --force to replace it");
        fail();
    }
}

void PendingFile::commitUnnamed(bool replace) {
    if (!replace) {
        // link() never replaces: the file appears whole under its name, or not at all.
        linkAs(name_);
        if (::close(std::exchange(fd_, -1)) != 0) {
            const int error = errno;
            ::unlinkat(directory_, name_.c_str(), 0);
            failWith(error);
        }
        return;
    }
    // rename() replaces atomically, but only names: the file gets a hidden
    // one first, held for removal like the fallback's.
    for (int attempt = 0;; ++attempt) {
        temporary_ = temporaryNameFor(name_);
        removal_.hold(directory_, temporary_);
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        if (::linkat(AT_FDCWD, self.c_str(), directory_, temporary_.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
            (errno == ENOENT && ::linkat(fd_, "", directory_, temporary_.c_str(), AT_EMPTY_PATH) == 0))
            break;
        const int error = errno;
        removal_.clear();
        temporary_.clear();
        if (error != EEXIST || attempt == 100) failWith(error);
    }
    if (::close(std::exchange(fd_, -1)) != 0) fail();
    if (::renameat(directory_, temporary_.c_str(), directory_, name_.c_str()) != 0) fail();
}

void PendingFile::commitNamed(bool replace) {
    if (replace) {
        if (::renameat(directory_, temporary_.c_str(), directory_, name_.c_str()) != 0) fail();
        return;
    }
    if (::renameat2(directory_, temporary_.c_str(), directory_, name_.c_str(), RENAME_NOREPLACE) == 0) return;
    // File systems without the no-replace rename: a hard link, which never
    // replaces either.
    if ((errno != EINVAL && errno != ENOSYS) ||
        ::linkat(directory_, temporary_.c_str(), directory_, name_.c_str(), 0) != 0) {
        if (errno == EEXIST) failure(path_ + " exists; give --force to replace it");
        fail();
    }
    ::unlinkat(directory_, temporary_.c_str(), 0);
}

void PendingFile::commit(bool replace) {
    if (unnamed_)
        commitUnnamed(replace);
    else
        commitNamed(replace);
    committed_ = true;
    removal_.clear();
    temporary_.clear();
    closeDescriptor(hold_);
    // The new name on the disk as well. Best effort: the file is in place
    // by now, and a folder opened for search only cannot be synced.
    (void)::fsync(directory_);
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

namespace {
constexpr std::size_t kQuarantineBuffer = 64 * 1024;
}

QuarantineFile::QuarantineFile(const std::string& path, std::string input)
    : file_(path), input_(std::move(input)) {
    buffer_.reserve(kQuarantineBuffer);
}

void QuarantineFile::add(std::uint64_t line, const std::string& reason, std::string_view text) {
    buffer_ += input_;
    buffer_ += '\t';
    buffer_ += std::to_string(line);
    buffer_ += '\t';
    buffer_ += reason;
    buffer_ += '\t';
    buffer_ += text;
    buffer_ += '\n';
    if (buffer_.size() >= kQuarantineBuffer) writeBuffer();
}

void QuarantineFile::writeBuffer() {
    file_.writeAll(std::span(reinterpret_cast<const std::uint8_t*>(buffer_.data()), buffer_.size()));
    buffer_.clear();
}

void QuarantineFile::commit() {
    writeBuffer();
    file_.close();
    file_.commit(true);
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
