// corvane envelope open | seal: the legacy scheme's messages (an RSA-wrapped
// triple-DES key and the payload under it) through the library's envelope
// calls, one at a time or one per line on worker threads (--lines: an
// archive's refusals by default, counts, a quarantine file, the wrong-key
// stop).
#include <sys/stat.h>

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
    "usage: corvane envelope open --key FILE [PASSPHRASE] [--lines [LINE OPTIONS]] [FILE | WRAPPED PAYLOAD]\n"
    "       corvane envelope seal --pubkey FILE [PASSPHRASE] [--hex-key] [--lines [LINE OPTIONS]] [FILE]\n"
    "The legacy scheme's message to a server: a random triple-DES key wrapped in\n"
    "a PKCS #1 v1.5 block under the server's RSA key, and the payload encrypted\n"
    "under that key in CBC mode, the key's first 8 bytes as IV.\n"
    "\n"
    "An envelope is written as one line of two Base64 fields, the wrapped key\n"
    "and the payload, separated by a space (a tab is read as well). open answers\n"
    "every envelope that does not open with the one message \"envelope refused\",\n"
    "whatever went wrong. With --lines it opens an archive by default, and\n"
    "standard error then names each refusal's cause; --uniform tells nothing\n"
    "about the padding of either part, as a service answering senders must (see\n"
    "envelope open --help).\n"
    "\n"
    "RSA of 1024 bits or less, PKCS #1 v1.5 and triple-DES are kept for\n"
    "interoperability with existing peers, not recommended for new designs.\n"
    "Exit status: 0 success, 1 an envelope refused or a bad line (with --lines,\n"
    "after every line, or where a wrong key stopped the job), an unusable key or\n"
    "an unreadable file, 2 usage error.\n";

const char kLinesHelp[] =
    "With --lines, one item per line of FILE (standard input for none or \"-\")\n"
    "and one line out per line in, in order; a bad line gives \"error: WHAT\" in\n"
    "its place, the other lines go on, and the exit status is 1. The first 10 bad\n"
    "lines are named on standard error by line number and reason, the rest only\n"
    "counted; the job ends with one line of counts there (\"envelope open: N lines\n"
    "read, O opened, R refused, B not envelopes\"). --quarantine FILE lists every\n"
    "bad line in FILE, one a line: the input's name as given (\"-\" for standard\n"
    "input), the line number, the reason and the line as read, separated by tabs\n"
    "(seal leaves out the line: it is a message); FILE is written whole when the\n"
    "job ends, empty when no line was bad, and not at all when the job fails or\n"
    "stops. --progress shows the records done, their rate and the time left on\n"
    "standard error.\n"
    "Lines go 64 at a time to the library's batch calls on N threads (--jobs, the\n"
    "number of processors by default), with at most 2N groups in memory whatever\n"
    "the input's length. A carriage return before a line feed is dropped; lines\n"
    "above 65536 bytes are bad. N is at most 8 a processor, and no more jobs than\n"
    "the machine's memory holds at 16 MiB a job (256 at most); a larger N is\n"
    "refused, naming the most.\n";

const std::string kOpenHelp = std::string(
    "usage: corvane envelope open --key FILE [PASSPHRASE] [FILE | WRAPPED PAYLOAD]\n"
    "       corvane envelope open --key FILE [PASSPHRASE] --lines [--uniform | --text-keys] [--keep-going]\n"
    "                             [--quarantine FILE] [--progress] [--jobs N] [FILE]\n"
    "The plaintext of an envelope under the private key. With two files, their\n"
    "bytes are the wrapped key and the payload; otherwise FILE (or standard\n"
    "input) holds one envelope line, as seal writes it. The plaintext is written\n"
    "as bytes; one that is not text is not written to a terminal (see -o).\n"
    "PASSPHRASE, for an encrypted key file, is --passin-file or --passin-env;\n"
    "without either, it is asked on the terminal.\n"
    "With --lines each line is an envelope, and each plaintext is written in\n"
    "Base64 on a line of its own; a refused envelope gives \"error: envelope\n"
    "refused\".\n"
    "\n"
    "One envelope is always opened with the uniform refusal; --lines opens an\n"
    "archive's: a wrapped key that does not unpad is refused outright, and\n"
    "standard error and --quarantine give each refusal's cause (envelope\n"
    "malformed, wrapped key refused, payload padding refused, key not text).\n"
    "A service that answers the senders of envelopes must give --uniform, one\n"
    "refusal whatever failed, since the archive's distinct refusals would be a\n"
    "padding oracle to them; a stored archive that no sender watches should\n"
    "keep the default, which passes no garbage off as a record under a wrong\n"
    "key or from a damaged one, where the uniform refusal passes about 1 in 256\n"
    "(docs/library.md, \"Serving senders or opening an archive\"). --text-keys,\n"
    "for archives sealed with --hex-key, also refuses a key that is not 24\n"
    "hexadecimal characters.\n"
    "A job under the wrong key stops early: when 95% or more of the first 1000\n"
    "envelopes (of all of them, in a shorter input) are refused, open says so,\n"
    "naming the key, and exits with status 1 after the lines written so far;\n"
    "--keep-going opens every line whatever the share.\n") + kLinesHelp + "\n" + kOutputHelp;

const std::string kSealHelp = std::string(
    "usage: corvane envelope seal --pubkey FILE [PASSPHRASE] [--hex-key] [FILE]\n"
    "       corvane envelope seal --pubkey FILE [PASSPHRASE] [--hex-key] --lines [--quarantine FILE]\n"
    "                             [--progress] [--jobs N] [FILE]\n"
    "A new envelope of the bytes of FILE (or standard input) under the public\n"
    "key (a \"PUBLIC KEY\", \"RSA PUBLIC KEY\", certificate or private key file;\n"
    "PASSPHRASE as for open, for an encrypted one), written as one line of two\n"
    "Base64 fields. Each envelope has a new key of 24\n"
    "bytes from the system's random source; with --hex-key, of 24 upper-case\n"
    "hexadecimal characters, for peers that handle the key as text (75 bits of\n"
    "key rather than 168).\n"
    "With --lines each line is a message in Base64 (an empty line is the empty\n"
    "message) and each envelope is written on a line of its own; the counts at\n"
    "the end are \"envelope seal: N lines read, S sealed, B not Base64\".\n") + kLinesHelp;

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

// The short reasons of the bad lines, for standard error and --quarantine.
constexpr const char* kLineTooLong = "line too long";

// A job under the wrong key is stopped when this share (in percent) of its
// first kWrongKeyWindow envelopes, or of all of them in a shorter input,
// is refused.
constexpr std::uint64_t kWrongKeyWindow = 1000;
constexpr std::uint64_t kWrongKeyPercent = 95;

std::string lineTooLongError() { return "line longer than " + std::to_string(kLineLimit) + " bytes"; }

// Whether two paths name one file: the same text, or the same file on the disk.
bool sameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    struct stat first {}, second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

struct CommonOptions {
    bool lines = false;
    bool progress = false;
    std::optional<std::string> jobs;
    std::optional<std::string> quarantine;
    PassphraseOptions passphrase;

    void declare(Options& options) {
        options.flag({"--lines"}, lines, "one item per line; one line out per line in (see --help)")
            .value("--jobs", jobs, {"with --lines: threads for the batch calls (default: the number of processors)", "N"})
            .value("--quarantine", quarantine,
                   {"with --lines: list every bad line in FILE (input, line number, reason, the line), written "
                    "whole when the job ends",
                    "FILE"})
            .flag({"--progress"}, progress,
                  "with --lines: show the records done, their rate and the time left on standard error: redrawn in "
                  "place on a terminal, a plain line every five seconds elsewhere");
        passphrase.declare(options);
    }
    // The checks of the options that go with --lines, and the job count.
    std::size_t check(const Options& options) const {
        if (jobs && !lines) options.fail("--jobs goes with --lines");
        if (progress && !lines) options.fail("--progress goes with --lines");
        if (quarantine && !lines) options.fail("--quarantine goes with --lines");
        if (quarantine) {
            const std::string input = options.positional().empty() ? "-" : options.positional().front();
            if (*quarantine == "-") options.fail("--quarantine takes a file, not standard output");
            if (input != "-" && sameFile(*quarantine, input)) options.fail("--quarantine names the input file");
        }
        return tool::jobCount(options, jobs, kBytesPerJob);
    }
    // The input of a --lines job as given, "-" for standard input.
    static std::string inputOf(const std::vector<std::string>& files) { return files.empty() ? "-" : files.front(); }
};

// How a line came out, for the counts and the wrong-key check (a LineGroup tag).
enum LineTag : std::uint8_t { kLineGood = 0, kLineRefused = 1, kLineNotAnItem = 2 };

// The bad lines of a --lines job listed in its quarantine file, when one was asked for.
class Quarantine {
public:
    Quarantine(const std::optional<std::string>& path, const std::string& input, bool copyLines)
        : copyLines_(copyLines) {
        if (path) file_.emplace(*path, input);
    }
    void add(const LineGroup& group, std::size_t i, std::uint64_t lineNumber) {
        if (!file_) return;
        const bool copy = copyLines_ && !group.tooLong[i];
        file_->add(lineNumber, group.reason(i), copy ? std::string_view(group.lines[i]) : std::string_view());
    }
    void commit() {
        if (file_) file_->commit();
    }

private:
    bool copyLines_;
    std::optional<QuarantineFile> file_;
};

// The reason standard error and the quarantine give for a refusal.
std::string refusalReason(const std::error_code& error) {
    if (error == ErrorCode::envelopeMalformed) return "envelope malformed";
    if (error == ErrorCode::envelopeKeyRefused) return "wrapped key refused";
    if (error == ErrorCode::envelopePaddingRefused) return "payload padding refused";
    if (error == ErrorCode::envelopeKeyNotText) return "key not text";
    return "envelope refused";
}

struct OpenLinesJob {
    const v1::RsaPrivateKey& key;
    v1::EnvelopeOpening opening;
    std::string keyName;  // in the wrong-key message
    bool keepGoing = false;
    bool progress = false;
    std::optional<std::string> quarantine;
    std::size_t jobs = 1;
};

// Opens the group's envelopes together (one batch call), each line's
// output its plaintext in Base64 or "envelope refused" with its cause.
void openGroup(LineGroup& group, const OpenLinesJob& job) {
    std::vector<v1::Envelope> envelopes(group.lines.size());
    std::vector<v1::EnvelopeView> views;
    std::vector<std::size_t> owners;
    for (std::size_t i = 0; i < group.lines.size(); ++i) {
        std::optional<v1::Envelope> parsed;
        if (!group.tooLong[i]) parsed = parseEnvelopeLine(group.lines[i]);
        if (!parsed) {
            group.errors[i] = group.tooLong[i] ? lineTooLongError() : kNotAnEnvelope;
            group.reasons[i] = group.tooLong[i] ? kLineTooLong : "not an envelope";
            group.tags[i] = kLineNotAnItem;
            continue;
        }
        envelopes[i] = std::move(*parsed);
        views.push_back({envelopes[i].wrappedKey, envelopes[i].payload});
        owners.push_back(i);
    }
    std::vector<v1::BatchResult> opened = v1::openEnvelopes(job.key, views, job.opening);
    bool outOfMemory = false;
    for (std::size_t j = 0; j < opened.size(); ++j) {
        const std::size_t i = owners[j];
        if (opened[j].error == ErrorCode::outOfMemory) {
            outOfMemory = true;
        } else if (opened[j].error) {
            // The line written is the same whatever the cause; only the
            // reason on standard error tells them apart.
            group.errors[i] = "envelope refused";
            group.reasons[i] = refusalReason(opened[j].error);
            group.tags[i] = kLineRefused;
        } else {
            group.outputs[i] = base64Encode(opened[j].bytes, Base64Family::standard);
        }
        wipe(opened[j].bytes);
    }
    // Not "refused": the envelope may be good, and the job cannot go on.
    if (outOfMemory) failure("out of memory");
}

// The share of the first envelopes refused, for the wrong-key stop.
struct RefusedShare {
    std::uint64_t envelopes = 0, refused = 0;

    bool high() const { return envelopes > 0 && refused * 100 >= envelopes * kWrongKeyPercent; }
    std::string message(const std::string& keyName) const {
        return "envelope open: " + std::to_string(refused) + " of the first " + std::to_string(envelopes) +
               " envelopes refused: is " + keyName +
               " the key they were sealed under? Check --key, or add --keep-going to open every line anyway";
    }
};

int openLines(const std::vector<std::string>& files, const OpenLinesJob& job) {
    const std::string input = CommonOptions::inputOf(files);
    LineReader reader(input, kLineLimit, job.progress);
    Quarantine quarantine(job.quarantine, input, true);
    std::uint64_t opened = 0, refused = 0, notEnvelopes = 0;
    RefusedShare share;
    const OrderedRun run = runOrderedGroups(
        reader, kGroupSize, job.jobs, [&](LineGroup& group, std::size_t) { openGroup(group, job); }, "envelope open",
        [&](const LineGroup& group, std::size_t i, std::uint64_t lineNumber) {
            const std::uint8_t tag = group.tags[i];
            (tag == kLineGood ? opened : tag == kLineRefused ? refused : notEnvelopes) += 1;
            if (tag != kLineGood) quarantine.add(group, i, lineNumber);
            if (tag == kLineNotAnItem || share.envelopes == kWrongKeyWindow) return true;
            ++share.envelopes;
            if (tag == kLineRefused) ++share.refused;
            return job.keepGoing || share.envelopes < kWrongKeyWindow || !share.high();
        });
    if (run.stopped) {
        // The job as a whole failed: no quarantine file, and with -o no output.
        printError(share.message(job.keyName));
        return kExitFailure;
    }
    quarantine.commit();
    printError("envelope open: " + std::to_string(run.lines) + " lines read, " + std::to_string(opened) +
               " opened, " + std::to_string(refused) + " refused, " + std::to_string(notEnvelopes) +
               " not envelopes");
    // A short input read to its end gets the same warning.
    if (!job.keepGoing && share.high()) printError(share.message(job.keyName));
    return run.allGood() ? kExitOk : kExitFailure;
}

int openOne(const std::vector<std::string>& files, const v1::RsaPrivateKey& key,
            const std::optional<std::string>& output);

int runOpen(const Args& args) {
    std::optional<std::string> keyPath;
    CommonOptions common;
    bool uniform = false, textKeys = false, keepGoing = false;
    Options options("envelope open", kOpenHelp);
    options.value("--key", keyPath,
                  {"the private key, PKCS #8 or PKCS #1, PEM or DER, plain or encrypted", "FILE"});
    common.declare(options);
    options
        .flag({"--uniform"}, uniform,
              "with --lines: one refusal for every cause, as a service answering senders must give (see --help)")
        .flag({"--text-keys"}, textKeys,
              "with --lines: also refuse a key that is not 24 hexadecimal characters (archives sealed with "
              "--hex-key)")
        .flag({"--keep-going"}, keepGoing,
              "with --lines: open every line even when nearly all of the first 1000 envelopes are refused");
    std::optional<std::string> output;
    declareOutput(options, output);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(common.lines ? 1 : 2);
    if (!keyPath) options.fail("a private key is needed: --key FILE");
    const std::size_t jobs = common.check(options);
    if (uniform && !common.lines) options.fail("--uniform goes with --lines (one envelope is always opened so)");
    if (textKeys && !common.lines) options.fail("--text-keys goes with --lines");
    if (keepGoing && !common.lines) options.fail("--keep-going goes with --lines");
    if (textKeys && uniform)
        options.fail("--text-keys goes with the archive refusal, not with --uniform: checking the key would tell a "
                     "substitute from a real one");
    const auto& files = options.positional();
    if (*keyPath == "-" && (files.empty() || std::find(files.begin(), files.end(), "-") != files.end()))
        options.fail("the key and the input cannot both come from standard input");
    if (common.quarantine && output && *output != "-" && sameFile(*common.quarantine, *output))
        options.fail("--quarantine and -o name the same file");

    struct WipedKey {
        R_RSA_PRIVATE_KEY record;
        ~WipedKey() { secure_zero_object(record); }
    } record;
    PassphraseSource passphrase = common.passphrase.source(options);
    loadRsaPrivateKey(*keyPath, record.record, passphrase);
    const v1::RsaPrivateKey key = v1::RsaPrivateKey::fromRecord(record.record);
    if (!common.lines) return runWithOutput(output, [&] { return openOne(files, key, output); });
    OpenLinesJob job{key,
                     {uniform ? v1::EnvelopeRefusal::uniform : v1::EnvelopeRefusal::archive, textKeys},
                     inputName(*keyPath),
                     keepGoing,
                     common.progress,
                     common.quarantine,
                     jobs};
    return runWithOutput(output, [&] { return openLines(files, job); });
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
        if (!parsed) {
            // Several lines of envelopes are the usual slip here.
            const bool severalLines = line.find('\n') != std::string::npos;
            failure(inputName(CommonOptions::inputOf(files)) + ": " + kNotAnEnvelope +
                    (severalLines ? "; --lines opens one envelope a line" : ""));
        }
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

struct SealLinesJob {
    const v1::RsaPublicKey& key;
    v1::Des3KeyForm form;
    bool progress = false;
    std::optional<std::string> quarantine;
    std::size_t jobs = 1;
};

int sealLines(const std::vector<std::string>& files, const SealLinesJob& job) {
    // One pool per worker: a pool is for one thread at a time, and seeding
    // one per group would cost more than the group's encryptions.
    std::vector<v1::RandomPool> pools(job.jobs);
    const std::string input = CommonOptions::inputOf(files);
    LineReader reader(input, kLineLimit, job.progress);
    // The lines are messages: the quarantine names them, never copies them.
    Quarantine quarantine(job.quarantine, input, false);
    std::uint64_t sealed = 0, notBase64 = 0;
    const OrderedRun run = runOrderedGroups(
        reader, kGroupSize, job.jobs,
        [&](LineGroup& group, std::size_t worker) {
            // The group's messages are sealed together, so that their
            // payloads' CBC chains share the triple-DES batch lanes.
            std::vector<std::vector<std::uint8_t>> messages(group.lines.size());
            std::vector<v1::ByteView> views;
            std::vector<std::size_t> owners;
            for (std::size_t i = 0; i < group.lines.size(); ++i) {
                if (group.tooLong[i]) {
                    group.errors[i] = lineTooLongError();
                    group.reasons[i] = kLineTooLong;
                    group.tags[i] = kLineNotAnItem;
                    continue;
                }
                auto message = base64Decode(bytesOf(group.lines[i]), Base64Family::standard);
                if (!message) {
                    group.errors[i] = "not valid Base64";
                    group.reasons[i] = "not Base64";
                    group.tags[i] = kLineNotAnItem;
                    continue;
                }
                messages[i] = std::move(*message);
                views.push_back(messages[i]);
                owners.push_back(i);
            }
            const std::vector<v1::Envelope> envelopes = v1::sealEnvelopes(job.key, views, pools[worker], job.form);
            for (std::size_t j = 0; j < envelopes.size(); ++j) group.outputs[owners[j]] = envelopeLine(envelopes[j]);
            for (auto& message : messages) wipe(message);
        },
        "envelope seal",
        [&](const LineGroup& group, std::size_t i, std::uint64_t lineNumber) {
            if (group.tags[i] == kLineGood) {
                ++sealed;
            } else {
                ++notBase64;
                quarantine.add(group, i, lineNumber);
            }
            return true;
        });
    quarantine.commit();
    printError("envelope seal: " + std::to_string(run.lines) + " lines read, " + std::to_string(sealed) +
               " sealed, " + std::to_string(notBase64) + " not Base64");
    return run.allGood() ? kExitOk : kExitFailure;
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
    const std::size_t jobs = common.check(options);
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
    if (common.lines) return sealLines(options.positional(), {key, form, common.progress, common.quarantine, jobs});
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
