#include "tests/support/des3_support.h"

#include <openssl/evp.h>

#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace corvane::test {

std::optional<Bytes> opensslDes3(bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data,
                                 bool padding) {
    if (key.size() != 24 || !(iv.empty() || iv.size() == 8)) throw std::invalid_argument("des3 sizes");
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const EVP_CIPHER* cipher = iv.empty() ? EVP_des_ede3_ecb() : EVP_des_ede3_cbc();
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data(),
                                  encrypt ? 1 : 0) != 1)
        return std::nullopt;
    EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
    Bytes out(data.size() + 16);
    int n = 0, last = 0;
    if (EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), static_cast<int>(data.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + n, &last) != 1)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(n + last));
    return out;
}

Bytes CavpRecord::key() const {
    if (fields.count("KEYs")) {
        Bytes k = hex("KEYs");
        Bytes all;
        for (int i = 0; i < 3; i++) all.insert(all.end(), k.begin(), k.end());
        return all;
    }
    Bytes all;
    for (const char* name : {"KEY1", "KEY2", "KEY3"}) {
        Bytes k = hex(name);
        all.insert(all.end(), k.begin(), k.end());
    }
    return all;
}

std::vector<CavpRecord> readCavpFile(const std::string& path) {
    std::istringstream in(readTextFile(path));
    std::vector<CavpRecord> records;
    std::string section;
    std::string line;
    auto trim = [](std::string s) {
        while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
        std::size_t b = s.find_first_not_of(" \t");
        return b == std::string::npos ? std::string() : s.substr(b);
    };
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        auto eq = line.find('=');
        if (eq == std::string::npos) throw std::runtime_error("bad CAVP line: " + line);
        std::string name = trim(line.substr(0, eq));
        std::string value = trim(line.substr(eq + 1));
        if (name == "COUNT") records.push_back(CavpRecord{section, {}});
        if (records.empty()) throw std::runtime_error("CAVP field before COUNT: " + line);
        records.back().fields[name] = value;
    }
    return records;
}

struct LogCapture::State {
    std::mutex mutex;
    std::vector<std::string> lines;
};

LogCapture::LogCapture() : state_(std::make_shared<State>()) {
    auto state = state_;
    previous_ = NSLogSetSink([state](const std::string& message) {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->lines.push_back(message);
    });
}

LogCapture::~LogCapture() { NSLogSetSink(previous_); }

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->lines;
}

}  // namespace corvane::test
