// Lines processed in groups on worker threads and written in input order,
// for the commands that treat each line as an item (envelope ... --lines).
//
// This thread reads a group of lines, hands it to one of `jobs` workers, and
// writes the groups back in the order they were read. At most 2 * jobs
// groups are in flight, so memory stays bounded by the group size and the
// line limit, whatever the input's length. With one job no thread is
// started. Lines and outputs may be secrets: both are wiped once written.
#ifndef CORVANE_TOOL_ORDERED_GROUPS_H
#define CORVANE_TOOL_ORDERED_GROUPS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/corvane/io/line_reader.h"

namespace corvane::tool {

struct LineGroup {
    std::vector<std::string> lines;
    std::vector<char> tooLong;  // per line: longer than the reader's limit (the line is then empty)
    // Filled by the work, one per line: the text to write (without its line
    // feed), or where error is not empty, "error: <error>" is written instead.
    std::vector<std::string> outputs;
    std::vector<std::string> errors;

    void resize(std::size_t count);
    void wipe();
    ~LineGroup() { wipe(); }
};

// The work on one group; worker is 0 to jobs - 1, the same for every group
// a thread runs, so that per-thread state (a random pool) can be kept by it.
using GroupWork = std::function<void(LineGroup& group, std::size_t worker)>;

// Reads every line of the reader, groupSize at a time, runs work on each
// group, and writes each line's output or error in order; a line's error
// is also reported on standard error as "corvane: <command>: <input>, line
// N: <error>". Returns true when no line had an error. A failure thrown by
// the work (out of memory) is thrown here when its group's turn comes.
bool runOrderedGroups(LineReader& reader, std::size_t groupSize, std::size_t jobs, const GroupWork& work,
                      const std::string& command);

}  // namespace corvane::tool

#endif
