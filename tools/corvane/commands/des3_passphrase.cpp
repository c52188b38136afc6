#include "tools/corvane/commands/des3_passphrase.h"

#include <Corvane/corvane.hpp>
#include <climits>
#include <memory>

#include "tools/corvane/io/base64_stream.h"
#include "tools/corvane/io/chunked_io.h"
#include "tools/corvane/io/des3_stream.h"
#include "tools/corvane/io/terminal_output.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

namespace cv = corvane::v1;

// --iter: 1 to 2^31 - 1, as libcrypto's PBKDF2 counts.
unsigned iterationsOf(const Options& options, const std::optional<std::string>& text) {
    return static_cast<unsigned>(options.count(text, "--iter", 1, INT_MAX, cv::kDes3DefaultIterations));
}

// --md: a digest libcrypto knows, checked with a derivation of one round
// so that a wrong name is refused before any input is read.
std::string digestOf(const Options& options, const std::optional<std::string>& text) {
    std::string digest = text ? *text : std::string(cv::kDes3DefaultDigest);
    try {
        cv::des3KeyFromPassphrase("", cv::Des3Salt{}, 1, digest);
    } catch (const cv::Error&) {
        options.fail("--md " + digest +
                     " is not a digest libcrypto can use (sha256, sha1, sha512, md5, ...)");
    }
    return digest;
}

std::string_view textOf(const SecretBytes& secret) {
    return std::string_view(reinterpret_cast<const char*>(secret.bytes().data()), secret.size());
}

// The library's derivation; its failures (out of memory) in the tool's form.
cv::Des3PassphraseKey derive(const SecretBytes& passphrase, std::span<const std::uint8_t, 8> salt,
                             unsigned iterations, const std::string& digest) {
    try {
        return cv::des3KeyFromPassphrase(textOf(passphrase), salt, iterations, digest);
    } catch (const cv::Error& e) {
        failure("the key could not be derived from the passphrase: " + e.code().message());
    }
}

// The decryption's first stage: holds the input until the header is
// whole, derives the key and IV from its salt, then passes the rest to a
// cipher stage made for them.
class SaltedDecryption final : public ByteSink {
public:
    SaltedDecryption(const SecretBytes& passphrase, unsigned iterations, std::string digest, ByteSink& out)
        : passphrase_(passphrase), iterations_(iterations), digest_(std::move(digest)), out_(out) {}

    void write(std::span<const std::uint8_t> bytes) override {
        if (!cipher_) {
            std::size_t take = std::min(bytes.size(), cv::kDes3SaltedHeaderSize - header_.size());
            header_.insert(header_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
            bytes = bytes.subspan(take);
            if (header_.size() < cv::kDes3SaltedHeaderSize) return;
            start();
        }
        cipher_->write(bytes);
    }

    void finish() override {
        if (!cipher_) failure("the input is too short to hold the \"Salted__\" header and salt");
        try {
            cipher_->finish();
        } catch (const ToolError& e) {
            // The cipher stage speaks of keys; here the key is the passphrase's.
            if (std::string_view(e.what()).starts_with("decryption failed: wrong key"))
                failure("decryption failed: wrong passphrase (or --iter, --md), or damaged data");
            throw;
        }
    }

private:
    void start() {
        cv::Des3Salt salt{};
        if (!cv::des3SaltFromHeader(header_, salt))
            failure(
                "the input does not start with \"Salted__\": not made by des3 encrypt with a passphrase "
                "(nor by openssl enc with a password)");
        key_ = derive(passphrase_, salt, iterations_, digest_);
        cipher_ = std::make_unique<Des3Stage>(false, key_.key(), key_.iv(), out_);
    }

    const SecretBytes& passphrase_;
    unsigned iterations_;
    std::string digest_;
    ByteSink& out_;
    Bytes header_;
    cv::Des3PassphraseKey key_;
    std::unique_ptr<Des3Stage> cipher_;
};

}  // namespace

int runDes3WithPassphrase(const Options& options, const Des3PassphraseOptions& settings, bool encrypt,
                          bool raw, bool progress, const std::optional<std::string>& output) {
    const unsigned iterations = iterationsOf(options, settings.iterations);
    const std::string digest = digestOf(options, settings.digest);
    std::optional<SecretBytes> passphrase = settings.passphrase.read(
        options, "Passphrase for des3 " + std::string(encrypt ? "encrypt" : "decrypt") + ": ", encrypt);
    if (!passphrase) options.fail("--iter and --md go with a passphrase: " + settings.passphrase.names());

    StdoutSink out;
    if (encrypt) {
        cv::Des3Salt salt{};
        try {
            salt = cv::des3RandomSalt();
        } catch (const cv::Error& e) {
            failure("no salt: the operating system's entropy source failed (" + e.code().message() + ")");
        }
        const cv::Des3PassphraseKey key = derive(*passphrase, salt, iterations, digest);
        Base64EncodeStage text(Base64Family::standard, true, 0, out);
        ByteSink& sealed = raw ? static_cast<ByteSink&>(out) : text;
        sealed.write(cv::des3SaltedHeader(salt));
        Des3Stage cipher(true, key.key(), key.iv(), sealed);
        pumpInput(options.positional(), cipher, progress);
    } else {
        TerminalTextCheck plaintext(output, "", out);
        SaltedDecryption cipher(*passphrase, iterations, digest, plaintext);
        pumpCiphertext(options.positional(), raw, cipher, progress);
    }
    return kExitOk;
}

}  // namespace corvane::tool
