// A dudect-style check that the triple-DES engines take the same time
// whatever the key and the data: Welch's t-test between two classes of
// inputs, one fixed (an all-zero key and ciphertext) and one random (fresh
// key and ciphertext for every call), the classes' calls interleaved at
// random so that a change in the machine's load falls on both, the slowest
// calls cut at several percentiles as dudect does. |t| above 10 (dudect's
// "definitely not constant time") fails. On every tier this CPU has: the
// short-message kernel on one block and on eight, bitsliced passes, and a
// batch of messages in the short kernel's lanes.
//
// Long: millions of calls, so it runs only when CORVANE_LONG_TESTS=1.
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "engine/des/des3_engine.h"
#include "tests/support/test_support.h"

using namespace corvane::test;
using corvane::des::DesMethod;
using corvane::des::DesPath;

namespace {

struct Welch {
    double n[2] = {}, mean[2] = {}, m2[2] = {};
    void add(int c, double x) {
        n[c] += 1;
        const double d = x - mean[c];
        mean[c] += d / n[c];
        m2[c] += d * (x - mean[c]);
    }
    double t() const {
        if (n[0] < 2 || n[1] < 2) return 0;
        const double v = m2[0] / (n[0] - 1) / n[0] + m2[1] / (n[1] - 1) / n[1];
        return v > 0 ? (mean[0] - mean[1]) / std::sqrt(v) : 0;
    }
};

// The largest |t| over the measurements and their cuts at the 50th to the
// 99th percentile and none.
double largestT(const std::vector<double>& times, const std::vector<int>& classes) {
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    double largest = 0;
    for (double percentile : {0.5, 0.75, 0.9, 0.95, 0.99, 1.0}) {
        const double cut =
            sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(percentile * static_cast<double>(sorted.size())))];
        Welch w;
        for (std::size_t i = 0; i < times.size(); ++i)
            if (times[i] <= cut) w.add(classes[i], times[i]);
        largest = std::max(largest, std::fabs(w.t()));
    }
    return largest;
}

// Times `operation(key, data)` on the two classes, interleaved at random.
// Every call's input is made beforehand in one buffer, the fixed class's
// too, so that the two classes touch memory alike.
double measure(std::size_t calls, std::size_t dataSize,
               const std::function<void(const std::uint8_t* key, const std::uint8_t* data)>& operation) {
    Rng rng(0x7e57);
    const std::size_t stride = 24 + dataSize;
    Bytes inputs(calls * stride, 0);
    std::vector<int> classes(calls);
    for (std::size_t i = 0; i < calls; ++i) {
        classes[i] = static_cast<int>(rng.range(0, 1));
        if (classes[i] == 1) {
            const Bytes random = rng.bytes(stride);
            std::copy(random.begin(), random.end(), inputs.begin() + static_cast<std::ptrdiff_t>(i * stride));
        }
    }
    for (std::size_t i = 0; i < 1000; ++i) operation(inputs.data(), inputs.data() + 24);  // warm-up
    std::vector<double> times(calls);
    for (std::size_t i = 0; i < calls; ++i) {
        const std::uint8_t* input = inputs.data() + i * stride;
        const auto start = std::chrono::steady_clock::now();
        operation(input, input + 24);
        times[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return largestT(times, classes);
}

std::string pathName(const testing::TestParamInfo<DesPath>& info) {
    return std::string(corvane::des::des_path_name(info.param));
}

class Des3Timing : public testing::TestWithParam<DesPath> {
protected:
    void SetUp() override {
        if (longTestFactor() == 1) GTEST_SKIP() << "a long test: CORVANE_LONG_TESTS=1 runs it";
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "under a sanitizer its own bookkeeping is what gets timed";
#endif
        if (!corvane::des::des_path_available(GetParam()))
            GTEST_SKIP() << corvane::des::des_path_name(GetParam()) << " kernel not available here";
    }
};

INSTANTIATE_TEST_SUITE_P(EveryTier, Des3Timing, testing::Values(DesPath::portable, DesPath::avx2, DesPath::avx512),
                         pathName);

// The control: an operation that plainly takes longer for a zero first key
// byte (every fixed call, few random ones) must be caught.
TEST_P(Des3Timing, ControlCatchesAKeyDependentTime) {
    if (GetParam() != DesPath::portable) GTEST_SKIP() << "one control is enough";
    volatile unsigned sink = 0;
    const double t = measure(100000, 8, [&](const std::uint8_t* key, const std::uint8_t*) {
        for (unsigned i = 0; i < (key[0] == 0 ? 200u : 100u); ++i) sink = sink + i;
    });
    EXPECT_GT(t, 10.0);
}

TEST_P(Des3Timing, DecryptionTimeDependsOnNeitherKeyNorData) {
    const Bytes iv(8, 0x11);
    struct Case {
        const char* name;
        std::size_t blocks;
        DesMethod method;
        std::size_t calls;
    } cases[] = {{"short kernel, one block", 1, DesMethod::shortKernel, 400000},
                 {"short kernel, eight blocks", 8, DesMethod::shortKernel, 300000},
                 {"bitsliced pass", 8, DesMethod::bitsliced, 30000}};
    std::string recorded;
    for (const Case& c : cases) {
        Bytes out(8 * c.blocks);
        const double t = measure(c.calls, 8 * c.blocks, [&](const std::uint8_t* key, const std::uint8_t* data) {
            corvane::des::des3_decrypt(GetParam(), key, iv.data(), data, out.data(), c.blocks, nullptr, c.method);
        });
        EXPECT_LT(t, 10.0) << c.name;
        std::printf("%s: largest |t| %.2f\n", c.name, t);
        recorded += (recorded.empty() ? "" : "; ") + std::string(c.name) + ": " + std::to_string(t);
    }
    RecordProperty("t", recorded);
}

// Encryption, whose results have no verdict (a decryption's padding
// verdict differs between the classes, and is public).
TEST_P(Des3Timing, BatchTimeDependsOnNeitherKeysNorData) {
    if (GetParam() != corvane::des::des_default_path()) GTEST_SKIP() << "batches run on the default path";
    namespace cv = corvane::v1;
    const Bytes iv(8, 0x11);
    volatile std::size_t sink = 0;
    const double t = measure(60000, 8 * 64, [&](const std::uint8_t* key, const std::uint8_t* data) {
        std::vector<cv::Des3BatchItem> items;
        for (std::size_t i = 0; i < 8; ++i) items.push_back({cv::ByteView(data + 64 * i, 64), cv::ByteView(key, 24), iv});
        sink = sink + cv::des3EncryptBatch(items).size();
    });
    EXPECT_LT(t, 10.0);
    std::printf("batch of eight: largest |t| %.2f\n", t);
    RecordProperty("t", std::to_string(t));
}

}  // namespace
