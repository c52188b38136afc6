// corvane envelope open | seal: envelopes through both commands and back on
// one thread and on several, openssl opening ours and ours opening
// openssl's, every bad line answered in place, the one-envelope forms, and
// the options refused.
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
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
    EXPECT_NE(opened.err.find("standard input, line 3: envelope refused"), std::string::npos) << opened.err;
    EXPECT_NE(opened.err.find("line 5: line longer"), std::string::npos) << opened.err;
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
    expectFailure(corvane({"envelope", "open", "--key", privateKey, "--jobs", "2"}, sealed.out), 2,
                  "--jobs goes with --lines", "--jobs alone");
    expectFailure(corvane({"envelope", "seal", "--pubkey", k.path(KeyForm::publicSpkiPem), "--lines", "--jobs", "0"}),
                  2, "--jobs takes 1 to ", "no jobs");
    // Far above what any machine holds: refused, naming the most.
    expectFailure(corvane({"envelope", "open", "--key", privateKey, "--lines", "--jobs", "100000"}, sealed.out), 2,
                  "on this machine: ", "too many jobs");
    expectFailure(corvane({"envelope", "open"}), 2, "--key FILE", "no key");
}

}  // namespace
