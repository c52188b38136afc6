// The streaming commands, corvane base64 and corvane des3, as built: read in
// pieces of one byte (a test-only piece size, CORVANE_TOOL_CHUNK_SIZE, puts a
// boundary at every offset) their output must be what the classes give for
// the whole input at once, in this process, refusals included; -w and -i as
// coreutils has them; keys and IVs from files and the environment; the two
// des3 warnings; and peak memory on inputs far larger than the bound.
// tool_streams_test cuts the same stages at every point in-process.
#include <Corvane/Foundation.h>
#include <Corvane/QVDes3.h>
#include <Corvane/QVGTMBase64.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Classes/source/QVGTMBase64_PrivateMethods.h"
#include "tests/support/cli/cli_tool.h"

using namespace corvane::test;

namespace {

using corvane::test::corvane;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The issue's bound on resident memory, whatever the input's size.
constexpr long kMemoryBoundKiB = 16 * 1024;

// Piece sizes: 1 puts a boundary at every offset; 9 cuts groups and blocks
// out of phase; the default reads short inputs whole.
const std::vector<std::size_t> kChunkSizes = {1, 9, std::size_t{1} << 20};

RunResult inChunks(std::size_t chunkSize, const std::vector<std::string>& args, const std::string& in = {}) {
    ScopedEnvironment environment;
    environment.set("CORVANE_TOOL_CHUNK_SIZE", std::to_string(chunkSize));
    return corvane(args, in);
}

std::string webSafe(std::string s) {
    std::replace(s.begin(), s.end(), '+', '-');
    std::replace(s.begin(), s.end(), '/', '_');
    return s;
}

// ---------------------------------------------------------------------------
// base64

// What the tool must give: the class's result on the whole text; a NUL is
// refused, and text of whitespace only decodes to nothing.
std::optional<std::string> expectedDecoding(const std::string& text, bool webSafeFamily) {
    if (text.find('\0') != std::string::npos) return std::nullopt;
    corvane::NSAutoreleasePool pool;
    corvane::NSMutableData* bytes = webSafeFamily
                                        ? corvane::QVGTMBase64::webSafeDecodeBytes(text.data(), text.size())
                                        : corvane::QVGTMBase64::decodeBytes(text.data(), text.size());
    if (bytes != nullptr) return std::string(static_cast<const char*>(bytes->bytes()), bytes->length());
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return corvane::test_seams::base64IsSpace(static_cast<std::uint8_t>(c)); }))
        return std::string();
    return std::nullopt;
}

std::string expectedEncoding(const std::string& bytes, bool webSafeFamily, bool padded) {
    if (bytes.empty()) return "";
    corvane::NSAutoreleasePool pool;
    corvane::NSMutableData* text =
        webSafeFamily ? corvane::QVGTMBase64::webSafeEncodeBytes(bytes.data(), bytes.size(), padded)
                      : corvane::QVGTMBase64::encodeBytes(bytes.data(), bytes.size());
    return std::string(static_cast<const char*>(text->bytes()), text->length()) + "\n";
}

// A text for each rule of the decoder, and encodings with whitespace of
// every kind the coder skips.
std::vector<std::string> decodingCases() {
    std::vector<std::string> cases = {
        "",          " \t\n", "\xa0\xff\v\f\r",         "QUJDRA",  "-_8", "QQ==QQ==", "QQ= =",
        "QUI= \n x", "QR==",  std::string("QUI=\0", 5), "QU\x80JD"};
    Rng rng(0x5b64);
    for (std::size_t n : {2u, 41u}) {
        std::string encoded = oracle({"base64", "-w", "7"}, randomText(rng, n));  // lines of seven
        cases.push_back(webSafe(encoded));
        std::string spaced = encoded;
        for (std::size_t at = 3; at < spaced.size(); at += 6) spaced.insert(at, at % 4 ? "\xa0" : " \xff");
        cases.push_back(spaced);
        cases.push_back(encoded + "=");  // more after the padding, or a pad in the first place
    }
    return cases;
}

TEST(CliBase64Stream, DecodingCutAtEveryOffsetGivesTheWholeTextsResult) {
    REQUIRE_TOOL();
    for (const std::string& text : decodingCases()) {
        for (bool webSafeFamily : {false, true}) {
            const std::optional<std::string> expected = expectedDecoding(text, webSafeFamily);
            std::vector<std::string> args = {"base64", "-d"};
            if (webSafeFamily) args.push_back("--web-safe");
            for (std::size_t chunk : kChunkSizes) {
                SCOPED_TRACE(describe(args) + " <<< \"" + toHex(bytesOf(text)) + "\" in pieces of " +
                             std::to_string(chunk));
                RunResult r = inChunks(chunk, args, text);
                if (expected) {
                    EXPECT_EQ(r.exitStatus, 0) << r.err;
                    EXPECT_EQ(r.out, *expected);
                    EXPECT_EQ(r.err, "");
                } else {
                    // Output written before the refusal was found is allowed:
                    // it is what the pieces before it held.
                    EXPECT_EQ(r.exitStatus, 1);
                    EXPECT_EQ(r.err, std::string("corvane: base64: input is not valid ") +
                                         (webSafeFamily ? "web-safe " : "") + "Base64\n");
                }
            }
        }
    }
}

TEST(CliBase64Stream, EncodingCutAtEveryOffsetGivesTheWholeInputsResult) {
    REQUIRE_TOOL();
    Rng rng(0xe5c);
    for (std::size_t n : {0u, 2u, 100u}) {
        std::string data = randomText(rng, n);
        struct Mode {
            std::vector<std::string> args;
            bool webSafeFamily, padded;
        };
        for (const Mode& mode : {Mode{{"base64"}, false, true}, Mode{{"base64", "--web-safe"}, true, true},
                                 Mode{{"base64", "--web-safe", "--no-padding"}, true, false}}) {
            const std::string expected = expectedEncoding(data, mode.webSafeFamily, mode.padded);
            for (std::size_t chunk : kChunkSizes) {
                SCOPED_TRACE(describe(mode.args) + ", " + std::to_string(n) + " bytes in pieces of " +
                             std::to_string(chunk));
                RunResult r = inChunks(chunk, mode.args, data);
                EXPECT_EQ(r.exitStatus, 0) << r.err;
                EXPECT_EQ(r.out, expected);
            }
        }
    }
}

// -w COLS as coreutils cuts lines, including a last line that fills its
// columns exactly; -w 0 and no -w give one line with its line end.
TEST(CliBase64Stream, WrapAgreesWithCoreutils) {
    REQUIRE_TOOL();
    Rng rng(0x76);
    for (std::size_t n : {0u, 2u, 57u, 1000u}) {
        std::string data = randomText(rng, n);
        std::string oneLine = oracle({"base64", "-w0"}, data);
        EXPECT_EQ(corvane({"base64", "-w", "0"}, data).out, oneLine.empty() ? "" : oneLine + "\n");
        EXPECT_EQ(corvane({"base64"}, data).out, oneLine.empty() ? "" : oneLine + "\n");
        for (const char* columns : {"1", "4", "76"}) {
            SCOPED_TRACE(std::to_string(n) + " bytes, -w " + columns);
            std::string expected = oracle({"base64", "-w", columns}, data);
            EXPECT_EQ(inChunks(1, {"base64", "--wrap=" + std::string(columns)}, data).out, expected);
        }
        std::string websafe = oracle({"basenc", "--base64url", "-w", "5"}, data);
        EXPECT_EQ(corvane({"base64", "--web-safe", "-w", "5"}, data).out, websafe);
    }
}

// -i drops what is outside the alphabet before decoding, as base64 -d -i
// (and basenc --base64url -d -i for the web-safe family) do; without -i the
// same texts fail.
TEST(CliBase64Stream, IgnoreGarbageAgreesWithCoreutils) {
    REQUIRE_TOOL();
    Rng rng(0x91);
    const std::string garbage = std::string("*!.\x80\x7f\x01#", 7) + std::string(1, '\0');
    for (bool webSafeFamily : {false, true}) {
        const std::string otherAlphabet = webSafeFamily ? "+/" : "-_";
        for (std::size_t n : {2u, 500u}) {
            std::string data = randomText(rng, n);
            std::string encoded = webSafeFamily ? oracle({"basenc", "--base64url", "-w", "20"}, data)
                                                : oracle({"base64", "-w", "20"}, data);
            for (int round = 0; round < 2; ++round) {
                std::string dirty = encoded;
                for (int k = 0; k < 4; ++k) {
                    std::string junk =
                        round % 2 ? otherAlphabet.substr(k % 2, 1) : garbage.substr(rng.range(0, 7), 1);
                    dirty.insert(rng.range(0, dirty.size()), junk);
                }
                SCOPED_TRACE((webSafeFamily ? "web-safe " : "") + toHex(bytesOf(dirty)));
                std::vector<std::string> ours = {"base64", "-d", "-i"};
                if (webSafeFamily) ours.push_back("--web-safe");
                std::string theirs = webSafeFamily ? oracle({"basenc", "--base64url", "-d", "-i"}, dirty)
                                                   : oracle({"base64", "-d", "-i"}, dirty);
                EXPECT_EQ(theirs, data);
                RunResult r = inChunks(kChunkSizes[static_cast<std::size_t>(round)], ours, dirty);
                EXPECT_EQ(r.exitStatus, 0) << r.err;
                EXPECT_EQ(r.out, theirs);
                ours.erase(ours.begin() + 2);
                EXPECT_EQ(corvane(ours, dirty).exitStatus, 1);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// des3

std::string des3(bool encrypt, const std::string& data, const std::string& key,
                 const std::optional<std::string>& iv) {
    using namespace corvane;
    Ref<NSData> d = make_ref<NSData>(data.data(), data.size()), k = make_ref<NSData>(key.data(), key.size());
    Ref<NSData> v = iv ? make_ref<NSData>(iv->data(), iv->size()) : nullptr;
    std::int32_t error = 0;
    Ref<NSData> out = encrypt ? QVDes3::createDes3EncryptData(d.get(), k.get(), v.get(), &error)
                              : QVDes3::createDes3DecryptData(d.get(), k.get(), v.get(), &error);
    if (!out) ADD_FAILURE() << "QVDes3 refused: " << error;
    return out ? std::string(static_cast<const char*>(out->bytes()), out->length()) : std::string();
}

TEST(CliDes3Stream, CutAtEveryOffsetGivesTheClassesResultOnTheWholeInput) {
    REQUIRE_TOOL();
    Rng rng(0xde53);
    struct Keys {
        std::string key;
        std::optional<std::string> iv;
    };
    // A full key and IV; a short key and no IV (the key's first bytes serve).
    for (const Keys& k :
         {Keys{randomText(rng, 24), randomText(rng, 8)}, Keys{randomText(rng, 16), std::nullopt}}) {
        std::vector<std::string> keyArgs = {"-q", "--key-hex", toHex(bytesOf(k.key))};
        if (k.iv) keyArgs.insert(keyArgs.end(), {"--iv-hex", toHex(bytesOf(*k.iv))});
        for (std::size_t n : {0u, 9u, 33u}) {
            std::string data = randomText(rng, n);
            std::string sealed = des3(true, data, k.key, k.iv);
            for (std::size_t chunk : kChunkSizes) {
                SCOPED_TRACE(std::to_string(n) + " bytes in pieces of " + std::to_string(chunk) +
                             (k.iv ? "" : ", no IV"));
                std::vector<std::string> encrypt = {"des3", "encrypt", "--raw"},
                                         decrypt = {"des3", "decrypt", "--raw"};
                encrypt.insert(encrypt.end(), keyArgs.begin(), keyArgs.end());
                decrypt.insert(decrypt.end(), keyArgs.begin(), keyArgs.end());
                EXPECT_EQ(inChunks(chunk, encrypt, data).out, sealed);
                RunResult opened = inChunks(chunk, decrypt, sealed);
                EXPECT_EQ(opened.exitStatus, 0) << opened.err;
                EXPECT_EQ(opened.out, data);
            }
            // The Base64 forms: encrypt's one line, decrypt reading wrapped text.
            std::vector<std::string> encrypt = {"des3", "encrypt"}, decrypt = {"des3", "decrypt"};
            encrypt.insert(encrypt.end(), keyArgs.begin(), keyArgs.end());
            decrypt.insert(decrypt.end(), keyArgs.begin(), keyArgs.end());
            EXPECT_EQ(inChunks(1, encrypt, data).out, oracle({"base64", "-w0"}, sealed) + "\n");
            EXPECT_EQ(inChunks(1, decrypt, oracle({"base64", "-w", "10"}, sealed)).out, data);
        }
    }
}

TEST(CliDes3Stream, RefusalsAtTheEndWhateverThePieces) {
    REQUIRE_TOOL();
    Rng rng(0xbad);
    const std::string key = randomText(rng, 24), iv = randomText(rng, 8);
    const std::string keyHex = toHex(bytesOf(key)), ivHex = toHex(bytesOf(iv));
    const std::string sealed = des3(true, randomText(rng, 40), key, iv);
    corvane::NSLogSetSink([](const std::string&) {});
    // A wrong key whose last block fails the padding check (checked with the class).
    std::string wrongKey;
    for (std::string candidate = randomText(rng, 24);; candidate = randomText(rng, 24)) {
        corvane::Ref<corvane::NSData> d = corvane::make_ref<corvane::NSData>(sealed.data(), sealed.size());
        corvane::Ref<corvane::NSData> k =
            corvane::make_ref<corvane::NSData>(candidate.data(), candidate.size());
        corvane::Ref<corvane::NSData> v = corvane::make_ref<corvane::NSData>(iv.data(), iv.size());
        if (!corvane::QVDes3::createDes3DecryptData(d.get(), k.get(), v.get(), nullptr)) {
            wrongKey = candidate;
            break;
        }
    }
    struct Case {
        std::string ciphertext, keyHex, message;
    };
    for (const Case& c : {Case{sealed.substr(0, 39), keyHex,
                               "the ciphertext has 39 bytes, not a whole number of 8-byte blocks"},
                          Case{"", keyHex, "there is no ciphertext"},
                          Case{sealed, toHex(bytesOf(wrongKey)), "wrong key or IV, or damaged data"}}) {
        for (std::size_t chunk : kChunkSizes) {
            SCOPED_TRACE(c.message + " in pieces of " + std::to_string(chunk));
            RunResult r = inChunks(
                chunk, {"des3", "decrypt", "--raw", "--key-hex", c.keyHex, "--iv-hex", ivHex}, c.ciphertext);
            EXPECT_EQ(r.exitStatus, 1);
            EXPECT_EQ(r.err, "corvane: des3: decryption failed: " + c.message + "\n");
        }
    }
}

TEST(CliDes3Stream, KeysAndIvsFromFilesAndTheEnvironment) {
    REQUIRE_TOOL();
    TempDir dir;
    Rng rng(0xf11e);
    std::string data = randomText(rng, 100);
    // A binary key that ends in a line feed: taken exactly as it stands.
    std::string key = randomText(rng, 23) + "\n", iv = randomText(rng, 8);
    const std::string keyHex = toHex(bytesOf(key)), ivHex = toHex(bytesOf(iv));
    const std::string expected = des3(true, data, key, iv);
    const std::string keyFile = dir.write("key.bin", key), ivFile = dir.write("iv.bin", iv);
    const std::string keyHexFile = dir.write("key.hex", "  " + keyHex + "\n"),
                      ivHexFile = dir.write("iv.hex", ivHex);
    ScopedEnvironment environment;
    environment.set("CORVANE_TEST_KEY_HEX", keyHex);
    environment.set("CORVANE_TEST_IV_HEX", "\t" + ivHex + "\n");
    environment.set("CORVANE_TEST_IV", iv.find('\0') == std::string::npos ? iv : "");
    const std::vector<std::vector<std::string>> forms = {
        {"--key-file", keyFile, "--iv-file", ivFile},
        {"--key-hex-file", keyHexFile, "--iv-hex-file", ivHexFile},
        {"--key-hex-env", "CORVANE_TEST_KEY_HEX", "--iv-hex-env", "CORVANE_TEST_IV_HEX"},
        {"--key-file", keyFile, "--iv-hex", ivHex},
    };
    for (const auto& form : forms) {
        std::vector<std::string> args = {"des3", "encrypt", "--raw"};
        args.insert(args.end(), form.begin(), form.end());
        RunResult r = corvane(args, data);
        EXPECT_EQ(r.exitStatus, 0) << describe(args) << "\n" << r.err;
        EXPECT_EQ(r.out, expected) << describe(args);
    }
    // A text key and IV from variables equal the same texts on the command line.
    environment.set("CORVANE_TEST_KEY", "a text key of 24 chars..");
    environment.set("CORVANE_TEST_IV", "8 chars!");
    EXPECT_EQ(
        corvane({"des3", "encrypt", "--raw", "--key-env", "CORVANE_TEST_KEY", "--iv-env", "CORVANE_TEST_IV"},
                data)
            .out,
        corvane({"des3", "encrypt", "--raw", "--key", "a text key of 24 chars..", "--iv", "8 chars!"}, data)
            .out);

    // Sources that do not give a usable key fail with exit status 1, naming them.
    environment.unset("CORVANE_TEST_UNSET");
    const std::string longKey = dir.write("long.bin", randomText(rng, 24) + "\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--key-file", dir.file("absent")}, "key file " + dir.file("absent") + ": No such file"},
        {{"--key-env", "CORVANE_TEST_UNSET"}, "CORVANE_TEST_UNSET is not set"},
        {{"--key-file", longKey},
         "the key has 25 bytes; at most 24 are used (from key file " + longKey + ")"},
        {{"--key-file", dir.write("empty", "")}, "the key is empty"},
        {{"--key-hex-file", dir.write("bad.hex", "abc\n")},
         "does not hold an even number of hexadecimal digits"},
        {{"--key-hex-file", dir.write("bad2.hex", "\n 00112233x4\n")},
         "holds a character that is not a hexadecimal digit at offset 10"},
        {{"--key-hex", keyHex, "--iv-file", dir.write("iv9", "123456789")}, "the iv has 9 bytes; at most 8"},
        {{"--key-file", "/dev/zero"}, "holds more than 4096 bytes"},
    };
    for (const auto& [form, fragment] : refused) {
        std::vector<std::string> args = {"des3", "encrypt", "-q"};
        args.insert(args.end(), form.begin(), form.end());
        expectFailure(corvane(args, data), 1, fragment, describe(args));
    }
}

// One line each, on standard error, for the two differences from openssl
// enc; -q silences them; the output is the same either way.
TEST(CliDes3Stream, WarnsAboutAMissingIvAndAShortKey) {
    REQUIRE_TOOL();
    const std::string data = "some plaintext";
    struct Case {
        std::vector<std::string> keyArgs;
        std::vector<std::string> warnings;
    };
    const std::string noIv = "corvane: des3: warning: no IV given; the key's first 8 bytes serve as the IV";
    const std::string shortKey =
        "corvane: des3: warning: the key has 16 bytes; it is extended with zero bytes to 24";
    for (const Case& c : {Case{{"--key", std::string(24, 'k'), "--iv", "12345678"}, {}},
                          Case{{"--key", std::string(24, 'k')}, {noIv}},
                          Case{{"--key", std::string(16, 'k'), "--iv-hex", "00"}, {shortKey}},
                          Case{{"--key", std::string(16, 'k')}, {shortKey, noIv}}}) {
        for (const char* action : {"encrypt", "decrypt"}) {
            std::vector<std::string> args = {"des3", action, "--raw"};
            args.insert(args.end(), c.keyArgs.begin(), c.keyArgs.end());
            std::string input = std::string(action) == "encrypt" ? data : [&] {
                std::vector<std::string> seal = {"des3", "encrypt", "--raw", "-q"};
                seal.insert(seal.end(), c.keyArgs.begin(), c.keyArgs.end());
                return corvane(seal, data).out;
            }();
            RunResult loud = corvane(args, input);
            std::vector<std::string> quietArgs = args;
            quietArgs.push_back("--quiet");
            RunResult quiet = corvane(quietArgs, input);
            SCOPED_TRACE(describe(args));
            EXPECT_EQ(loud.exitStatus, 0);
            EXPECT_EQ(quiet.exitStatus, 0);
            EXPECT_EQ(loud.out, quiet.out);
            EXPECT_EQ(quiet.err, "");
            std::size_t lines = std::count(loud.err.begin(), loud.err.end(), '\n');
            EXPECT_EQ(lines, c.warnings.size()) << loud.err;
            for (const std::string& warning : c.warnings)
                EXPECT_NE(loud.err.find(warning), std::string::npos) << loud.err;
        }
    }
}

// ---------------------------------------------------------------------------
// Memory

// The peak resident memory of the tool, from GNU time (installed by
// scripts/install-deps): it reports the one process it starts. A process
// started straight from this test would report the test's own size as well,
// since a spawned child's figure counts the memory it shares with its parent
// until it runs the new program.
std::optional<long> peakMemoryKiB(const std::vector<std::string>& args, const std::string& stdoutPath,
                                  const TempDir& dir, RunResult& result) {
    const std::string time = "/usr/bin/time";
    if (access(time.c_str(), X_OK) != 0) return std::nullopt;
    std::vector<std::string> argv = {time, "-f", "%M", "-o", dir.file("peak"), kTool};
    argv.insert(argv.end(), args.begin(), args.end());
    result = runProgram(argv, "", stdoutPath);
    return std::stol(readTextFile(dir.file("peak")));
}

// Inputs many times the bound go through in bounded memory, and back.
TEST(CliStreams, PeakMemoryStaysUnderTheBoundOnLargeInputs) {
    REQUIRE_TOOL();
    if (kSanitized) GTEST_SKIP() << "the sanitizer's own memory makes resident sizes meaningless";
    TempDir dir;
    Rng rng(0x64);
    const std::string data = randomText(rng, std::size_t{64} << 20);
    const std::string input = dir.write("input", data);
    const std::string des3Input = dir.write("des3-input", data.substr(0, std::size_t{16} << 20));
    const std::string key = "--key-hex=00112233445566778899aabbccddeeff0011223344556677";
    const std::string iv = "--iv-hex=0102030405060708";
    struct Step {
        std::vector<std::string> args;
        std::string out;
    };
    for (const Step& step : {
             Step{{"base64", input}, dir.file("encoded")},
             Step{{"base64", "-d", dir.file("encoded")}, dir.file("decoded")},
             Step{{"base64", "-w", "76", input}, dir.file("wrapped")},
             Step{{"base64", "-d", dir.file("wrapped")}, dir.file("unwrapped")},
             Step{{"des3", "encrypt", key, iv, des3Input}, dir.file("sealed")},
             Step{{"des3", "decrypt", key, iv, dir.file("sealed")}, dir.file("opened")},
         }) {
        SCOPED_TRACE(describe(step.args));
        RunResult r;
        std::optional<long> peak = peakMemoryKiB(step.args, step.out, dir, r);
        if (!peak) GTEST_SKIP() << "/usr/bin/time is not installed (scripts/install-deps installs it)";
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_LT(*peak, kMemoryBoundKiB);
        std::printf("peak resident memory of corvane %s: %ld KiB\n", describe(step.args).c_str(), *peak);
    }
    EXPECT_TRUE(readTextFile(dir.file("decoded")) == data);
    EXPECT_TRUE(readTextFile(dir.file("unwrapped")) == data);
    EXPECT_TRUE(readTextFile(dir.file("opened")) == data.substr(0, std::size_t{16} << 20));
}

// --progress on md5, base64 and des3: the output is that of the run
// without it, standard error ends with one final line that counts every
// byte read, and without the option nothing is written there.
TEST(CliStreams, ProgressEndsWithAFinalLineAndLeavesTheOutputAlone) {
    REQUIRE_TOOL();
    TempDir dir;
    Rng rng(0x9e);
    const std::string data = randomText(rng, 300000);
    const std::string input = dir.write("input", data);
    const std::string encoded = dir.write("encoded", corvane({"base64", input}).out);
    const std::string key = "--key-hex=00112233445566778899aabbccddeeff0011223344556677";
    const std::string iv = "--iv-hex=0102030405060708";
    struct Case {
        std::vector<std::string> args;
        std::string in;
        std::string finalLine;  // what the last line starts with
    };
    const std::string ofFile = input + ": " + std::to_string(data.size()) + " bytes in ";
    const std::vector<Case> cases = {
        {{"md5", input}, "", ofFile},
        {{"md5", "-c", dir.write("list", corvane({"md5", input}).out)}, "", ofFile},
        {{"md5"}, data, "standard input: " + std::to_string(data.size()) + " bytes in "},
        {{"base64", input}, "", ofFile},
        {{"base64", "-d", encoded}, "", encoded + ": " + std::to_string(readTextFile(encoded).size()) + " bytes in "},
        {{"des3", "encrypt", key, iv, "--raw", input}, "", ofFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.args));
        RunResult plain = corvane(c.args, c.in);
        std::vector<std::string> args = c.args;
        args.insert(args.begin() + (args[0] == "des3" ? 2 : 1), "--progress");
        RunResult shown = corvane(args, c.in);
        EXPECT_EQ(plain.exitStatus, 0);
        EXPECT_EQ(shown.exitStatus, 0);
        EXPECT_EQ(plain.err, "");
        EXPECT_TRUE(shown.out == plain.out);
        ASSERT_FALSE(shown.err.empty());
        EXPECT_EQ(shown.err.back(), '\n');
        EXPECT_EQ(std::count(shown.err.begin(), shown.err.end(), '\n'), 1);
        std::string last = shown.err.substr(shown.err.rfind('\r') + 1);
        EXPECT_EQ(last.rfind(c.finalLine, 0), 0u) << last;
    }
}

// A slow input is shown while it is read: on a terminal the line is
// redrawn in place before the final one; elsewhere (a log) every line is a
// plain line, and none is drawn over another.
TEST(CliStreams, ProgressIsRedrawnOnlyOnATerminal) {
    REQUIRE_TOOL();
    ScopedEnvironment environment;
    environment.set("CORVANE_TOOL_CHUNK_SIZE", "1000");
    const std::vector<std::string> slowInput = {
        "sh", "-c", "(head -c 1000 /dev/zero; sleep 0.6; head -c 1000 /dev/zero) | \"$0\" base64 --progress", kTool};
    RunResult shown = runOnTerminal(slowInput, "", TerminalStream::error);
    EXPECT_EQ(shown.exitStatus, 0) << shown.err;
    EXPECT_EQ(shown.out, std::string(2664, 'A') + "AAA=\n");
    EXPECT_GE(std::count(shown.err.begin(), shown.err.end(), '\r'), 2) << shown.err;
    EXPECT_NE(shown.err.find("\rstandard input: 2000 bytes in "), std::string::npos) << shown.err;

    RunResult logged = runProgram(slowInput);
    EXPECT_EQ(logged.exitStatus, 0) << logged.err;
    EXPECT_EQ(logged.out, shown.out);
    EXPECT_EQ(logged.err.find('\r'), std::string::npos) << logged.err;
    EXPECT_EQ(logged.err.rfind("standard input: 2000 bytes in ", 0), 0u) << logged.err;
}

}  // namespace
