// The names of the tool's named temporary files, and the removal of those a
// killed run left behind.
//
// Where a file system cannot make unnamed files, an output file is written
// under a hidden name beside its target, ".<name>.corvane-<pid>-XXXXXX"
// (the target's name, cut to fit; the writer's process id; six random
// letters or digits), mode 0600. The writer holds a lock on it while it
// lives. A SIGKILL gives the writer no chance to remove it, so every run
// that writes into a folder first removes the temporaries there whose
// writer is gone: the process id names no live process and no one holds
// the lock. Temporaries of other users, of live writers and names of any
// other form are left alone.
#ifndef CORVANE_TOOL_TEMPORARY_NAMES_H
#define CORVANE_TOOL_TEMPORARY_NAMES_H

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace corvane::tool {

// A new temporary name for a file named target in this process: at most
// 255 bytes, whatever the target's length.
std::string temporaryNameFor(std::string_view target);

// The writer's process id when name has the temporaries' form.
std::optional<pid_t> temporaryWriter(std::string_view name);

// Takes the lock that tells a sweep the temporary open at fd is in use;
// held while any descriptor of that open file lives. Best effort: a file
// system without locks leaves the process id as the only sign.
void holdTemporary(int fd) noexcept;

// Removes the temporaries in the folder open at directory whose writer is
// gone; returns how many. Errors are ignored: a folder that cannot be read
// is simply not swept.
std::size_t removeAbandonedTemporaries(int directory) noexcept;

}  // namespace corvane::tool

#endif
