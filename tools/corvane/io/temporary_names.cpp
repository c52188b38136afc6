#include "tools/corvane/io/temporary_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>

namespace corvane::tool {

namespace {

constexpr std::string_view kMark = ".corvane-";
constexpr std::size_t kRandomLetters = 6;
constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool isLetter(char c) { return kLetters.find(c) != std::string_view::npos; }

// Six letters that another writer with the same process id (a reused one)
// is unlikely to pick; the file is created with O_EXCL either way, so the
// letters need not be secret.
std::string randomLetters() {
    std::uint8_t bytes[kRandomLetters];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        auto seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        for (std::uint8_t& byte : bytes) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;
            byte = static_cast<std::uint8_t>(seed >> 56);
        }
    }
    std::string letters;
    for (std::uint8_t byte : bytes) letters += kLetters[byte % kLetters.size()];
    return letters;
}

// Whether no one holds the temporary's lock; false when someone does.
bool unlocked(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
    // EAGAIN or EACCES: held. Anything else: the file system keeps no locks,
    // and the process id alone decides.
    return errno != EAGAIN && errno != EACCES;
}

bool removeIfAbandoned(int directory, const char* name) {
    const std::optional<pid_t> writer = temporaryWriter(name);
    if (!writer || *writer == ::getpid()) return false;
    // EPERM means a live process of another user: kept.
    if (::kill(*writer, 0) == 0 || errno != ESRCH) return false;
    const int fd = ::openat(directory, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    bool removed = false;
    struct stat opened {}, named {};
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == ::geteuid() && unlocked(fd) &&
        ::fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino)
        removed = ::unlinkat(directory, name, 0) == 0;
    ::close(fd);
    return removed;
}

}  // namespace

std::string temporaryNameFor(std::string_view target) {
    const std::string tail = std::string(kMark) + std::to_string(::getpid()) + "-" + randomLetters();
    const std::size_t room = NAME_MAX - 1 - tail.size();
    return "." + std::string(target.substr(0, room)) + tail;
}

std::optional<pid_t> temporaryWriter(std::string_view name) {
    if (name.size() < 1 + kMark.size() + 3 + kRandomLetters || name.front() != '.') return std::nullopt;
    const std::string_view letters = name.substr(name.size() - kRandomLetters);
    for (char c : letters)
        if (!isLetter(c)) return std::nullopt;
    std::string_view rest = name.substr(0, name.size() - kRandomLetters);
    if (rest.back() != '-') return std::nullopt;
    rest.remove_suffix(1);
    const std::size_t mark = rest.rfind(kMark);
    if (mark == std::string_view::npos || mark == 0) return std::nullopt;
    const std::string_view digits = rest.substr(mark + kMark.size());
    if (digits.empty() || digits.size() > 10 || digits.front() == '0') return std::nullopt;
    std::int64_t pid = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        pid = pid * 10 + (c - '0');
    }
    if (pid > INT_MAX) return std::nullopt;
    return static_cast<pid_t>(pid);
}

void holdTemporary(int fd) noexcept {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    (void)::fcntl(fd, F_OFD_SETLK, &lock);
}

std::size_t removeAbandonedTemporaries(int directory) noexcept {
    const int listing = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return 0;
    DIR* entries = ::fdopendir(listing);
    if (entries == nullptr) {
        ::close(listing);
        return 0;
    }
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(entries)) {
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
        if (removeIfAbandoned(directory, entry->d_name)) ++removed;
    }
    ::closedir(entries);
    return removed;
}

}  // namespace corvane::tool
