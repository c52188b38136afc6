#include "tools/corvane/options/job_count.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <thread>

namespace corvane::tool {

namespace {

std::size_t usableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<std::size_t>(CPU_COUNT(&set));
    return std::thread::hardware_concurrency();
}

std::uint64_t physicalMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

std::string mebibytes(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

}  // namespace

JobLimit jobLimit(std::size_t processors, std::uint64_t memoryBytes, std::size_t bytesPerJob) {
    std::size_t most = kMostJobs;
    if (processors > 0) most = std::min(most, processors * kJobsPerProcessor);
    if (memoryBytes > 0 && bytesPerJob > 0)
        most = static_cast<std::size_t>(std::min<std::uint64_t>(most, memoryBytes / bytesPerJob));
    return {std::max<std::size_t>(most, 1), processors, memoryBytes, bytesPerJob};
}

JobLimit machineJobLimit(std::size_t bytesPerJob) {
    return jobLimit(usableProcessors(), physicalMemory(), bytesPerJob);
}

std::string jobLimitMessage(const JobLimit& limit) {
    std::string message = "--jobs takes 1 to " + std::to_string(limit.most);
    if (limit.most == kMostJobs) return message;
    const bool memoryBinds = limit.memoryBytes > 0 && limit.bytesPerJob > 0 &&
                             limit.memoryBytes / limit.bytesPerJob <= limit.most;
    if (memoryBinds)
        return message + " on this machine: its " + mebibytes(limit.memoryBytes) + " of memory at " +
               mebibytes(limit.bytesPerJob) + " a job";
    return message + " on this machine: " + std::to_string(kJobsPerProcessor) + " a processor, " +
           std::to_string(limit.processors) + (limit.processors == 1 ? " processor" : " processors");
}

std::size_t jobCount(const Options& options, const std::optional<std::string>& text, std::size_t bytesPerJob) {
    const JobLimit limit = machineJobLimit(bytesPerJob);
    if (!text) return std::clamp<std::size_t>(limit.processors, 1, limit.most);
    std::size_t jobs = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), jobs);
    if (text->empty() || ec != std::errc() || end != text->data() + text->size() || jobs == 0 || jobs > limit.most)
        options.fail(jobLimitMessage(limit));
    return jobs;
}

}  // namespace corvane::tool
