// Helpers for the triple-DES tests: OpenSSL's DES-EDE3 as an independent
// oracle, a reader for NIST CAVP response files, and a capture of NSLog lines.
#ifndef CORVANE_TEST_DES3_SUPPORT_H
#define CORVANE_TEST_DES3_SUPPORT_H

#include <Corvane/Foundation.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace corvane::test {

// OpenSSL EVP DES-EDE3 of data under a 24-byte key: CBC with an 8-byte IV,
// or ECB when iv is empty. nullopt when OpenSSL refuses (bad padding, ...).
std::optional<Bytes> opensslDes3(bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data,
                                 bool padding);

// One record of a CAVP .rsp/.fax file: its section ("ENCRYPT"/"DECRYPT")
// and its "NAME = value" fields (COUNT, KEY1..KEY3 or KEYs, IV, PLAINTEXT,
// CIPHERTEXT).
struct CavpRecord {
    std::string section;
    std::map<std::string, std::string> fields;
    Bytes hex(const std::string& name) const { return fromHex(fields.at(name)); }
    // KEY1 || KEY2 || KEY3, or KEYs three times.
    Bytes key() const;
};
std::vector<CavpRecord> readCavpFile(const std::string& path);

// NSLog lines written while the capture lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::vector<std::string> lines() const;

private:
    struct State;
    std::shared_ptr<State> state_;
    NSLogSink previous_;
};

// Makes an NSData of the bytes.
inline Ref<NSData> dataOf(const Bytes& b) { return make_ref<NSData>(b.data(), b.size()); }
inline Bytes bytesOfData(const NSData* d) {
    return d == nullptr ? Bytes{} : Bytes(d->span().begin(), d->span().end());
}

}  // namespace corvane::test

#endif
