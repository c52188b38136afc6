// The modern layer's random pool: seeds itself on construction and wipes
// itself on destruction; seeded with fixed bytes it is reproducible.
#include <Corvane/corvane.hpp>
#include <cstdio>
#include <string>

namespace cv = corvane::v1;

int main() {
    cv::RandomPool pool;  // clock and system entropy: ready at once
    std::vector<std::uint8_t> fresh = pool.generate(24);

    std::string seed(256, 's');  // the pool wants 256 seed bytes before any output
    cv::RandomPool a = cv::RandomPool::fromSeed(seed);
    cv::RandomPool b = cv::RandomPool::fromSeed(seed);
    bool reproducible = a.generate(24) == b.generate(24);

    cv::RandomPool unseeded = cv::RandomPool::fromSeed("too short");
    bool refused = false;
    try {
        unseeded.generate(1);
    } catch (const cv::Error& e) {
        refused = e.code() == corvane::ErrorCode::notSeeded;
    }

    std::printf("from the clock: ");
    for (std::uint8_t c : fresh) std::printf("%02x", c);
    std::printf("\nsame seed, same bytes: %s; short seed refused: %s\n", reproducible ? "yes" : "no",
                refused ? "yes" : "no");
    return fresh.size() == 24 && reproducible && refused ? 0 : 1;
}
