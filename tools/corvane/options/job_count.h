// --jobs N: how many worker threads a command may start, within what the
// machine can hold. The most is the least of: kJobsPerProcessor for each
// processor the process may run on, as many jobs as the machine's memory
// holds at the command's working set per job, and kMostJobs. More threads
// than processors only add memory, and a number past what memory holds
// ends in the kernel's out-of-memory killer rather than in a message.
#ifndef CORVANE_TOOL_JOB_COUNT_H
#define CORVANE_TOOL_JOB_COUNT_H

#include <cstdint>
#include <optional>
#include <string>

#include "tools/corvane/options/options.h"

namespace corvane::tool {

constexpr std::size_t kJobsPerProcessor = 8;
constexpr std::size_t kMostJobs = 256;

// What bounds the number of jobs on a machine.
struct JobLimit {
    std::size_t most;            // at least 1
    std::size_t processors;      // the processors the process may run on
    std::uint64_t memoryBytes;   // the machine's memory
    std::size_t bytesPerJob;     // the command's working set per job
};

// The limit for processors and memory as given (0 for unknown: that bound
// then does not apply).
JobLimit jobLimit(std::size_t processors, std::uint64_t memoryBytes, std::size_t bytesPerJob);
// The limit on this machine.
JobLimit machineJobLimit(std::size_t bytesPerJob);

// Why N jobs are refused, naming the most and what bounds it.
std::string jobLimitMessage(const JobLimit& limit);

// The number of jobs --jobs asks for (text), or without it the processors,
// either way within the machine's limit; a text that is not a number from
// 1 to that limit is a usage error naming the limit.
std::size_t jobCount(const Options& options, const std::optional<std::string>& text, std::size_t bytesPerJob);

}  // namespace corvane::tool

#endif
