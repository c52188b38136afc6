#include "tools/corvane/io/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

namespace corvane::tool {

void occupyClosedStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        // open returns the lowest free number: this one.
        int opened = ::open("/dev/null", O_RDONLY);
        if (opened >= 0 && opened != fd) ::close(opened);
    }
}

}  // namespace corvane::tool
