// MD5 of files for corvane md5: digests in pieces, md5sum's escaping of
// names, and the checking of a list of digests (md5sum -c).
#ifndef CORVANE_TOOL_MD5_FILES_H
#define CORVANE_TOOL_MD5_FILES_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane::tool {

using Md5Digest = std::array<std::uint8_t, 16>;

// The digest of the file ("-" is standard input), read in pieces so that
// large files need no large buffer; nullopt, with errno saying why, when it
// cannot be opened or read. progress shows the reading's progress on
// standard error (CountingReader of chunked_io.h).
std::optional<Md5Digest> digestFile(const std::string& path, bool progress = false);

// md5sum's form of a file name: a backslash, line feed or carriage return is
// written as \\, \n or \r, and the caller starts such a line with a
// backslash (second: whether one was escaped).
std::pair<std::string, bool> md5sumName(const std::string& name);

// How md5 -c reports, as md5sum -c does.
struct Md5CheckOptions {
    bool quiet = false;          // leave out the OK lines
    bool status = false;         // print no results and no warnings
    bool warn = false;           // a warning for each improperly formatted line
    bool strict = false;         // improperly formatted lines make the exit status 1
    bool ignoreMissing = false;  // listed files that do not exist are passed over
    bool progress = false;       // progress of each file's reading on standard error
};

// Checks the digests listed in each file ("-" is standard input), lines in
// the form md5sum writes ("<hex>  <name>", "<hex> *<name>", escaped names),
// the BSD form ("MD5 (<name>) = <hex>") or openssl's ("MD5(<name>)= <hex>"),
// as md5sum -c does: "<name>: OK" or "<name>: FAILED" (or "FAILED open or
// read") per line, warnings for improperly formatted lines, unreadable files
// and mismatches. Returns the exit status: 1 when a digest did not match, a
// file could not be read, a list held no properly formatted line, with
// --strict a line was improperly formatted, with --ignore-missing a list
// verified no file; 0 otherwise.
int checkDigestLists(const std::vector<std::string>& lists, const Md5CheckOptions& options);

}  // namespace corvane::tool

#endif
