#include "tests/support/rsa/openssl_key_files.h"

#include <stdexcept>
#include <vector>

namespace corvane::test {

namespace {

struct Conversion {
    const char* suffix;
    std::vector<std::string> arguments;  // after "openssl"; IN and OUT stand for the paths
};

const std::string kPass = std::string("pass:") + kKeyFilePassphrase;

Conversion conversionFor(KeyForm form) {
    switch (form) {
        case KeyForm::privatePkcs8Pem:
            break;
        case KeyForm::privatePkcs8Der:
            return {".p8.der", {"pkey", "-in", "IN", "-outform", "DER", "-out", "OUT"}};
        case KeyForm::privatePkcs1Pem:
            return {".p1.pem", {"rsa", "-in", "IN", "-traditional", "-out", "OUT"}};
        case KeyForm::privatePkcs1Der:
            return {".p1.der", {"rsa", "-in", "IN", "-traditional", "-outform", "DER", "-out", "OUT"}};
        case KeyForm::publicSpkiPem:
            return {".pub.pem", {"pkey", "-in", "IN", "-pubout", "-out", "OUT"}};
        case KeyForm::publicSpkiDer:
            return {".pub.der", {"pkey", "-in", "IN", "-pubout", "-outform", "DER", "-out", "OUT"}};
        case KeyForm::publicPkcs1Pem:
            return {".rsapub.pem", {"rsa", "-in", "IN", "-RSAPublicKey_out", "-out", "OUT"}};
        case KeyForm::publicPkcs1Der:
            return {".rsapub.der",
                    {"rsa", "-in", "IN", "-RSAPublicKey_out", "-outform", "DER", "-out", "OUT"}};
        case KeyForm::certificatePem:
            return {".crt.pem",
                    {"req", "-x509", "-new", "-key", "IN", "-subj", "/CN=corvane test", "-days", "2", "-out",
                     "OUT"}};
        case KeyForm::certificateDer:
            return {".crt.der",
                    {"req", "-x509", "-new", "-key", "IN", "-subj", "/CN=corvane test", "-days", "2",
                     "-outform", "DER", "-out", "OUT"}};
        case KeyForm::encryptedPkcs8Pem:
            return {".enc.p8.pem",
                    {"pkcs8", "-topk8", "-in", "IN", "-v2", "aes-256-cbc", "-passout", kPass, "-out", "OUT"}};
        case KeyForm::encryptedPkcs8Der:
            return {".enc.p8.der",
                    {"pkcs8", "-topk8", "-in", "IN", "-v2", "aes-256-cbc", "-passout", kPass, "-outform",
                     "DER", "-out", "OUT"}};
        case KeyForm::encryptedPkcs1Pem:
            return {".enc.p1.pem",
                    {"rsa", "-in", "IN", "-traditional", "-aes128", "-passout", kPass, "-out", "OUT"}};
        case KeyForm::encryptedPkcs8TripleDesPem:
            return {
                ".3des.p8.pem",
                {"pkcs8", "-topk8", "-in", "IN", "-v1", "PBE-SHA1-3DES", "-passout", kPass, "-out", "OUT"}};
        case KeyForm::encryptedPkcs8DesPem:
            return {".des.p8.pem",
                    {"pkcs8", "-topk8", "-in", "IN", "-v1", "PBE-SHA1-DES", "-provider", "legacy",
                     "-provider", "default", "-passout", kPass, "-out", "OUT"}};
    }
    return {};
}

}  // namespace

std::string runOracle(const std::vector<std::string>& argv, const std::string& in) {
    RunResult r = runProgram(argv, in);
    if (r.exitStatus != 0) throw std::runtime_error(argv[0] + " " + argv.at(1) + " failed: " + r.err);
    return r.out;
}

OpensslKeyFiles::OpensslKeyFiles(const TempDir& dir, unsigned bits, const std::string& extraOption)
    : dir_(dir), bits_(bits) {
    static unsigned serial = 0;
    base_ = dir_.file("rsa" + std::to_string(bits) + "-" + std::to_string(serial++));
    std::string& key = paths_[KeyForm::privatePkcs8Pem] = base_ + ".pem";
    std::vector<std::string> argv = {"openssl", "genpkey",  "-algorithm",
                                     "RSA",     "-pkeyopt", "rsa_keygen_bits:" + std::to_string(bits)};
    if (!extraOption.empty()) argv.insert(argv.end(), {"-pkeyopt", extraOption});
    argv.insert(argv.end(), {"-out", key});
    runOracle(argv);
}

const std::string& OpensslKeyFiles::path(KeyForm form) {
    auto it = paths_.find(form);
    if (it != paths_.end()) return it->second;
    Conversion conversion = conversionFor(form);
    std::string out = base_ + conversion.suffix;
    std::vector<std::string> argv = {"openssl"};
    for (const std::string& a : conversion.arguments)
        argv.push_back(a == "IN" ? paths_.at(KeyForm::privatePkcs8Pem) : a == "OUT" ? out : a);
    runOracle(argv);
    return paths_[form] = out;
}

std::string OpensslKeyFiles::modulusHex() {
    std::string line =
        runOracle({"openssl", "rsa", "-in", paths_.at(KeyForm::privatePkcs8Pem), "-noout", "-modulus"});
    std::string hex = line.substr(line.find('=') + 1);
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
    return hex;
}

}  // namespace corvane::test
