// corvane md5 -c: the lines of digest lists, read as md5sum -c reads them.
#include <Corvane/corvane.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "commands.h"
#include "io.h"
#include "md5_files.h"

namespace corvane::tool {

namespace {

// No digest line is longer; a longer one is improperly formatted, and its
// rest is skipped without being kept.
constexpr std::size_t kLongestLine = 65536;

struct ListedDigest {
    Md5Digest digest;
    std::string name;
};

// The name as written in a line that starts with a backslash: \\, \n and \r
// stand for a backslash, a line feed and a carriage return; any other
// backslash makes the line improper.
std::optional<std::string> unescapeName(std::string_view text) {
    std::string name;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            name.push_back(text[i]);
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        char c = text[i] == '\\' ? '\\' : text[i] == 'n' ? '\n' : text[i] == 'r' ? '\r' : '\0';
        if (c == '\0') return std::nullopt;
        name.push_back(c);
    }
    return name;
}

std::optional<Md5Digest> digestOfHex(std::string_view hex) {
    if (hex.size() != 32) return std::nullopt;
    std::error_code error;
    Bytes bytes = v1::hexDecode(hex, v1::HexWhitespace::reject, error);
    if (error) return std::nullopt;
    Md5Digest digest{};
    std::copy(bytes.begin(), bytes.end(), digest.begin());
    return digest;
}

// One line, without its line end: "<hex>  <name>" or "<hex> *<name>" (also
// with a single space or a tab before the name), or "MD5 (<name>) = <hex>";
// a backslash in front says the name is escaped. Leading blanks are skipped.
std::optional<ListedDigest> parseLine(std::string_view line) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    const bool escaped = !line.empty() && line.front() == '\\';
    if (escaped) line.remove_prefix(1);

    std::string_view nameText;
    std::optional<Md5Digest> digest;
    constexpr std::string_view kBsdStart = "MD5 (";
    if (line.substr(0, kBsdStart.size()) == kBsdStart) {
        std::size_t close = line.rfind(") = ");
        if (close == std::string_view::npos || close < kBsdStart.size()) return std::nullopt;
        nameText = line.substr(kBsdStart.size(), close - kBsdStart.size());
        digest = digestOfHex(line.substr(close + 4));
    } else {
        digest = digestOfHex(line.substr(0, 32));
        if (line.size() < 34 || (line[32] != ' ' && line[32] != '\t')) return std::nullopt;
        nameText = line.substr(33);
        if (nameText.front() == ' ' || nameText.front() == '*') nameText.remove_prefix(1);
    }
    if (!digest || nameText.empty()) return std::nullopt;
    std::optional<std::string> name = escaped ? unescapeName(nameText) : std::string(nameText);
    if (!name) return std::nullopt;
    return ListedDigest{*digest, std::move(*name)};
}

// Reads one line into line, without its line feed (and a carriage return
// before it); false at the end of the list. tooLong says the line was cut.
bool readLine(std::FILE* f, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    int c;
    bool any = false;
    while ((c = std::getc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line.size() < kLongestLine)
            line.push_back(static_cast<char>(c));
        else
            tooLong = true;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

struct Tally {
    std::size_t formatted = 0, improper = 0, unreadable = 0, mismatched = 0;
};

void checkLine(const ListedDigest& listed, bool quiet, bool status, Tally& tally) {
    auto [escaped, needsMark] = md5sumName(listed.name);
    std::string shown = (needsMark ? "\\" : "") + escaped;
    errno = 0;
    std::optional<Md5Digest> actual = digestFile(listed.name);
    if (!actual) {
        printError("md5: " + listed.name + ": " + std::strerror(errno != 0 ? errno : EIO));
        ++tally.unreadable;
        if (!status) writeText(shown + ": FAILED open or read\n");
    } else if (*actual != listed.digest) {
        ++tally.mismatched;
        if (!status) writeText(shown + ": FAILED\n");
    } else if (!quiet && !status) {
        writeText(shown + ": OK\n");
    }
}

}  // namespace

int checkDigestLists(const std::vector<std::string>& lists, bool quiet, bool status) {
    int exitStatus = kExitOk;
    for (const std::string& list : lists) {
        std::FILE* f = list == "-" ? stdin : std::fopen(list.c_str(), "rb");
        if (f == nullptr) {
            printError("md5: " + list + ": " + std::strerror(errno));
            exitStatus = kExitFailure;
            continue;
        }
        Tally tally;
        std::string line;
        bool tooLong = false;
        while (readLine(f, line, tooLong)) {
            std::string_view text(line);
            std::size_t first = text.find_first_not_of(" \t");
            // Blank lines and comments are passed over without a word.
            if (!tooLong && (first == std::string_view::npos || text[first] == '#')) continue;
            std::optional<ListedDigest> listed = tooLong ? std::nullopt : parseLine(text);
            if (!listed) {
                ++tally.improper;
                continue;
            }
            ++tally.formatted;
            checkLine(*listed, quiet, status, tally);
        }
        bool readFailed = std::ferror(f) != 0;
        int cause = errno;
        if (f != stdin) std::fclose(f);
        if (readFailed) {
            printError("md5: " + inputName(list) + ": " + std::strerror(cause != 0 ? cause : EIO));
            exitStatus = kExitFailure;
        }
        if (tally.formatted == 0) {
            printError("md5: " + inputName(list) + ": no properly formatted checksum lines found");
            exitStatus = kExitFailure;
            continue;
        }
        if (!status) {
            if (tally.improper > 0)
                printError("md5: WARNING: " + plural(tally.improper, "line is", "lines are") +
                           " improperly formatted");
            if (tally.unreadable > 0)
                printError("md5: WARNING: " + plural(tally.unreadable, "listed file", "listed files") +
                           " could not be read");
            if (tally.mismatched > 0)
                printError(
                    "md5: WARNING: " + plural(tally.mismatched, "computed checksum", "computed checksums") +
                    " did NOT match");
        }
        if (tally.unreadable > 0 || tally.mismatched > 0) exitStatus = kExitFailure;
    }
    return exitStatus;
}

}  // namespace corvane::tool
