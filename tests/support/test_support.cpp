#include "tests/support/test_support.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace corvane::test {

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) b++;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) e--;
    return s.substr(b, e - b);
}
}  // namespace

Bytes fromHex(const std::string& hex) {
    Bytes out;
    int high = -1;
    for (char c : hex) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        int v = hexValue(c);
        if (v < 0) throw std::invalid_argument("bad hex digit in: " + hex);
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd hex length: " + hex);
    return out;
}

std::string toHex(const std::uint8_t* data, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(length * 2);
    for (std::size_t i = 0; i < length; i++) {
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 15]);
    }
    return s;
}

std::optional<std::string> publishedVector(const std::string& relativePath) {
    std::string path = std::string(CORVANE_VECTORS_DIR) + "/" + relativePath;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return path;
}

std::string publishedVectorAbsent(const std::string& relativePath) {
    return std::string(CORVANE_VECTORS_DIR) + "/" + relativePath +
           " is absent, so this check is skipped: published third-party vectors are not part of this "
           "repository; they are read in place from ../shared/vectors beside the checkout (or from "
           "-DCORVANE_VECTORS_DIR=...), and a clone without that folder skips the tests that use them";
}

std::string ourVector(const std::string& name) { return std::string(CORVANE_TEST_DATA_DIR) + "/" + name; }

std::string readTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<VecRecord> readVecFile(const std::string& path) {
    std::istringstream in(readTextFile(path));
    std::vector<VecRecord> records;
    VecRecord current;
    std::string line;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (!t.empty() && t[0] == '#') continue;
        if (t.empty()) {
            if (!current.empty()) records.push_back(std::move(current));
            current.clear();
            continue;
        }
        auto eq = t.find('=');
        if (eq == std::string::npos) throw std::runtime_error("bad .vec line: " + t);
        current[trim(t.substr(0, eq))] = trim(t.substr(eq + 1));
    }
    if (!current.empty()) records.push_back(std::move(current));
    return records;
}

std::string repeatedPhrase(const std::string& message) {
    std::vector<std::string> words;
    std::string word;
    for (char c : message + " ") {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '#' || c == '-') {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    std::map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i + 3 <= words.size(); i++) {
        const std::string phrase = words[i] + " " + words[i + 1] + " " + words[i + 2];
        auto [at, fresh] = seen.emplace(phrase, i);
        if (!fresh && i >= at->second + 3) return phrase;
    }
    return {};
}

unsigned longTestFactor() {
    const char* v = std::getenv("CORVANE_LONG_TESTS");
    return (v != nullptr && std::string(v) == "1") ? 100u : 1u;
}

}  // namespace corvane::test
