#include "tools/corvane/options/suggestions.h"

#include <algorithm>
#include <limits>

namespace corvane::tool {

namespace {

std::string_view withoutDashes(std::string_view word) {
    return word.substr(std::min(word.find_first_not_of('-'), word.size()));
}

// Optimal string alignment distance: Levenshtein's, plus the swap of two
// neighbouring characters ("encrpyt") as one edit.
std::size_t editDistance(std::string_view a, std::string_view b) {
    const std::size_t columns = b.size() + 1;
    std::vector<std::size_t> d((a.size() + 1) * columns);
    auto at = [&](std::size_t i, std::size_t j) -> std::size_t& { return d[i * columns + j]; };
    for (std::size_t i = 0; i <= a.size(); ++i) at(i, 0) = i;
    for (std::size_t j = 0; j <= b.size(); ++j) at(0, j) = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
        }
    }
    return at(a.size(), b.size());
}

// How far a word of this length may be from a spelling and still be its
// slip: one- and two-letter words match only as they are ("-x" is not
// "-d" mistyped).
std::size_t slipAllowance(std::size_t length) {
    return length < 3 ? 0 : length < 6 ? 1 : length < 10 ? 2 : 3;
}

}  // namespace

std::string didYouMean(std::string_view typed, const std::vector<Spelling>& spellings) {
    const std::string_view word = withoutDashes(typed.substr(0, typed.find('=')));
    std::size_t best = std::numeric_limits<std::size_t>::max();
    std::vector<std::string> nearest;
    for (const Spelling& spelling : spellings) {
        const std::size_t distance = editDistance(word, withoutDashes(spelling.typed));
        if (distance > slipAllowance(word.size()) || distance > best) continue;
        if (distance < best) nearest.clear();
        best = distance;
        if (std::find(nearest.begin(), nearest.end(), spelling.suggested) == nearest.end())
            nearest.push_back(spelling.suggested);
    }
    // The typed word itself is no suggestion ("--x=1" where --x takes no value).
    if (nearest.empty() || nearest.size() > 3 || (nearest.size() == 1 && nearest[0] == typed)) return {};
    std::string text = "; did you mean ";
    for (std::size_t i = 0; i < nearest.size(); ++i)
        text += (i == 0 ? "" : i + 1 == nearest.size() ? " or " : ", ") + nearest[i];
    return text + "?";
}

std::string didYouMean(std::string_view typed, const std::vector<std::string>& words) {
    std::vector<Spelling> spellings;
    for (const std::string& word : words) spellings.push_back({word, word});
    return didYouMean(typed, spellings);
}

}  // namespace corvane::tool
