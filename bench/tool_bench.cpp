// The corvane tool beside coreutils on one large file: `corvane base64`
// against `base64 -w0` for encoding, and `corvane base64 -d` against
// `base64 -d` for decoding (text in 76-character lines, as base64 writes it
// by default, and on one line). Each run is a process reading the file from
// the page cache and writing its output to a file; the time is the wall
// time from start to exit, the median over the repetitions.
//
// The files come from CORVANE_BENCH_DIR when it holds them (input.bin,
// input.b64 on one line, input76.b64 in lines; bench/tool_base64.sh makes
// them), else they are made in a temporary folder, CORVANE_BENCH_MB
// megabytes of random bytes (200 by default), and removed at the end. Peak
// memory is measured by bench/tool_base64.sh with GNU time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Runs argv with standard output to outPath; the exit status.
int run(const std::vector<std::string>& argv, const std::string& outPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The input files, made once.
class Files {
public:
    Files() {
        const char* given = std::getenv("CORVANE_BENCH_DIR");
        if (given != nullptr && fs::exists(fs::path(given) / "input76.b64")) {
            dir_ = given;
            return;
        }
        const char* mb = std::getenv("CORVANE_BENCH_MB");
        std::size_t megabytes = mb != nullptr ? std::stoul(mb) : 200;
        std::string pattern = (fs::temp_directory_path() / "corvane-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        owned_ = true;
        std::ofstream out(file("input.bin"), std::ios::binary);
        std::mt19937_64 rng(200);
        std::vector<std::uint64_t> block(1 << 17);
        for (std::size_t written = 0; written < megabytes * 1000000; written += block.size() * 8) {
            for (auto& word : block) word = rng();
            std::size_t n = std::min(block.size() * 8, megabytes * 1000000 - written);
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        }
        out.close();
        if (run({"base64", "-w0", file("input.bin")}, file("input.b64")) != 0 ||
            run({"base64", file("input.bin")}, file("input76.b64")) != 0)
            throw std::runtime_error("coreutils base64 failed");
    }
    ~Files() {
        std::error_code ignored;
        if (owned_) fs::remove_all(dir_, ignored);
    }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }

private:
    fs::path dir_;
    bool owned_ = false;
};

const Files& files() {
    static const Files instance;
    return instance;
}

void runCommand(benchmark::State& state, std::vector<std::string> argv, const std::string& input) {
    if (argv[0] == "corvane") argv[0] = CORVANE_TOOL;
    argv.push_back(files().file(input));
    const std::string out = files().file("output");
    run(argv, out);  // once untimed: the input in the page cache
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        int status = run(argv, out);
        auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status != 0) state.SkipWithError("the command failed");
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(files().file(input))));
}

#define TOOL_CASE(name, input, ours, theirs)                                                \
    BENCHMARK_CAPTURE(runCommand, name##_corvane, std::vector<std::string> ours, input)     \
        ->Name(#name "/corvane")                                                            \
        ->UseManualTime()                                                                   \
        ->Unit(benchmark::kMillisecond)                                                     \
        ->MinTime(2.0);                                                                     \
    BENCHMARK_CAPTURE(runCommand, name##_coreutils, std::vector<std::string> theirs, input) \
        ->Name(#name "/coreutils")                                                          \
        ->UseManualTime()                                                                   \
        ->Unit(benchmark::kMillisecond)                                                     \
        ->MinTime(2.0)

TOOL_CASE(base64_encode, "input.bin", ({"corvane", "base64"}), ({"base64", "-w0"}));
TOOL_CASE(base64_decode_76_columns, "input76.b64", ({"corvane", "base64", "-d"}), ({"base64", "-d"}));
TOOL_CASE(base64_decode_one_line, "input.b64", ({"corvane", "base64", "-d"}), ({"base64", "-d"}));

}  // namespace
