// corvane envelope open | seal: the legacy scheme's messages (an RSA-wrapped
// triple-DES key and the payload under it) through the library's envelope
// calls, one at a time or one per line on worker threads.
#include <Corvane/corvane.hpp>
#include <algorithm>
#include <charconv>
#include <string>
#include <thread>

#include "platform/secure_zero.h"
#include "tools/corvane/commands/actions.h"
#include "tools/corvane/commands/commands.h"
#include "tools/corvane/commands/rsa/rsa_commands.h"
#include "tools/corvane/commands/rsa/rsa_keys.h"
#include "tools/corvane/io/base64_stream.h"
#include "tools/corvane/io/envelope_line.h"
#include "tools/corvane/io/io.h"
#include "tools/corvane/io/line_reader.h"
#include "tools/corvane/io/ordered_groups.h"
#include "tools/corvane/io/output_file.h"
#include "tools/corvane/io/terminal_output.h"
#include "tools/corvane/options/job_count.h"
#include "tools/corvane/options/options.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

const char kHelp[] =
    "usage: corvane envelope open --key FILE [PASSPHRASE] [--lines [--jobs N]] [FILE | WRAPPED PAYLOAD]\n"
    "       corvane envelope seal --pubkey FILE [PASSPHRASE] [--hex-key] [--lines [--jobs N]] [FILE]\n"
    "The legacy scheme's message to a server: a random triple-DES key wrapped in\n"
    "a PKCS #1 v1.5 block under the server's RSA key, and the payload encrypted\n"
    "under that key in CBC mode, the key's first 8 bytes as IV.\n"
    "\n"
    "An envelope is written as one line of two Base64 fields, the wrapped key\n"
    "and the payload, separated by a space (a tab is read as well). open refuses\n"
    "every envelope that does not open with the one message \"envelope refused\",\n"
    "whatever went wrong: the tool tells a sender nothing about the padding of\n"
    "either part.\n"
    "\n"
    "RSA of 1024 bits or less, PKCS #1 v1.5 and triple-DES are kept for\n"
    "interoperability with existing peers, not recommended for new designs.\n"
    "Exit status: 0 success, 1 an envelope refused (after every line, with\n"
    "--lines), an unusable key or an unreadable file, 2 usage error.\n";

const char kLinesHelp[] =
    "With --lines, one item per line of FILE (standard input for none or \"-\")\n"
    "and one line out per line in, in order; a bad line gives \"error: WHAT\" in\n"
    "its place and a message naming its line number on standard error, the other\n"
    "lines go on, and the exit status is 1. Lines go 64 at a time to the\n"
    "library's batch calls on N threads (--jobs, the number of processors by\n"
    "default), with at most 2N groups in memory whatever the input's length. A\n"
    "carriage return before a line feed is dropped; lines above 65536 bytes are\n"
    "bad. N is at most 8 a processor, and no more jobs than the machine's memory\n"
    "holds at 16 MiB a job (256 at most); a larger N is refused, naming the most.\n";

const std::string kOpenHelp = std::string(
    "usage: corvane envelope open --key FILE [PASSPHRASE] [--lines [--jobs N]] [FILE | WRAPPED PAYLOAD]\n"
    "The plaintext of an envelope under the private key. With two files, their\n"
    "bytes are the wrapped key and the payload; otherwise FILE (or standard\n"
    "input) holds one envelope line, as seal writes it. The plaintext is written\n"
    "as bytes; one that is not text is not written to a terminal (see -o).\n"
    "PASSPHRASE, for an encrypted key file, is --passin-file or --passin-env;\n"
    "without either, it is asked on the terminal.\n"
    "With --lines each line is an envelope, and each plaintext is written in\n"
    "Base64 on a line of its own; a refused envelope gives \"error: envelope\n"
    "refused\".\n") + kLinesHelp + "\n" + kOutputHelp;

const std::string kSealHelp = std::string(
    "usage: corvane envelope seal --pubkey FILE [PASSPHRASE] [--hex-key] [--lines [--jobs N]] [FILE]\n"
    "A new envelope of the bytes of FILE (or standard input) under the public\n"
    "key (a \"PUBLIC KEY\", \"RSA PUBLIC KEY\", certificate or private key file;\n"
    "PASSPHRASE as for open, for an encrypted one), written as one line of two\n"
    "Base64 fields. Each envelope has a new key of 24\n"
    "bytes from the system's random source; with --hex-key, of 24 upper-case\n"
    "hexadecimal characters, for peers that handle the key as text (75 bits of\n"
    "key rather than 168).\n"
    "With --lines each line is a message in Base64 (an empty line is the empty\n"
    "message) and each envelope is written on a line of its own.\n") + kLinesHelp;

constexpr std::size_t kGroupSize = 64;
constexpr std::size_t kLineLimit = 65536;
// One envelope's parts, or one message, when read whole.
constexpr std::size_t kInputLimit = 64 * 1024 * 1024;
// What one job may hold at once: two groups in flight, each of up to
// kGroupSize lines of kLineLimit bytes and their outputs of about as many.
constexpr std::size_t kBytesPerJob = 2 * kGroupSize * 2 * kLineLimit;

void wipe(std::vector<std::uint8_t>& bytes) {
    secure_zero(bytes.data(), bytes.size());
    bytes.clear();
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string envelopeLine(const v1::Envelope& envelope) {
    return base64Encode(envelope.wrappedKey, Base64Family::standard) + " " +
           base64Encode(envelope.payload, Base64Family::standard);
}

constexpr const char* kNotAnEnvelope = "not an envelope: two Base64 fields separated by a space or tab";

struct CommonOptions {
    bool lines = false;
    std::optional<std::string> jobs;
    PassphraseOptions passphrase;

    void declare(Options& options) {
        options.flag({"--lines"}, lines, "one item per line; one line out per line in (see --help)")
            .value("--jobs", jobs, {"with --lines: threads for the batch calls (default: the number of processors)", "N"});
        passphrase.declare(options);
    }
    std::size_t jobCount(const Options& options) const {
        if (jobs && !lines) options.fail("--jobs goes with --lines");
        return tool::jobCount(options, jobs, kBytesPerJob);
    }
};

int openLines(const std::vector<std::string>& files, const v1::RsaPrivateKey& key, std::size_t jobs) {
    LineReader reader(files.empty() ? "-" : files.front(), kLineLimit);
    const bool allGood = runOrderedGroups(
        reader, kGroupSize, jobs,
        [&](LineGroup& group, std::size_t) {
            std::vector<v1::Envelope> envelopes(group.lines.size());
            std::vector<v1::EnvelopeView> views;
            std::vector<std::size_t> owners;
            for (std::size_t i = 0; i < group.lines.size(); ++i) {
                std::optional<v1::Envelope> parsed;
                if (!group.tooLong[i]) parsed = parseEnvelopeLine(group.lines[i]);
                if (!parsed) {
                    group.errors[i] = group.tooLong[i] ? "line longer than " + std::to_string(kLineLimit) + " bytes"
                                                       : kNotAnEnvelope;
                    continue;
                }
                envelopes[i] = std::move(*parsed);
                views.push_back({envelopes[i].wrappedKey, envelopes[i].payload});
                owners.push_back(i);
            }
            std::vector<v1::BatchResult> opened = v1::openEnvelopes(key, views);
            for (std::size_t j = 0; j < opened.size(); ++j) {
                const std::size_t i = owners[j];
                if (opened[j].error)
                    group.errors[i] = "envelope refused";
                else
                    group.outputs[i] = base64Encode(opened[j].bytes, Base64Family::standard);
                wipe(opened[j].bytes);
            }
        },
        "envelope open");
    return allGood ? kExitOk : kExitFailure;
}

int openOne(const std::vector<std::string>& files, const v1::RsaPrivateKey& key,
            const std::optional<std::string>& output);

int runOpen(const Args& args) {
    std::optional<std::string> keyPath;
    CommonOptions common;
    Options options("envelope open", kOpenHelp);
    options.value("--key", keyPath,
                  {"the private key, PKCS #8 or PKCS #1, PEM or DER, plain or encrypted", "FILE"});
    common.declare(options);
    std::optional<std::string> output;
    declareOutput(options, output);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(common.lines ? 1 : 2);
    if (!keyPath) options.fail("a private key is needed: --key FILE");
    const std::size_t jobs = common.jobCount(options);
    const auto& files = options.positional();
    if (*keyPath == "-" && (files.empty() || std::find(files.begin(), files.end(), "-") != files.end()))
        options.fail("the key and the input cannot both come from standard input");

    struct WipedKey {
        R_RSA_PRIVATE_KEY record;
        ~WipedKey() { secure_zero_object(record); }
    } record;
    PassphraseSource passphrase = common.passphrase.source(options);
    loadRsaPrivateKey(*keyPath, record.record, passphrase);
    const v1::RsaPrivateKey key = v1::RsaPrivateKey::fromRecord(record.record);
    return runWithOutput(output,
                         [&] { return common.lines ? openLines(files, key, jobs) : openOne(files, key, output); });
}

int openOne(const std::vector<std::string>& files, const v1::RsaPrivateKey& key,
            const std::optional<std::string>& output) {
    v1::Envelope envelope;
    if (files.size() == 2) {
        envelope.wrappedKey = readInput({files[0]}, kInputLimit);
        envelope.payload = readInput({files[1]}, kInputLimit);
    } else {
        Bytes input = readInput(files, kInputLimit);
        std::string line(input.begin(), input.end());
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        auto parsed = parseEnvelopeLine(line);
        if (!parsed) failure(kNotAnEnvelope);
        envelope = std::move(*parsed);
    }
    std::error_code error;
    std::vector<std::uint8_t> plaintext = v1::openEnvelope(key, envelope.wrappedKey, envelope.payload, error);
    if (error) failure(error == ErrorCode::outOfMemory ? "out of memory" : "envelope refused");
    struct WipeOnReturn {
        std::vector<std::uint8_t>& bytes;
        ~WipeOnReturn() { wipe(bytes); }
    } wipeOnReturn{plaintext};
    checkMessageOutput(output, plaintext, "--lines writes it in Base64");
    writeBytes(plaintext);
    return kExitOk;
}

bool sealLines(const std::vector<std::string>& files, const v1::RsaPublicKey& key, v1::Des3KeyForm form,
               std::size_t jobs) {
    // One pool per worker: a pool is for one thread at a time, and seeding
    // one per group would cost more than the group's encryptions.
    std::vector<v1::RandomPool> pools(jobs);
    LineReader reader(files.empty() ? "-" : files.front(), kLineLimit);
    return runOrderedGroups(
        reader, kGroupSize, jobs,
        [&](LineGroup& group, std::size_t worker) {
            // The group's messages are sealed together, so that their
            // payloads' CBC chains share the triple-DES batch lanes.
            std::vector<std::vector<std::uint8_t>> messages(group.lines.size());
            std::vector<v1::ByteView> views;
            std::vector<std::size_t> owners;
            for (std::size_t i = 0; i < group.lines.size(); ++i) {
                if (group.tooLong[i]) {
                    group.errors[i] = "line longer than " + std::to_string(kLineLimit) + " bytes";
                    continue;
                }
                auto message = base64Decode(bytesOf(group.lines[i]), Base64Family::standard);
                if (!message) {
                    group.errors[i] = "not valid Base64";
                    continue;
                }
                messages[i] = std::move(*message);
                views.push_back(messages[i]);
                owners.push_back(i);
            }
            const std::vector<v1::Envelope> sealed = v1::sealEnvelopes(key, views, pools[worker], form);
            for (std::size_t j = 0; j < sealed.size(); ++j) group.outputs[owners[j]] = envelopeLine(sealed[j]);
            for (auto& message : messages) wipe(message);
        },
        "envelope seal");
}

int runSeal(const Args& args) {
    std::optional<std::string> keyPath;
    CommonOptions common;
    bool hexKey = false;
    Options options("envelope seal", kSealHelp);
    options.value("--pubkey", keyPath,
                  {"an RSA public key file, PEM or DER: \"PUBLIC KEY\", \"RSA PUBLIC KEY\", an X.509 "
                   "certificate, or a private key file, whose public half is used",
                   "FILE"})
        .flag({"--hex-key"}, hexKey, "a key of 24 upper-case hexadecimal characters, for peers that treat it as text");
    common.declare(options);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(1);
    if (!keyPath) options.fail("a public key is needed: --pubkey FILE");
    const std::size_t jobs = common.jobCount(options);
    if (*keyPath == "-" && (options.positional().empty() || options.positional().front() == "-"))
        options.fail("the key and the input cannot both come from standard input");

    R_RSA_PUBLIC_KEY record;
    PassphraseSource passphrase = common.passphrase.source(options);
    loadRsaPublicKey(*keyPath, record, passphrase);
    refuseKeyThatProtectsNothing(record, inputName(*keyPath));
    const v1::RsaPublicKey key = v1::RsaPublicKey::fromRecord(record);
    if (key.maxMessageSize() < 24)
        failure("a " + std::to_string(key.bits()) + "-bit key cannot wrap a 24-byte triple-DES key");
    const v1::Des3KeyForm form = hexKey ? v1::Des3KeyForm::hexText : v1::Des3KeyForm::bytes;
    if (common.lines) return sealLines(options.positional(), key, form, jobs) ? kExitOk : kExitFailure;
    Bytes message = readInput(options.positional(), kInputLimit);
    v1::RandomPool pool;
    const v1::Envelope envelope = v1::sealEnvelope(key, message, pool, form);
    wipe(message);
    writeText(envelopeLine(envelope) + "\n");
    return kExitOk;
}

}  // namespace

int runEnvelope(const Args& args) {
    static const Action actions[] = {
        {"open", runOpen, "the plaintext of envelopes under a private key"},
        {"seal", runSeal, "new envelopes under a public key"},
    };
    return runAction("envelope", actions, kHelp, args);
}

}  // namespace corvane::tool
