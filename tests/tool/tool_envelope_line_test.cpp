// The envelope line parser on the lines senders write, by table: what it
// reads as the two parts, and the lines that are no envelope, among them a
// part of whitespace alone, which reads as no envelope as the Dask job reads
// it (and as a missing part does).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/corvane/io/envelope_line.h"

namespace {

using corvane::tool::parseEnvelopeLine;
using Bytes = std::vector<std::uint8_t>;

TEST(ToolEnvelopeLine, ReadsTwoBase64FieldsSplitBySpacesOrTabs) {
    struct Case {
        std::string line;
        Bytes wrapped, payload;
    };
    const Case cases[] = {
        {"QUI= Q0RFRkdISUo=", {'A', 'B'}, {'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'}},
        {"QUI=\tQ0Q=", {'A', 'B'}, {'C', 'D'}},
        {"QUI= \t \tQ0Q=", {'A', 'B'}, {'C', 'D'}},
        // Whitespace inside a field is skipped, as Base64 is read everywhere.
        {"QU\rI= Q0Q=", {'A', 'B'}, {'C', 'D'}},
    };
    for (const Case& c : cases) {
        const auto fields = parseEnvelopeLine(c.line);
        ASSERT_TRUE(fields) << c.line;
        EXPECT_EQ(fields->wrappedKey, c.wrapped) << c.line;
        EXPECT_EQ(fields->payload, c.payload) << c.line;
    }
}

TEST(ToolEnvelopeLine, RefusesEveryOtherLine) {
    const std::string refused[] = {
        "",
        "QUI=",                         // one field
        "QUI= Q0Q= RUY=",               // three
        " QUI= Q0Q=",                   // a leading blank makes three
        "QUI= Q0Q= ",                   // and a trailing one
        "QUI= ",                        // no payload
        "QUI= \v",                      // a payload of whitespace alone
        "QUI= \r",
        "QUI= \xff",
        "\v Q0Q=",                      // a wrapped key of whitespace alone
        "QUI= Q0Q",                     // not padded
        "QUI= Q0Q!",                    // not the alphabet
        std::string("QUI= Q0\0Q=", 10), // a NUL
        "QUI=\nQ0Q=",                   // a line feed is no separator
    };
    for (const std::string& line : refused) EXPECT_FALSE(parseEnvelopeLine(line)) << line;
}

}  // namespace
