// Replays a fuzz target's corpus without a fuzzing engine: every file of
// every folder named (and every file named) goes once through the target's
// LLVMFuzzerTestOneInput, in name order, so that the ordinary test run (any
// compiler, the sanitizer preset) checks each kept input against the
// target's properties. A violated property aborts, as under libFuzzer; the
// driver fails as well when it finds no input at all (a corpus folder that
// was moved would otherwise pass unnoticed).
//
//   fuzz_replay_<target> FOLDER_OR_FILE...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsOf(const fs::path& path) {
    std::vector<fs::path> found;
    std::error_code error;
    if (fs::is_directory(path, error)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(path))
            if (entry.is_regular_file()) found.push_back(entry.path());
        std::sort(found.begin(), found.end());
    } else if (fs::is_regular_file(path, error)) {
        found.push_back(path);
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::vector<fs::path> inputs = inputsOf(argv[i]);
        if (inputs.empty()) {
            std::fprintf(stderr, "%s: no input files\n", argv[i]);
            return 1;
        }
        for (const fs::path& input : inputs) {
            std::ifstream file(input, std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            if (!file.good() && !file.eof()) {
                std::fprintf(stderr, "%s: cannot read\n", input.c_str());
                return 1;
            }
            // A copy of exactly the input's size, as libFuzzer passes it, so
            // that the sanitizer sees a read past its end.
            // (An empty input still gets a valid pointer.)
            std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
            const std::size_t size = data.size();
            if (data.empty()) data.resize(1);
            LLVMFuzzerTestOneInput(data.data(), size);
            ++replayed;
        }
    }
    if (replayed == 0) {
        std::fprintf(stderr, "usage: %s FOLDER_OR_FILE...\n", argv[0]);
        return 1;
    }
    std::fprintf(stderr, "replayed %zu inputs\n", replayed);
    return 0;
}
