// The tool's one vocabulary, run as users run it: passphrases spelled
// --passin-*/--passout-*, the old spellings still taken (cli_test checks
// that nothing users read names them); "did you mean" for slips; --raw and
// Base64 mixed up told before any output; binary output kept off terminals
// unless -o - asks for it.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/support/cli/cli_tool.h"
#include "tests/support/cli/tool_key_suite.h"
#include "tests/support/rsa/openssl_key_files.h"

using namespace corvane::test;

namespace {

using corvane::test::corvane;

class CliVocabulary : public ToolKeySuite<512> {
protected:
    const std::string& privateKey() { return key(512).path(KeyForm::privatePkcs8Pem); }
    const std::string& publicKey() { return key(512).path(KeyForm::publicSpkiPem); }
    const std::string& encryptedKey() { return key(512).path(KeyForm::encryptedPkcs8Pem); }
};

const Args kDes3Key = {"--key-hex", "00112233445566778899aabbccddeeff0011223344556677", "--iv-hex", "0102030405060708"};

// A slip in an option, action or command names what was meant; options by
// their current spelling, whatever spelling the slip was near.
TEST(CliSuggestions, SlipsNameWhatWasMeant) {
    REQUIRE_TOOL();
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"rsa", "encrpyt"}, "rsa: unknown action encrpyt; did you mean encrypt? (see corvane rsa --help)"},
        {{"envlope"}, "unknown command envlope; did you mean envelope? (see corvane --help)"},
        {{"--verison"}, "unknown option --verison; did you mean --version? (see corvane --help)"},
        {{"des3", "decrypt", "--pass-fiel", "f"},
         "des3: unknown option --pass-fiel; did you mean --passin-file? (see corvane des3 decrypt --help)"},
        {{"rsa", "key", "--passout-fil=f", "k"},
         "rsa: unknown option --passout-fil=f; did you mean --passout-file? (see corvane rsa key --help)"},
        {{"base64", "--wrp", "4"}, "base64: unknown option --wrp; did you mean --wrap? (see corvane base64 --help)"},
        {{"md5", "--chekc"}, "md5: unknown option --chekc; did you mean --check? (see corvane md5 --help)"},
        // An old spelling and its new one are the same option.
        {{"rsa", "decrypt", "--passphrase-file", "f", "--passin-file", "f"},
         "rsa: option --passin-file given twice (see corvane rsa decrypt --help)"},
        {{"rsa", "keygen", "--out", "k", "--pass-prompt", "--passout-env", "X"},
         "rsa: give one of --passout-file, --passout-env or --passout-prompt, not more (see corvane rsa keygen --help)"},
        {{"rsa", "key", "--pass-out-file"}, "rsa: option --pass-out-file needs a value (see corvane rsa key --help)"},
        // Nothing near enough: no guess.
        {{"md5", "--frobnicate"}, "md5: unknown option --frobnicate (see corvane md5 --help)"},
    };
    for (const auto& [args, message] : cases) {
        RunResult r = corvane(args);
        EXPECT_EQ(r.exitStatus, 2) << describe(args);
        EXPECT_EQ(r.err, "corvane: " + message + "\n") << describe(args);
    }
}

// Base64 text given to --raw, and bytes given where Base64 is read, are
// refused with the option to change, before a byte of output, even when
// every piece read is one byte long.
TEST_F(CliVocabulary, RawAndBase64MixUpsAreToldBeforeAnyOutput) {
    ScopedEnvironment environment;
    environment.set("CORVANE_TEST_PASS", kKeyFilePassphrase);
    Rng rng(0x40a);
    const std::string message = randomText(rng, 1000);
    const Args desEncrypt = Args{"des3", "encrypt"} + kDes3Key, desDecrypt = Args{"des3", "decrypt"} + kDes3Key;
    const Args passEncrypt = {"des3", "encrypt", "--passin-env", "CORVANE_TEST_PASS"};
    const Args passDecrypt = {"des3", "decrypt", "--passin-env", "CORVANE_TEST_PASS"};
    const Args rsaDecrypt = {"rsa", "decrypt", "--key", privateKey()};
    const std::string rsaBlock = corvane({"rsa", "encrypt", "--pubkey", publicKey(), "--raw", "--message", "m"}).out;
    const std::string leaveOutRaw = "is Base64 text, and --raw reads", giveRaw = "use --raw";
    const std::vector<std::tuple<Args, std::string, std::string>> cases = {
        {desDecrypt + Args{"--raw"}, corvane(desEncrypt, message).out, leaveOutRaw},
        {desDecrypt + Args{"--raw"}, corvane(desEncrypt, "short").out, leaveOutRaw},
        {passDecrypt + Args{"--raw"}, corvane(passEncrypt, message).out, leaveOutRaw},
        {passDecrypt + Args{"--raw"}, corvane(passEncrypt, "short").out, leaveOutRaw},
        {rsaDecrypt + Args{"--raw"}, corvane({"base64"}, rsaBlock).out, leaveOutRaw},
        {desDecrypt, corvane(desEncrypt + Args{"--raw"}, message).out, giveRaw},
        {passDecrypt, corvane(passEncrypt + Args{"--raw"}, message).out, giveRaw},
        {rsaDecrypt, rsaBlock, giveRaw},
    };
    environment.set("CORVANE_TOOL_CHUNK_SIZE", "1");
    for (const auto& [args, input, fragment] : cases) expectFailure(corvane(args, input), 1, fragment, describe(args));
    // The right forms pass at that piece size too.
    EXPECT_EQ(corvane(desDecrypt + Args{"--raw"}, corvane(desEncrypt + Args{"--raw"}, message).out).out, message);
    EXPECT_EQ(corvane(passDecrypt, corvane(passEncrypt, "short").out).out, "short");
}

// On a terminal, binary output is refused before anything is read or
// written, naming the text form; text, -o - and redirected output pass.
TEST_F(CliVocabulary, BinaryOutputIsKeptOffTerminals) {
    Rng rng(0x7e7);
    const std::string binary = "\x1b[2J" + randomText(rng, 20), text = "caf\xc3\xa9 au lait\n";
    auto block = [&](const std::string& m) { return corvane({"rsa", "encrypt", "--pubkey", publicKey()}, m).out; };
    const std::string signature = corvane({"rsa", "sign", "--key", privateKey()}, binary).out;
    const std::string envelope = corvane({"envelope", "seal", "--pubkey", publicKey()}, binary).out;
    struct Case {
        Args args;
        std::string in;
        std::string refusal;  // a fragment of the message, or "" for output that is written
    };
    const Case cases[] = {
        {{"rsa", "encrypt", "--pubkey", publicKey(), "--raw", "--message", "m"}, "", "leave out --raw for Base64"},
        {{"rsa", "key", "--outform", "der", publicKey()}, "", "leave out --outform der for PEM"},
        {Args{"des3", "encrypt", "--raw"} + kDes3Key, "plain", "leave out --raw for Base64"},
        {{"rsa", "decrypt", "--key", privateKey()}, block(binary), "give --hex"},
        {{"rsa", "recover", "--pubkey", publicKey()}, signature, "give --hex"},
        {Args{"des3", "decrypt"} + kDes3Key, corvane(Args{"des3", "encrypt"} + kDes3Key, binary).out, "give -o FILE"},
        {{"envelope", "open", "--key", privateKey()}, envelope, "--lines writes it in Base64"},
        {{"rsa", "decrypt", "--key", privateKey()}, block(text), ""},
        {{"rsa", "decrypt", "--key", privateKey(), "-o", "-"}, block(binary), ""},
        {Args{"des3", "decrypt"} + kDes3Key, corvane(Args{"des3", "encrypt"} + kDes3Key, text).out, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.args));
        RunResult shown = runOnTerminal(std::vector<std::string>{kTool} + c.args, c.in, TerminalStream::output);
        if (c.refusal.empty()) {
            EXPECT_EQ(shown.exitStatus, 0) << shown.err;
            EXPECT_EQ(shown.out, corvane(c.args, c.in).out);
            continue;
        }
        EXPECT_EQ(shown.exitStatus, 1);
        EXPECT_EQ(shown.out, "");
        EXPECT_NE(shown.err.find("not writing binary output to a terminal: "), std::string::npos) << shown.err;
        EXPECT_NE(shown.err.find(c.refusal), std::string::npos) << shown.err;
    }
}

}  // namespace
