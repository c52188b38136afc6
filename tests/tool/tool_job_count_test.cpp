// --jobs within what the machine holds: the bound per processor, the bound
// of memory at the command's working set, the overall ceiling, whichever is
// least, and the message that names it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tools/corvane/options/job_count.h"

namespace {

using namespace corvane::tool;

constexpr std::uint64_t kMiB = 1024 * 1024;

TEST(ToolJobCount, TheLeastBoundDecidesAndIsNamed) {
    struct Case {
        std::size_t processors;
        std::uint64_t memory;
        std::size_t most;
        const char* message;
    };
    const Case cases[] = {
        {2, 24 * 1024 * kMiB, 16, "--jobs takes 1 to 16 on this machine: 8 a processor, 2 processors"},
        {1, 24 * 1024 * kMiB, 8, "--jobs takes 1 to 8 on this machine: 8 a processor, 1 processor"},
        {64, 1024 * 1024 * kMiB, 256, "--jobs takes 1 to 256"},
        {16, 100 * kMiB, 6, "--jobs takes 1 to 6 on this machine: its 100 MiB of memory at 16 MiB a job"},
        // Less memory than one job: one job still runs, as without --jobs.
        {4, 10 * kMiB, 1, "--jobs takes 1 to 1 on this machine: its 10 MiB of memory at 16 MiB a job"},
        // Unknown processors or memory: that bound does not apply.
        {0, 128 * kMiB, 8, "--jobs takes 1 to 8 on this machine: its 128 MiB of memory at 16 MiB a job"},
        {3, 0, 24, "--jobs takes 1 to 24 on this machine: 8 a processor, 3 processors"},
        {0, 0, 256, "--jobs takes 1 to 256"},
    };
    for (const Case& c : cases) {
        const JobLimit limit = jobLimit(c.processors, c.memory, 16 * kMiB);
        EXPECT_EQ(limit.most, c.most) << c.processors << " processors, " << c.memory << " bytes";
        EXPECT_EQ(jobLimitMessage(limit), c.message);
    }
}

TEST(ToolJobCount, ThisMachinesLimitKeepsWithinItsBounds) {
    const JobLimit limit = machineJobLimit(16 * kMiB);
    EXPECT_GE(limit.processors, 1u);
    EXPECT_GT(limit.memoryBytes, 0u);
    EXPECT_GE(limit.most, 1u);
    EXPECT_LE(limit.most, kMostJobs);
    EXPECT_LE(limit.most, limit.processors * kJobsPerProcessor);
    EXPECT_LE(limit.most, limit.memoryBytes / (16 * kMiB));
}

}  // namespace
