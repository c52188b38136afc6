// corvane envelope open | seal: envelopes through both commands and back on
// one thread and on several, openssl opening ours and ours opening
// openssl's, every bad line answered in place, the one-envelope forms, and
// the options refused.
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/cli/cli_tool.h"
#include "tests/support/cli/tool_key_suite.h"
#include "tests/support/rsa/openssl_key_files.h"

using namespace corvane::test;

namespace {

using corvane::test::corvane;
namespace v1 = corvane::v1;

class CliEnvelope : public ToolKeySuite<1024> {};

// The two fields of an envelope line, decoded.
std::pair<std::string, std::string> fieldsOf(const std::string& line) {
    const std::size_t space = line.find(' ');
    return {text(v1::base64Decode(line.substr(0, space))), text(v1::base64Decode(line.substr(space + 1)))};
}

TEST_F(CliEnvelope, SealThenOpenGivesEveryMessageBackInOrderOnAnyNumberOfThreads) {
    Rng rng(0xe1);
    std::vector<std::string> messages;
    for (int i = 0; i < 300; ++i) messages.push_back(v1::base64Encode(rng.bytes(rng.range(0, 300))));
    messages[5] = "";
    OpensslKeyFiles& k = key(1024);
    RunResult sealed = corvane({"envelope", "seal", "--pubkey", k.path(KeyForm::publicSpkiPem), "--lines",
                                "--jobs", "2"},
                               joined(messages));
    ASSERT_EQ(sealed.exitStatus, 0) << sealed.err;
    std::vector<std::string> envelopes = linesOf(sealed.out);
    ASSERT_EQ(envelopes.size(), messages.size());

    // openssl opens one of ours; one of openssl's goes among ours.
    const std::string privateKey = k.path(KeyForm::privatePkcs8Pem);
    auto [wrapped, payload] = fieldsOf(envelopes[9]);
    const std::string desKey = oracle({"openssl", "pkeyutl", "-decrypt", "-inkey", privateKey, "-in", write("w", wrapped)});
    const std::string keyHex = toHex(bytesOf(desKey));
    EXPECT_EQ(v1::base64Encode(oracle({"openssl", "enc", "-d", "-des-ede3-cbc", "-K", keyHex, "-iv",
                                       keyHex.substr(0, 16), "-in", write("p", payload)})),
              messages[9]);
    const std::string theirKey = text(rng.bytes(24)), theirKeyHex = toHex(bytesOf(theirKey));
    envelopes[11] =
        v1::base64Encode(oracle({"openssl", "pkeyutl", "-encrypt", "-pubin", "-inkey", k.path(KeyForm::publicSpkiPem),
                                 "-in", write("k", theirKey)})) +
        "\t" +
        v1::base64Encode(oracle({"openssl", "enc", "-des-ede3-cbc", "-K", theirKeyHex, "-iv",
                                 theirKeyHex.substr(0, 16), "-in", write("m", text(v1::base64Decode(messages[11])))}));

    ScopedEnvironment environment;
    environment.set("CORVANE_TOOL_CHUNK_SIZE", "7");
    for (const char* jobs : {"1", "2", "5"}) {
        RunResult opened = corvane({"envelope", "open", "--key", privateKey, "--lines", "--jobs", jobs}, joined(envelopes));
        EXPECT_EQ(opened.exitStatus, 0) << opened.err;
        EXPECT_EQ(opened.out, joined(messages)) << jobs << " jobs";
    }
}

TEST_F(CliEnvelope, BadLinesAreAnsweredInPlaceAndTheRestGoOn) {
    OpensslKeyFiles& k = key(1024);
    RunResult sealed = corvane({"envelope", "seal", "--pubkey", k.path(KeyForm::publicSpkiPem), "--lines"}, "YQ==\nYg==\n");
    std::vector<std::string> lines = linesOf(sealed.out);
    const std::string good = lines[0];
    // A payload cut short of whole blocks: refused on every run (a damaged
    // wrapped key would give a substitute key, which opens one payload in 256).
    const std::string damaged = good.substr(0, good.size() - 4);
    lines = {good, "one field only", damaged, good + " third", std::string(70000, 'A') + " AAAA", lines[1]};
    ScopedEnvironment environment;
    environment.set("CORVANE_TEST_PASS", kKeyFilePassphrase);
    RunResult opened = corvane({"envelope", "open", "--key", k.path(KeyForm::encryptedPkcs8Pem), "--passphrase-env",
                      "CORVANE_TEST_PASS", "--lines", "--jobs", "2"},
                     joined(lines));
    EXPECT_EQ(opened.exitStatus, 1);
    const std::string notAnEnvelope = "error: not an envelope: two Base64 fields separated by a space or tab";
    EXPECT_EQ(opened.out, joined({"YQ==", notAnEnvelope, "error: envelope refused", notAnEnvelope,
                                  "error: line longer than 65536 bytes", "Yg=="}));
    // Standard error names each cause (the archive refusal is the default of --lines).
    EXPECT_NE(opened.err.find("standard input, line 3: envelope malformed"), std::string::npos) << opened.err;
    EXPECT_NE(opened.err.find("line 5: line too long"), std::string::npos) << opened.err;
    EXPECT_NE(opened.err.find("envelope open: 6 lines read, 2 opened, 1 refused, 3 not envelopes\n"),
              std::string::npos)
        << opened.err;
}

TEST_F(CliEnvelope, OneEnvelopeFromTwoFilesOrOneLine) {
    OpensslKeyFiles& k = key(1024);
    const std::string privateKey = k.path(KeyForm::privatePkcs1Pem);
    RunResult sealed = corvane({"envelope", "seal", "--pubkey", k.path(KeyForm::certificatePem), "--hex-key"}, "payload\n");
    ASSERT_EQ(sealed.exitStatus, 0) << sealed.err;
    EXPECT_EQ(corvane({"envelope", "open", "--key", privateKey}, sealed.out).out, "payload\n");
    auto [wrapped, payload] = fieldsOf(linesOf(sealed.out).at(0));
    EXPECT_EQ(corvane({"envelope", "open", "--key", privateKey, write("w", wrapped), write("p", payload)}).out,
              "payload\n");
    const std::string hexKey = oracle({"openssl", "pkeyutl", "-decrypt", "-inkey", privateKey, "-in", file("w")});
    EXPECT_EQ(hexKey.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hexKey;

    expectFailure(corvane({"envelope", "open", "--key", privateKey, file("p"), file("w")}), 1, "envelope refused",
                  "parts swapped");
    expectFailure(corvane({"envelope", "open", "--key", privateKey}, "nonsense"), 1, "not an envelope", "one field");
    expectFailure(corvane({"envelope", "open", "--key", privateKey, write("two", sealed.out + sealed.out)}), 1,
                  file("two") + ": not an envelope: two Base64 fields separated by a space or tab; --lines opens "
                                "one envelope a line",
                  "two lines");
    expectFailure(corvane({"envelope", "open", "--key", privateKey, "--jobs", "2"}, sealed.out), 2,
                  "--jobs goes with --lines", "--jobs alone");
    expectFailure(corvane({"envelope", "seal", "--pubkey", k.path(KeyForm::publicSpkiPem), "--lines", "--jobs", "0"}),
                  2, "--jobs takes 1 to ", "no jobs");
    // Far above what any machine holds: refused, naming the most.
    expectFailure(corvane({"envelope", "open", "--key", privateKey, "--lines", "--jobs", "100000"}, sealed.out), 2,
                  "on this machine: ", "too many jobs");
    expectFailure(corvane({"envelope", "open"}), 2, "--key FILE", "no key");
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Two 512-bit keys and records sealed under each, made once for the suite:
// the archive refusal, the wrong-key stop, the counts and the quarantine.
class CliEnvelopeLines : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (kTool == nullptr) return;
        dir_ = std::make_unique<TempDir>();
        right_ = std::make_unique<OpensslKeyFiles>(*dir_, 512);
        wrong_ = std::make_unique<OpensslKeyFiles>(*dir_, 512);
        Rng rng(0xa7);
        for (int i = 0; i < 2000; ++i) messages_.push_back(v1::base64Encode(rng.bytes(rng.range(0, 40))));
        underRight_ = sealed(*right_, messages_);
        // Twice as many under the wrong key: enough that the uniform
        // refusal's garbage (a mean of 15.6 in 4000) is never absent.
        underWrong_ = sealed(*wrong_, messages_ + messages_);
    }
    static void TearDownTestSuite() {
        right_.reset();
        wrong_.reset();
        dir_.reset();
    }
    void SetUp() override { REQUIRE_TOOL(); }

    static std::vector<std::string> sealed(OpensslKeyFiles& key, const std::vector<std::string>& messages) {
        return linesOf(corvane({"envelope", "seal", "--pubkey", key.path(KeyForm::publicSpkiPem), "--lines"},
                               joined(messages))
                           .out);
    }
    static std::string rightKey() { return right_->path(KeyForm::privatePkcs8Pem); }
    static std::vector<std::string> slice(const std::vector<std::string>& lines, std::size_t from, std::size_t count) {
        return {lines.begin() + static_cast<long>(from), lines.begin() + static_cast<long>(from + count)};
    }

    inline static std::unique_ptr<TempDir> dir_;
    inline static std::unique_ptr<OpensslKeyFiles> right_, wrong_;
    inline static std::vector<std::string> messages_, underRight_, underWrong_;
};

std::vector<std::string> folderEntries(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t countOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// Under the wrong key the archive refusal passes nothing off as a record,
// the uniform one about 1 in 256; under the right key both open every
// line. The line written for a refusal is the same in both modes, and only
// the archive's messages name a cause.
TEST_F(CliEnvelopeLines, ArchiveRefusalPassesNoGarbageUnderAWrongKey) {
    const std::string refused = "error: envelope refused";
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> input;
        std::size_t leastOpened, mostOpened;
        bool causesNamed;
    };
    const std::vector<Case> cases = {
        {{"--keep-going"}, underWrong_, 0, 0, true},
        {{"--keep-going", "--uniform"}, underWrong_, 1, 45, false},
        {{}, underRight_, 2000, 2000, false},
        {{"--uniform"}, underRight_, 2000, 2000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.args));
        const RunResult r =
            corvane(Args{"envelope", "open", "--key", rightKey(), "--lines", "--jobs", "2"} + c.args, joined(c.input));
        const std::vector<std::string> out = linesOf(r.out);
        ASSERT_EQ(out.size(), c.input.size());
        const std::size_t opened = out.size() - countOf(out, refused);
        EXPECT_GE(opened, c.leastOpened);
        EXPECT_LE(opened, c.mostOpened);
        if (c.input == underRight_) {
            EXPECT_EQ(out, messages_);
        }
        EXPECT_EQ(r.exitStatus, opened == out.size() ? 0 : 1) << r.err;
        EXPECT_EQ(r.err.find(": envelope refused\n") == std::string::npos, c.causesNamed || opened == out.size())
            << r.err;
    }
}

// Stopped at the 1000th envelope (lines that are not envelopes do not
// count) when 95% or more of them are refused, after the lines so far;
// --keep-going goes on, and a short input read to its end is warned of.
TEST_F(CliEnvelopeLines, AWrongKeyStopsTheJobAtTheFirstThousandEnvelopes) {
    auto stopAfter = [](const std::string& refused, const std::string& envelopes) {
        return "corvane: envelope open: " + refused + " of the first " + envelopes + " envelopes refused: is " +
               rightKey() + " the key they were sealed under? Check --key, or add --keep-going to open every line "
                            "anyway\n";
    };
    const std::string stop = stopAfter("1000", "1000");
    const std::vector<std::string> junk(10, "junk");
    struct Case {
        const char* name;
        std::vector<std::string> args, input;
        std::size_t linesOut;
        std::string errEnd;
    };
    const std::vector<Case> cases = {
        {"all refused", {}, underWrong_, 1000, stop},
        {"95% after ten lines of junk", {}, junk + slice(underWrong_, 0, 950) + slice(underRight_, 0, 550), 1010,
         stopAfter("950", "1000")},
        {"94%", {}, slice(underWrong_, 0, 940) + slice(underRight_, 0, 560), 1500,
         "corvane: envelope open: 1500 lines read, 560 opened, 940 refused, 0 not envelopes\n"},
        {"--keep-going", {"--keep-going"}, underWrong_, 4000,
         "corvane: envelope open: 4000 lines read, 0 opened, 4000 refused, 0 not envelopes\n"},
        {"a short input", {}, slice(underWrong_, 0, 5) + junk, 15,
         "corvane: envelope open: 15 lines read, 0 opened, 5 refused, 10 not envelopes\n" + stopAfter("5", "5")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult r =
            corvane(Args{"envelope", "open", "--key", rightKey(), "--lines", "--jobs", "2"} + c.args, joined(c.input));
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(linesOf(r.out).size(), c.linesOut);
        ASSERT_GE(r.err.size(), c.errEnd.size());
        EXPECT_EQ(r.err.substr(r.err.size() - c.errEnd.size()), c.errEnd) << r.err;
    }
    // With -o nothing is written, and no quarantine either.
    TempDir out;
    const RunResult r = corvane({"envelope", "open", "--key", rightKey(), "--lines", "-o", out.file("opened"),
                                 "--quarantine", out.file("bad")},
                                joined(underWrong_));
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(folderEntries(out.path()), std::vector<std::string>{});
}

// The first ten bad lines are named, then one line says the rest are
// counted only, and the counts end the job.
TEST_F(CliEnvelopeLines, MessagesAreCappedAndTheCountsEndTheJob) {
    const RunResult r = corvane({"envelope", "open", "--key", rightKey(), "--lines"},
                                joined(slice(underRight_, 0, 5) + std::vector<std::string>(25, "junk")));
    EXPECT_EQ(r.exitStatus, 1);
    std::vector<std::string> expected;
    for (int line = 6; line <= 15; ++line)
        expected.push_back("corvane: envelope open: standard input, line " + std::to_string(line) + ": not an envelope");
    expected.push_back("corvane: envelope open: more bad lines are counted, not reported one by one");
    expected.push_back("corvane: envelope open: 30 lines read, 5 opened, 0 refused, 25 not envelopes");
    EXPECT_EQ(linesOf(r.err), expected);
}

// The quarantine lists every bad line (input as given, line, reason, the
// line itself; nothing of a line too long, nor of seal's messages), is
// empty when no line is bad, and is not written on a usage error.
TEST_F(CliEnvelopeLines, TheQuarantineListsEveryBadLine) {
    TempDir work;
    const std::string quarantine = work.file("bad.tsv");
    // A payload of one block whose padding byte is 0, under a key openssl wraps.
    const std::string desKey = "0123456789ABCDEF01234567", desKeyHex = toHex(bytesOf(desKey));
    const std::string badPadding =
        v1::base64Encode(oracle({"openssl", "pkeyutl", "-encrypt", "-pubin", "-inkey",
                                 right_->path(KeyForm::publicSpkiPem), "-in", work.write("key", desKey)})) +
        " " +
        v1::base64Encode(oracle({"openssl", "enc", "-des-ede3-cbc", "-nopad", "-K", desKeyHex, "-iv",
                                 desKeyHex.substr(0, 16), "-in", work.write("zeros", std::string(8, '\0'))}));
    const std::string hexKeyed =
        corvane({"envelope", "seal", "--pubkey", right_->path(KeyForm::publicSpkiPem), "--hex-key"}, "hi").out;
    const std::string cut = underRight_[1].substr(0, underRight_[1].size() - 4);
    const std::string input = work.write(
        "in", joined({linesOf(hexKeyed)[0], "junk", cut, badPadding, underRight_[2], std::string(70000, 'A')}));
    struct Case {
        std::vector<std::string> args;
        std::string summary, listed;
    };
    const std::vector<Case> cases = {
        {{"--text-keys", input}, "6 lines read, 1 opened, 3 refused, 2 not envelopes",
         input + "\t2\tnot an envelope\tjunk\n" + input + "\t3\tenvelope malformed\t" + cut + "\n" + input +
             "\t4\tpayload padding refused\t" + badPadding + "\n" + input + "\t5\tkey not text\t" + underRight_[2] +
             "\n" + input + "\t6\tline too long\t\n"},
        {{"--uniform", "-"}, "6 lines read, 2 opened, 2 refused, 2 not envelopes",
         "-\t2\tnot an envelope\tjunk\n-\t3\tenvelope refused\t" + cut + "\n-\t4\tenvelope refused\t" + badPadding +
             "\n-\t6\tline too long\t\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.args));
        work.write("bad.tsv", "an older list\n");
        const RunResult r = corvane(Args{"envelope", "open", "--key", rightKey(), "--lines", "--quarantine", quarantine} +
                                        c.args,
                                    readTextFile(input));
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(linesOf(r.out).at(0), "aGk=");
        EXPECT_EQ(countOf(linesOf(r.out), "error: envelope refused"), c.args[0] == "--uniform" ? 2u : 3u);
        EXPECT_NE(r.err.find("envelope open: " + c.summary + "\n"), std::string::npos) << r.err;
        EXPECT_EQ(readTextFile(quarantine), c.listed);
    }
    const std::string publicKey = right_->path(KeyForm::publicSpkiPem);
    RunResult r = corvane({"envelope", "seal", "--pubkey", publicKey, "--lines", "--quarantine", quarantine},
                          "YQ==\n!!secret\n" + std::string(70000, 'A') + "\n");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(readTextFile(quarantine), "-\t2\tnot Base64\t\n-\t3\tline too long\t\n");
    EXPECT_NE(r.err.find("envelope seal: 3 lines read, 1 sealed, 2 not Base64\n"), std::string::npos) << r.err;
    r = corvane({"envelope", "open", "--key", rightKey(), "--lines", "--quarantine", quarantine},
                joined(slice(underRight_, 0, 3)));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(readTextFile(quarantine), "");

    const std::string absent = work.file("absent.tsv");
    const Args key = {"envelope", "open", "--key", rightKey()}, open = key + Args{"--quarantine", absent};
    for (const auto& [args, message] : std::vector<std::pair<Args, std::string>>{
             {open, "--quarantine goes with --lines"},
             {open + Args{"--lines", "--uniform", "--text-keys"}, "--text-keys goes with the archive refusal"},
             {open + Args{"--lines", "--progress", "--jobs", "0"}, "--jobs takes 1 to"},
             {key + Args{"--keep-going"}, "--keep-going goes with --lines"},
             {key + Args{"--uniform"}, "--uniform goes with --lines"},
             {{"envelope", "open", "--key", rightKey(), "--lines", "--quarantine", input, input},
              "--quarantine names the input file"},
             {{"envelope", "seal", "--pubkey", publicKey, "--progress", "--quarantine", absent},
              "--progress goes with --lines"},
         }) {
        expectFailure(corvane(args, "YQ==\n"), 2, message, describe(args));
        EXPECT_EQ(folderEntries(work.path()), (std::vector<std::string>{"bad.tsv", "in", "key", "zeros"}));
    }
}

// --progress leaves the output alone and ends with one plain line of the
// records done (no carriage return where standard error is not a terminal).
TEST_F(CliEnvelopeLines, ProgressCountsRecords) {
    TempDir work;
    const std::string input = work.write("in", joined(slice(underRight_, 0, 300)));
    const RunResult plain = corvane({"envelope", "open", "--key", rightKey(), "--lines", input});
    const RunResult shown = corvane({"envelope", "open", "--key", rightKey(), "--lines", "--progress", input});
    EXPECT_EQ(shown.exitStatus, 0);
    EXPECT_EQ(shown.out, plain.out);
    const std::string line = input + ": 300 records (" + std::to_string(readTextFile(input).size()) + " bytes) in ";
    EXPECT_EQ(shown.err.rfind(line, 0), 0u) << shown.err;
    EXPECT_NE(shown.err.find(" records/s\ncorvane: envelope open: 300 lines read"), std::string::npos) << shown.err;
    EXPECT_EQ(shown.err.find('\r'), std::string::npos);
    const RunResult sealed = corvane(
        {"envelope", "seal", "--pubkey", right_->path(KeyForm::publicSpkiPem), "--lines", "--progress"}, "YQ==\n");
    EXPECT_EQ(sealed.err.rfind("standard input: 1 records (5 bytes) in ", 0), 0u) << sealed.err;
}

}  // namespace
