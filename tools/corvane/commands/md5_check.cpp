// corvane md5 -c: the lines of digest lists, read as md5sum -c reads them.
#include <Corvane/corvane.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "tools/corvane/commands/commands.h"
#include "tools/corvane/commands/md5_files.h"
#include "tools/corvane/io/io.h"

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

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The BSD form after an optional backslash: "MD5 (<name>) = <hex>", with or
// without the blank after "MD5" and with any blanks around "=", which also
// covers openssl's "MD5(<name>)= <hex>". The name runs to the last ")".
std::optional<std::pair<std::string_view, std::string_view>> splitTagLine(std::string_view line) {
    constexpr std::string_view kAlgorithm = "MD5";
    if (line.substr(0, kAlgorithm.size()) != kAlgorithm) return std::nullopt;
    line.remove_prefix(kAlgorithm.size());
    if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.empty() || line.front() != '(') return std::nullopt;
    line.remove_prefix(1);
    std::size_t close = line.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view name = line.substr(0, close), rest = line.substr(close + 1);
    while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
    if (rest.empty() || rest.front() != '=') return std::nullopt;
    rest.remove_prefix(1);
    while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
    return std::pair{name, rest};
}

// One line, without its line end: "<hex>  <name>" or "<hex> *<name>" (also
// with a single space or a tab before the name), or the BSD form; a
// backslash in front says the name is escaped. Leading blanks are skipped.
std::optional<ListedDigest> parseLine(std::string_view line) {
    while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
    const bool escaped = !line.empty() && line.front() == '\\';
    if (escaped) line.remove_prefix(1);

    std::string_view nameText;
    std::optional<Md5Digest> digest;
    if (auto tagged = splitTagLine(line)) {
        nameText = tagged->first;
        digest = digestOfHex(tagged->second);
    } else {
        digest = digestOfHex(line.substr(0, 32));
        if (line.size() < 34 || !isBlank(line[32])) return std::nullopt;
        nameText = line.substr(33);
        if (nameText.front() == ' ' || nameText.front() == '*') nameText.remove_prefix(1);
    }
    if (!digest || nameText.empty()) return std::nullopt;
    std::optional<std::string> name = escaped ? unescapeName(nameText) : std::string(nameText);
    if (!name) return std::nullopt;
    return ListedDigest{*digest, std::move(*name)};
}

// A name in a diagnostic as md5sum shows it: as it is when it holds only
// characters a shell takes literally, else in single quotes (a quote itself
// as '\'', a control character as ?).
std::string quoted(const std::string& name) {
    const std::string_view literal =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./-+,:@%^";
    if (!name.empty() && name.find_first_not_of(literal) == std::string::npos) return name;
    std::string out = "'";
    for (char c : name) {
        if (c == '\'')
            out += "'\\''";
        else
            out.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
    }
    return out + "'";
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
    std::size_t formatted = 0, improper = 0, unreadable = 0, mismatched = 0, matched = 0;
};

void checkLine(const ListedDigest& listed, const Md5CheckOptions& options, Tally& tally) {
    auto [escaped, needsMark] = md5sumName(listed.name);
    std::string shown = (needsMark ? "\\" : "") + escaped;
    errno = 0;
    std::optional<Md5Digest> actual = digestFile(listed.name, options.progress);
    if (!actual) {
        if (options.ignoreMissing && errno == ENOENT) return;
        printError("md5: " + quoted(listed.name) + ": " + std::strerror(errno != 0 ? errno : EIO));
        ++tally.unreadable;
        if (!options.status) writeText(shown + ": FAILED open or read\n");
    } else if (*actual != listed.digest) {
        ++tally.mismatched;
        if (!options.status) writeText(shown + ": FAILED\n");
    } else {
        ++tally.matched;
        if (!options.quiet && !options.status) writeText(shown + ": OK\n");
    }
}

// Checks one list; false when it fails.
bool checkList(const std::string& list, const Md5CheckOptions& options) {
    const std::string listName = quoted(inputName(list));
    errno = 0;
    std::FILE* f = list == "-" ? stdin : std::fopen(list.c_str(), "rb");
    if (f == nullptr) {
        printError("md5: " + listName + ": " + std::strerror(errno != 0 ? errno : EIO));
        return false;
    }
    Tally tally;
    std::string line;
    bool tooLong = false;
    for (std::size_t lineNumber = 1; readLine(f, line, tooLong); ++lineNumber) {
        // Empty lines and comments (a "#" in the first column) are passed
        // over without a word.
        if (!tooLong && (line.empty() || line.front() == '#')) continue;
        std::optional<ListedDigest> listed = tooLong ? std::nullopt : parseLine(line);
        if (!listed) {
            ++tally.improper;
            if (options.warn)
                printError("md5: " + listName + ": " + std::to_string(lineNumber) +
                           ": improperly formatted MD5 checksum line");
            continue;
        }
        ++tally.formatted;
        checkLine(*listed, options, tally);
    }
    bool readFailed = std::ferror(f) != 0;
    int cause = errno;
    if (f != stdin) std::fclose(f);
    bool ok = true;
    if (readFailed) {
        printError("md5: " + listName + ": " + std::strerror(cause != 0 ? cause : EIO));
        ok = false;
    }
    if (tally.formatted == 0) {
        printError("md5: " + listName + ": no properly formatted checksum lines found");
        return false;
    }
    if (!options.status) {
        if (tally.improper > 0)
            printError("md5: WARNING: " + plural(tally.improper, "line is", "lines are") +
                       " improperly formatted");
        if (tally.unreadable > 0)
            printError("md5: WARNING: " + plural(tally.unreadable, "listed file", "listed files") +
                       " could not be read");
        if (tally.mismatched > 0)
            printError("md5: WARNING: " +
                       plural(tally.mismatched, "computed checksum", "computed checksums") + " did NOT match");
        if (options.ignoreMissing && tally.matched == 0)
            printError("md5: " + listName + ": no file was verified");
    }
    if (tally.unreadable > 0 || tally.mismatched > 0) ok = false;
    if (options.strict && tally.improper > 0) ok = false;
    if (options.ignoreMissing && tally.matched == 0) ok = false;
    return ok;
}

}  // namespace

int checkDigestLists(const std::vector<std::string>& lists, const Md5CheckOptions& options) {
    int exitStatus = kExitOk;
    for (const std::string& list : lists)
        if (!checkList(list, options)) exitStatus = kExitFailure;
    return exitStatus;
}

}  // namespace corvane::tool
