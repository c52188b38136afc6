// corvane rsa encrypt | decrypt | sign --lines: one item per input line and
// one output line per input line, in order. Lines are read in groups and
// each group goes to the library's batch call in one piece (the batch
// kernels run several items side by side); memory stays bounded by the
// group, whatever the input's length.
#ifndef CORVANE_TOOL_RSA_LINES_H
#define CORVANE_TOOL_RSA_LINES_H

#include <Corvane/corvane.hpp>
#include <string>
#include <vector>

namespace corvane::tool {

// Each reads FILE (standard input for none or "-") and writes, per input
// line, the result in Base64 on one line (with hex, in lower-case
// hexadecimal), or for a bad line "error: <what>" in its place, with
// "corvane: rsa <action>: <input>, line N: <what>" on standard error; the
// run goes on with the next line. kExitFailure when any line was bad, else
// kExitOk. Lines hold Base64 (whitespace skipped): decrypt's one block of
// the key's length (an empty line is a bad line); encrypt's and sign's one
// message, the empty line the empty message. Decrypted messages, and the
// messages of encrypt and sign, are wiped once written or used.
//
// How decrypt answers a block of the right length that is not a
// well-formed type-2 block under the key:
enum class DecryptLineAnswers {
    // With a substitute message (implicit rejection): the same for the same
    // block, and not to be told from a real one without the key. Only
    // lines anyone can judge are bad: not Base64, a wrong length, a value
    // not below the modulus.
    implicitRejection,
    // With a bad line of its own, "decryption failed: wrong key or damaged
    // block". Whoever sees these answers for blocks of their choosing holds
    // a padding oracle that decrypts any captured block: only for callers
    // that keep the answers from whoever sent the blocks.
    reportBadBlocks,
};

int encryptLines(const std::vector<std::string>& files, const v1::RsaPublicKey& key, bool hex);
int decryptLines(const std::vector<std::string>& files, const v1::RsaPrivateKey& key, bool hex,
                 DecryptLineAnswers answers);
int signLines(const std::vector<std::string>& files, const v1::RsaPrivateKey& key, bool hex);

}  // namespace corvane::tool

#endif
