// "did you mean ...?" for a mistyped option, action or command: the
// spellings the command takes that lie within a slip's edit distance of
// what was typed.
#ifndef CORVANE_TOOL_SUGGESTIONS_H
#define CORVANE_TOOL_SUGGESTIONS_H

#include <string>
#include <string_view>
#include <vector>

namespace corvane::tool {

// A spelling the command takes, and the word to suggest for it: itself, or
// for a hidden old spelling the one that replaced it.
struct Spelling {
    std::string typed;
    std::string suggested;
};

// "; did you mean --raw?" or "; did you mean --passin-file or --passin-env?"
// (the nearest spellings), or "" when none is near enough to be a slip or
// more than three are equally near. Leading dashes are compared apart: "-raw" finds "--raw".
// The edit distance counts an insertion, a deletion, a substitution or a
// swap of two neighbours as one; a word of n characters (dashes left out)
// may be 1 off from 3 characters on, 2 from 6 and 3 from 10.
std::string didYouMean(std::string_view typed, const std::vector<Spelling>& spellings);

// The same for words that are their own suggestion (actions, commands).
std::string didYouMean(std::string_view typed, const std::vector<std::string>& words);

}  // namespace corvane::tool

#endif
