#include "tests/support/rsa/rsa_vectors.h"

#include <cctype>
#include <sstream>
#include <stdexcept>

namespace corvane::test {

namespace {

std::string trimmed(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) b++;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) e--;
    return s.substr(b, e - b);
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// Where the hex lines that follow a "# Label:" line go, given the section.
Bytes* targetFor(const std::string& label, bool inPrivateKey, PublishedRsaKey* key, PublishedRsaExample* example) {
    if (example != nullptr) {
        if (label == "Message" || label == "Message to be signed") return &example->message;
        if (label == "Encryption" || label == "Signature") return &example->result;
        return nullptr;  // the seed is not used
    }
    if (key == nullptr || !inPrivateKey) return nullptr;  // the public key repeats n and e
    RsaComponents& k = key->parts;
    if (label == "Modulus") return &k.n;
    if (label == "Public exponent") return &k.e;
    if (label == "Exponent") return &k.d;
    if (label == "Prime 1") return &k.p;
    if (label == "Prime 2") return &k.q;
    if (label == "Prime exponent 1") return &k.dP;
    if (label == "Prime exponent 2") return &k.dQ;
    if (label == "Coefficient") return &k.qInv;
    return nullptr;
}

}  // namespace

std::vector<PublishedRsaKey> readRsaLabsVectors(const std::string& path) {
    std::istringstream in(readTextFile(path));
    std::vector<PublishedRsaKey> keys;
    bool inPrivateKey = false;
    Bytes* target = nullptr;
    std::string line;
    while (std::getline(in, line)) {
        std::string t = trimmed(line);
        if (t.empty()) {
            target = nullptr;
            continue;
        }
        if (t[0] != '#') {
            if (target != nullptr) {
                Bytes more = fromHex(t);
                target->insert(target->end(), more.begin(), more.end());
            }
            continue;
        }
        std::string comment = trimmed(t.substr(1));
        target = nullptr;
        if (startsWith(comment, "Example ") && comment.find("RSA key pair") != std::string::npos) {
            keys.push_back(PublishedRsaKey{comment, {}, {}});
            inPrivateKey = false;
        } else if (comment == "Public key") {
            inPrivateKey = false;
        } else if (comment == "Private key") {
            inPrivateKey = true;
        } else if (startsWith(comment, "PKCS#1 v1.5 Encryption Example ") ||
                   startsWith(comment, "PKCS#1 v1.5 Signature Example ")) {
            if (keys.empty()) throw std::runtime_error("example before any key in " + path);
            keys.back().examples.push_back(PublishedRsaExample{comment.substr(comment.rfind(' ') + 1), {}, {}});
        } else if (!comment.empty() && comment.back() == ':' && !keys.empty()) {
            std::string label = comment.substr(0, comment.size() - 1);
            PublishedRsaExample* example = keys.back().examples.empty() ? nullptr : &keys.back().examples.back();
            target = targetFor(label, inPrivateKey, &keys.back(), example);
        }
    }
    return keys;
}

// ---- minimal JSON ----

const Json& Json::operator[](const std::string& name) const {
    if (kind != Kind::Object) throw std::runtime_error("JSON value is not an object (looking for " + name + ")");
    for (std::size_t i = 0; i < memberNames.size(); i++)
        if (memberNames[i] == name) return memberValues[i];
    throw std::runtime_error("JSON member missing: " + name);
}

bool Json::has(const std::string& name) const {
    if (kind != Kind::Object) return false;
    for (const auto& memberName : memberNames)
        if (memberName == name) return true;
    return false;
}

namespace {

class JsonParser {
public:
    explicit JsonParser(const std::string& text) : s_(text) {}

    Json document() {
        Json v = value();
        skipSpace();
        if (pos_ != s_.size()) fail("trailing characters");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(pos_));
    }

    void skipSpace() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) pos_++;
    }

    char peek() {
        skipSpace();
        if (pos_ >= s_.size()) fail("unexpected end");
        return s_[pos_];
    }

    void expect(char c) {
        if (peek() != c) fail(std::string("expected '") + c + "'");
        pos_++;
    }

    Json value() {
        char c = peek();
        if (c == '{') return object();
        if (c == '[') return array();
        if (c == '"') {
            Json v;
            v.kind = Json::Kind::String;
            v.text = string();
            return v;
        }
        return scalar();
    }

    Json object() {
        Json v;
        v.kind = Json::Kind::Object;
        expect('{');
        if (peek() == '}') {
            pos_++;
            return v;
        }
        for (;;) {
            if (peek() != '"') fail("expected a member name");
            std::string name = string();
            expect(':');
            v.memberNames.push_back(std::move(name));
            v.memberValues.push_back(value());
            if (peek() == ',') {
                pos_++;
                continue;
            }
            expect('}');
            return v;
        }
    }

    Json array() {
        Json v;
        v.kind = Json::Kind::Array;
        expect('[');
        if (peek() == ']') {
            pos_++;
            return v;
        }
        for (;;) {
            v.items.push_back(value());
            if (peek() == ',') {
                pos_++;
                continue;
            }
            expect(']');
            return v;
        }
    }

    std::string string() {
        expect('"');
        std::string out;
        while (pos_ < s_.size() && s_[pos_] != '"') {
            char c = s_[pos_++];
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (pos_ >= s_.size()) fail("unfinished escape");
            char e = s_[pos_++];
            switch (e) {
                case 'n': out.push_back('\n'); break;
                case 't': out.push_back('\t'); break;
                case 'r': out.push_back('\r'); break;
                case 'b': out.push_back('\b'); break;
                case 'f': out.push_back('\f'); break;
                case '"': case '\\': case '/': out.push_back(e); break;
                case 'u': {
                    if (pos_ + 4 > s_.size()) fail("short \\u escape");
                    unsigned long code = std::stoul(s_.substr(pos_, 4), nullptr, 16);
                    if (code > 0x7f) fail("non-ASCII \\u escape");
                    out.push_back(static_cast<char>(code));
                    pos_ += 4;
                    break;
                }
                default: fail("bad escape");
            }
        }
        if (pos_ >= s_.size()) fail("unterminated string");
        pos_++;
        return out;
    }

    Json scalar() {
        std::size_t start = pos_;
        while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '-' ||
                                    s_[pos_] == '+' || s_[pos_] == '.'))
            pos_++;
        Json v;
        v.text = s_.substr(start, pos_ - start);
        if (v.text == "null") {
            v.kind = Json::Kind::Null;
        } else if (v.text == "true" || v.text == "false") {
            v.kind = Json::Kind::Boolean;
        } else if (!v.text.empty() && (std::isdigit(static_cast<unsigned char>(v.text[0])) || v.text[0] == '-')) {
            v.kind = Json::Kind::Number;
        } else {
            fail("unexpected value");
        }
        return v;
    }

    const std::string& s_;
    std::size_t pos_ = 0;
};

}  // namespace

Json parseJson(const std::string& text) { return JsonParser(text).document(); }

}  // namespace corvane::test
