// corvane rsa encrypt | decrypt | sign --lines: a few hundred lines through
// encryption and back, openssl's blocks and ours read by the other, bad
// lines answered in place while the others go on, empty input, signatures
// checked with the public key, and the options --lines refuses.
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/cli/cli_tool.h"
#include "tests/support/cli/tool_key_suite.h"
#include "tests/support/rsa/openssl_key_files.h"

using namespace corvane::test;

namespace {

using corvane::test::corvane;
namespace v1 = corvane::v1;

class CliRsaLines : public ToolKeySuite<512, 1024> {};

std::vector<std::string> randomMessages(Rng& rng, std::size_t count, std::size_t maxLength) {
    std::vector<std::string> messages;
    for (std::size_t i = 0; i < count; ++i)
        messages.push_back(v1::base64Encode(rng.bytes(rng.range(0, maxLength))));
    messages[3] = "";  // the empty message, an empty line
    return messages;
}

TEST_F(CliRsaLines, EncryptThenDecryptGivesEveryMessageBackInOrder) {
    Rng rng(0x11e5);
    for (unsigned bits : {512u, 1024u}) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        OpensslKeyFiles& k = key(bits);
        const std::vector<std::string> messages = randomMessages(rng, 300, bits / 8 - 11);
        std::string input = joined(messages);
        input.insert(input.find('\n'), "\r");  // a CRLF line end
        input.pop_back();                      // and a last line without its line feed
        RunResult blocks =
            corvane({"rsa", "encrypt", "--pubkey", k.path(KeyForm::publicSpkiPem), "--lines"}, input);
        ASSERT_EQ(blocks.exitStatus, 0) << blocks.err;
        std::vector<std::string> blockLines = linesOf(blocks.out);
        ASSERT_EQ(blockLines.size(), messages.size());
        const std::string privateKey = k.path(KeyForm::privatePkcs8Pem);
        EXPECT_EQ(v1::base64Encode(oracle({"openssl", "pkeyutl", "-decrypt", "-inkey", privateKey, "-in",
                                           write("block", text(v1::base64Decode(blockLines[150])))})),
                  messages[150]);
        // openssl's block among ours.
        blockLines[7] = v1::base64Encode(
            oracle({"openssl", "pkeyutl", "-encrypt", "-pubin", "-inkey", k.path(KeyForm::publicSpkiPem),
                    "-in", write("message", text(v1::base64Decode(messages[7])))}));

        RunResult back = corvane({"rsa", "decrypt", "--key", privateKey, "--lines"}, joined(blockLines));
        EXPECT_EQ(back.exitStatus, 0) << back.err;
        EXPECT_EQ(back.out, joined(messages));
        // Read in pieces of 7 bytes: a piece boundary falls everywhere in a line, and in a CRLF end.
        ScopedEnvironment environment;
        environment.set("CORVANE_TOOL_CHUNK_SIZE", "7");
        std::string crlf = joined(blockLines);
        for (std::size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2)
            crlf.insert(at, "\r");
        RunResult hex = corvane({"rsa", "decrypt", "--key", privateKey, "--lines", "--hex"}, crlf);
        std::vector<std::string> hexLines = linesOf(hex.out);
        ASSERT_EQ(hexLines.size(), messages.size());
        for (std::size_t i = 0; i < messages.size(); ++i)
            ASSERT_EQ(hexLines[i], toHex(v1::base64Decode(messages[i]))) << "line " << i + 1;
    }
}

TEST_F(CliRsaLines, BadLinesAreAnsweredInPlaceAndTheOthersGoOn) {
    Rng rng(0xbad);
    OpensslKeyFiles& k = key(512);
    const std::string privateKey = k.path(KeyForm::privatePkcs8Pem);
    std::vector<std::string> messages = randomMessages(rng, 200, 53);
    RunResult blocks =
        corvane({"rsa", "encrypt", "--pubkey", k.path(KeyForm::publicSpkiPem), "--lines"}, joined(messages));
    ASSERT_EQ(blocks.exitStatus, 0) << blocks.err;
    std::vector<std::string> input = linesOf(blocks.out);
    // Line number (from 1) -> what replaces it, and what its error says.
    const std::vector<std::tuple<std::size_t, std::string, std::string>> bad = {
        {60, "!!!not base64", "not valid Base64"},
        {64, v1::base64Encode(rng.bytes(63)), "the encrypted block has 63 bytes; this key's blocks have 64"},
        {65, "", "empty line: no block"},
        {101, std::string(5000, 'A'), "line longer than 4096 bytes"},
    };
    std::vector<std::string> expected = messages;
    for (const auto& [line, text, error] : bad) {
        input[line - 1] = text.substr(0, text.find('\n'));
        expected[line - 1] = "error: " + error;
    }
    // A block that is no type-2 block gets its implicit-rejection substitute.
    const std::string typeOne = linesOf(corvane({"rsa", "sign", "--key", privateKey, "--message", "type 1"}).out)[0];
    input[99] = typeOne;
    expected[99] = v1::base64Encode(
        v1::RsaPrivateKey::fromFile(privateKey).decrypt(v1::base64Decode(typeOne), v1::RsaRejection::implicit));
    ScopedEnvironment environment;  // the long line over many pieces
    environment.set("CORVANE_TOOL_CHUNK_SIZE", "1000");
    RunResult r = corvane({"rsa", "decrypt", "--key", privateKey, "--lines"}, joined(input));
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, joined(expected));
    std::vector<std::string> messagesOnError = linesOf(r.err);
    ASSERT_EQ(messagesOnError.size(), bad.size()) << r.err;
    for (std::size_t i = 0; i < bad.size(); ++i) {
        const auto& [line, text, error] = bad[i];
        EXPECT_EQ(messagesOnError[i],
                  "corvane: rsa decrypt: standard input, line " + std::to_string(line) + ": " + error);
    }
    // A message too long for the key, among messages that fit.
    RunResult encrypted = corvane({"rsa", "encrypt", "--pubkey", k.path(KeyForm::publicSpkiPem), "--lines"},
                                  "AAAA\n" + v1::base64Encode(rng.bytes(54)) + "\nAAAA\n");
    EXPECT_EQ(encrypted.exitStatus, 1);
    std::vector<std::string> encryptedLines = linesOf(encrypted.out);
    ASSERT_EQ(encryptedLines.size(), 3u);
    EXPECT_EQ(encryptedLines[1], "error: message too long: 54 bytes; at most 53 fit a 512-bit key");
    EXPECT_EQ(v1::base64Decode(encryptedLines[2]).size(), 64u);
}

// A block of the key's length that is no type-2 block under it is answered
// with the library's implicit-rejection substitute (the same on every run,
// nothing on standard error, exit status 0), unless --report-bad-blocks
// asks for the refusal; a value not below the modulus, which anyone can
// see, is a bad line either way.
TEST_F(CliRsaLines, BlocksThatDoNotDecryptGetSubstitutesUnlessAskedToReport) {
    Rng rng(0x1e7);
    OpensslKeyFiles& k = key(512);
    const std::string privateKey = k.path(KeyForm::privatePkcs1Pem);
    const v1::RsaPrivateKey library = v1::RsaPrivateKey::fromFile(privateKey);
    const Bytes modulus = v1::hexDecode(k.modulusHex());
    const std::string good =
        linesOf(corvane({"rsa", "encrypt", "--pubkey", k.path(KeyForm::publicSpkiPem), "--message", "real"}).out)[0];
    Bytes flipped = v1::base64Decode(good);
    flipped[1] ^= 0x40;  // decrypts to unrelated bytes
    Bytes belowModulus = rng.bytes(64);
    belowModulus[0] = 0;
    Bytes aboveModulus = modulus;
    aboveModulus[63] ^= 1;  // the modulus itself, give or take one
    if (aboveModulus < modulus) aboveModulus = Bytes(64, 0xff);
    struct Case {
        const char* name;
        Bytes block;
        bool visible;  // a value not below the modulus: a bad line either way
    };
    const std::vector<Case> cases = {
        {"a type-1 block", v1::base64Decode(linesOf(corvane({"rsa", "sign", "--key", privateKey, "--message", "x"}).out)[0]),
         false},
        {"a flipped ciphertext bit", flipped, false},
        {"random bytes below the modulus", belowModulus, false},
        {"zero", Bytes(64, 0), false},
        {"the modulus", modulus, true},
        {"above the modulus", aboveModulus, true},
    };
    std::string input = good + "\n";
    for (const Case& c : cases) input += v1::base64Encode(c.block) + "\n";
    input += good + "\n";

    const Args decrypt = {"rsa", "decrypt", "--key", privateKey, "--lines"};
    const RunResult implicit = corvane(decrypt, input);
    EXPECT_EQ(corvane(decrypt, input).out, implicit.out) << "the same substitutes every time";
    const RunResult reported = corvane(decrypt + Args{"--report-bad-blocks"}, input);
    const std::vector<std::string> implicitLines = linesOf(implicit.out), reportedLines = linesOf(reported.out);
    ASSERT_EQ(implicitLines.size(), cases.size() + 2);
    ASSERT_EQ(reportedLines.size(), cases.size() + 2);
    for (const std::vector<std::string>* lines : {&implicitLines, &reportedLines}) {
        EXPECT_EQ(lines->front(), "cmVhbA==");
        EXPECT_EQ(lines->back(), "cmVhbA==");
    }
    std::size_t visible = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        if (c.visible) {
            ++visible;
            EXPECT_EQ(implicitLines[i + 1], "error: the block's value is not below the key's modulus");
        } else {
            EXPECT_EQ(implicitLines[i + 1],
                      v1::base64Encode(library.decrypt(c.block, v1::RsaRejection::implicit)));
        }
        EXPECT_EQ(reportedLines[i + 1], "error: decryption failed: wrong key or damaged block");
    }
    EXPECT_EQ(implicit.exitStatus, 1);
    EXPECT_EQ(linesOf(implicit.err).size(), visible) << implicit.err;
    EXPECT_EQ(reported.exitStatus, 1);
    EXPECT_EQ(linesOf(reported.err).size(), cases.size()) << reported.err;

    // Substitutes alone are no failure: a sender cannot tell them by the status either.
    const RunResult quiet = corvane(decrypt, input.substr(0, input.find("\n", input.find("\n") + 1) + 1));
    EXPECT_EQ(quiet.exitStatus, 0);
    EXPECT_EQ(quiet.err, "");

    const std::string help = corvane({"rsa", "decrypt", "--help"}).out;
    for (const char* said : {"--report-bad-blocks", "decryption oracle", "corvane envelope open", "implicit rejection"})
        EXPECT_NE(help.find(said), std::string::npos) << said;
    expectFailure(corvane({"rsa", "decrypt", "--key", privateKey, "--report-bad-blocks"}, good), 2,
                  "--report-bad-blocks goes with --lines", "without --lines");
}

TEST_F(CliRsaLines, SignaturesRecoverUnderThePublicKey) {
    Rng rng(0x5167);
    OpensslKeyFiles& k = key(1024);
    const std::vector<std::string> messages = randomMessages(rng, 150, 117);
    RunResult signatures =
        corvane({"rsa", "sign", "--key", k.path(KeyForm::privatePkcs1Der), "--lines"}, joined(messages));
    ASSERT_EQ(signatures.exitStatus, 0) << signatures.err;
    std::vector<std::string> lines = linesOf(signatures.out);
    ASSERT_EQ(lines.size(), messages.size());
    const v1::RsaPublicKey publicKey = v1::RsaPublicKey::fromFile(k.path(KeyForm::publicSpkiPem));
    for (std::size_t i = 0; i < messages.size(); ++i)
        ASSERT_EQ(v1::base64Encode(publicKey.recover(v1::base64Decode(lines[i]))), messages[i])
            << "line " << i + 1;
    // Type-1 blocks have no random filler: openssl makes the same bytes.
    EXPECT_EQ(v1::base64Encode(oracle({"openssl", "pkeyutl", "-sign", "-inkey",
                                       k.path(KeyForm::privatePkcs8Pem), "-in", write("message", "")})),
              lines[3]);
}

TEST_F(CliRsaLines, HexKeysEncryptLinesAtTheirTrueSize) {
    Rng rng(0x4e7);
    for (unsigned bits : {512u, 1024u}) {
        OpensslKeyFiles& k = key(bits);
        const std::vector<std::string> messages = randomMessages(rng, 70, bits / 8 - 11);
        RunResult blocks = corvane(
            {"rsa", "encrypt", "--modulus", k.modulusHex(), "--exponent", "010001", "--lines", "--hex"},
            joined(messages));
        ASSERT_EQ(blocks.exitStatus, 0) << blocks.err;
        std::string base64Blocks;
        for (const std::string& line : linesOf(blocks.out)) {
            ASSERT_EQ(line.size(), bits / 4);
            base64Blocks += v1::base64Encode(v1::hexDecode(line)) + "\n";
        }
        EXPECT_EQ(
            corvane({"rsa", "decrypt", "--key", k.path(KeyForm::privatePkcs1Pem), "--lines"}, base64Blocks)
                .out,
            joined(messages));
    }
}

TEST_F(CliRsaLines, EmptyInputAndRefusedOptions) {
    const std::string privateKey = key(512).path(KeyForm::privatePkcs8Pem);
    const std::string publicKey = key(512).path(KeyForm::publicSpkiPem);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"rsa", "decrypt", "--key", privateKey, "--lines"},
                                               {"rsa", "sign", "--key", privateKey, "--lines", "--hex"},
                                               {"rsa", "encrypt", "--pubkey", publicKey, "--lines"}}) {
        RunResult r = corvane(args, "");
        EXPECT_EQ(r.exitStatus, 0) << describe(args);
        EXPECT_EQ(r.out + r.err, "") << describe(args);
    }
    expectFailure(corvane({"rsa", "decrypt", "--key", privateKey, "--lines", "--raw"}, "AAAA\n"), 2,
                  "--raw does not go with it", "decrypt --raw");
    expectFailure(corvane({"rsa", "sign", "--key", privateKey, "--lines", "--message", "x"}), 2,
                  "not from --message", "sign --message");
}

}  // namespace
