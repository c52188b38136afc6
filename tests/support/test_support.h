// Helpers shared by the test programs: hex conversion, the location of test
// vector files, a small reader for our own .vec files, and a deterministic
// random source.
#ifndef CORVANE_TEST_SUPPORT_H
#define CORVANE_TEST_SUPPORT_H

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace corvane::test {

using Bytes = std::vector<std::uint8_t>;

// "0a0B" -> {0x0a, 0x0b}; whitespace is ignored. Throws on bad input.
Bytes fromHex(const std::string& hex);
// Lower-case hex of the bytes.
std::string toHex(const std::uint8_t* data, std::size_t length);
inline std::string toHex(const Bytes& b) { return toHex(b.data(), b.size()); }
inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Path of a published vector file below the shared vectors folder, or
// nullopt when the folder or file is absent (tests then GTEST_SKIP).
std::optional<std::string> publishedVector(const std::string& relativePath);
// The message of such a skip: which file is absent and why that is expected.
std::string publishedVectorAbsent(const std::string& relativePath);
// Path of one of our own data files in tests/vectors.
std::string ourVector(const std::string& name);

// Reads a .vec file: records of "key = value" lines separated by blank
// lines; "#" starts a comment line. Values keep their text as written.
using VecRecord = std::map<std::string, std::string>;
std::vector<VecRecord> readVecFile(const std::string& path);

// Whole file as text; throws when it cannot be read.
std::string readTextFile(const std::string& path);

// Deterministic generator for randomised tests (fixed seed per test).
class Rng {
public:
    explicit Rng(std::uint64_t seed) : engine_(seed) {}
    std::uint32_t u32() { return static_cast<std::uint32_t>(engine_()); }
    std::uint64_t u64() { return engine_(); }
    // Uniform in [lo, hi].
    std::uint64_t range(std::uint64_t lo, std::uint64_t hi) {
        return std::uniform_int_distribution<std::uint64_t>(lo, hi)(engine_);
    }
    Bytes bytes(std::size_t n) {
        Bytes b(n);
        for (auto& x : b) x = static_cast<std::uint8_t>(engine_());
        return b;
    }
    std::mt19937_64& engine() { return engine_; }

private:
    std::mt19937_64 engine_;
};

// Multiplier for randomised test volume: 100 when CORVANE_LONG_TESTS=1.
unsigned longTestFactor();

// The first run of three or more words that a message says twice (case
// and punctuation aside), or "" when it says none twice: a message that
// repeats itself ("a public key or a certificate: a public key or a
// certificate was given ...") joined a detail to a meaning that says it.
std::string repeatedPhrase(const std::string& message);

}  // namespace corvane::test

#endif
