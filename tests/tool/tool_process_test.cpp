// The tool's process-wide protections, each run in a child process of its
// own (they cannot be undone): no core dumps and no debugger attachment
// once a command holds secrets, and closed standard streams that no file
// can take the place of.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>

#include "tools/corvane/io/standard_streams.h"
#include "tools/corvane/secrets/memory_protection.h"

namespace {

// Runs check in a forked child; its result is the child's exit status.
bool inChild(const std::function<bool()>& check) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(check() ? 0 : 1);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ToolProcess, SecretsTurnOffCoreDumpsAndDebuggerAttachment) {
    EXPECT_TRUE(inChild([] {
        corvane::tool::protectSecretsFromDumps();
        rlimit core{};
        return ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0 && ::getrlimit(RLIMIT_CORE, &core) == 0 &&
               core.rlim_cur == 0 && core.rlim_max == 0;
    }));
}

// Each of the three streams closed in turn: the next file opened does not
// get its number, and a write to the stream still fails.
TEST(ToolProcess, ClosedStandardStreamsKeepTheirNumbers) {
    for (int stream = 0; stream <= 2; ++stream) {
        EXPECT_TRUE(inChild([stream] {
            ::close(stream);
            corvane::tool::occupyClosedStandardStreams();
            int file = ::open("/dev/null", O_WRONLY);
            errno = 0;
            bool writeFails = stream == 0 || (::write(stream, "x", 1) < 0 && errno == EBADF);
            return file > 2 && ::fcntl(stream, F_GETFD) != -1 && writeFails;
        })) << "stream " << stream;
    }
}

}  // namespace
