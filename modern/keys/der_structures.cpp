#include "modern/keys/der_structures.h"

#include <algorithm>

namespace corvane::detail {

namespace {

// An AlgorithmIdentifier of rsaEncryption, parameters NULL or absent;
// another algorithm gives keyOtherAlgorithm.
bool readRsaAlgorithm(DerReader& outer) noexcept {
    DerReader algorithm(Bytes(), outer.fault());
    Bytes identifier;
    if (!outer.enter(algorithm) || !algorithm.read(der::kOid, identifier)) return false;
    if (!sameBytes(identifier, oid::kRsaEncryption))
        return outer.fault().set(ErrorCode::keyOtherAlgorithm, nullptr);
    if (!algorithm.atEnd() && !algorithm.readNull()) return false;
    return algorithm.finish();
}

bool writeRsaAlgorithm(DerWriter& out) noexcept {
    DerWriter algorithm;
    static constexpr std::uint8_t kNone[1] = {};
    algorithm.element(der::kOid, oid::kRsaEncryption);
    algorithm.element(der::kNull, Bytes(kNone, 0));
    return out.wrap(der::kSequence, algorithm);
}

// Whether the header at the front of der declares more bytes than follow
// (or is itself cut off): a file cut short, not another kind of file.
bool cutShort(Bytes der) noexcept {
    if (der.size() < 2 || der[1] == 0x80) return false;
    std::size_t header = 2, length = der[1];
    if (length > 0x80) {
        header += length & 0x7F;
        if (header > 6) return false;
        if (der.size() < header) return true;
        length = 0;
        for (std::size_t i = 2; i < header; i++) length = length << 8 | der[i];
    }
    return length > der.size() - header;
}

}  // namespace

bool sameBytes(Bytes a, Bytes b) noexcept { return std::equal(a.begin(), a.end(), b.begin(), b.end()); }

DerKind derKindOf(Bytes der, DerFault& fault) noexcept {
    DerReader object(der, fault);
    Bytes contents;
    if (object.nextTag() != der::kSequence) {
        fault.set(ErrorCode::keyUnreadable, "not a DER key structure");
        return DerKind::unknown;
    }
    if (cutShort(der)) {
        fault.set(ErrorCode::keyDamaged, "the DER is shorter than its header says");
        return DerKind::unknown;
    }
    if (!object.read(der::kSequence, contents)) return DerKind::unknown;
    // The tags of the first three elements; a fault among them is left to
    // the strict reader that follows.
    DerFault scratch;
    DerReader scan(contents, scratch);
    std::uint8_t tags[3] = {};
    std::size_t count = 0;
    while (!scan.atEnd() && count < 3) {
        std::uint8_t tag = 0;
        Bytes inner, encoding;
        if (!scan.readAny(tag, inner, encoding)) break;
        tags[count++] = tag;
    }
    if (tags[0] == der::kInteger) {
        if (tags[1] == der::kSequence) return DerKind::privateKeyInfo;
        // Exactly two INTEGERs; a scan cut short by a fault may have missed more.
        if (count == 2 && !scratch && tags[1] == der::kInteger) return DerKind::rsaPublicKey;
        if (tags[1] == der::kOctetString) return DerKind::otherPrivateKey;
        return DerKind::rsaPrivateKey;
    }
    if (tags[0] == der::kSequence) {
        if (tags[1] == der::kOctetString) return DerKind::encryptedPrivateKeyInfo;
        if (tags[1] == der::kBitString) return DerKind::subjectPublicKeyInfo;
        if (tags[1] == der::kSequence) return DerKind::certificate;
    }
    fault.set(ErrorCode::keyUnreadable, "not a DER key structure");
    return DerKind::unknown;
}

bool readRsaPrivateKey(Bytes der, PrivateValues& values, DerFault& fault) noexcept {
    DerReader object(der, fault);
    DerReader key(Bytes(), fault);
    std::uint32_t version = 0;
    if (!object.enter(key) || !key.readSmall(version)) return false;
    if (version == 1) return fault.set(ErrorCode::multiPrimeKey, "the key has more than two primes");
    if (version != 0) return fault.set(ErrorCode::keyMalformed, "an unknown version");
    Bytes* const fields[] = {&values.n, &values.e,  &values.d,  &values.p,
                             &values.q, &values.dP, &values.dQ, &values.qInv};
    for (Bytes* field : fields)
        if (!key.readUnsigned(*field)) return false;
    return key.finish() && object.finish();
}

bool readPrivateKeyInfo(Bytes der, PrivateValues& values, DerFault& fault) noexcept {
    DerReader object(der, fault);
    DerReader info(Bytes(), fault);
    std::uint32_t version = 0;
    Bytes privateKey;
    if (!object.enter(info) || !info.readSmall(version)) return false;
    if (version != 0) return fault.set(ErrorCode::keyMalformed, "an unknown version");
    if (!readRsaAlgorithm(info) || !info.read(der::kOctetString, privateKey)) return false;
    // Attributes ([0]) may follow; they say nothing about the key.
    if (info.nextTag() == 0xA0) {
        Bytes attributes;
        if (!info.read(0xA0, attributes)) return false;
    }
    if (!info.finish() || !object.finish()) return false;
    return readRsaPrivateKey(privateKey, values, fault);
}

bool readRsaPublicKey(Bytes der, PublicValues& values, DerFault& fault) noexcept {
    DerReader object(der, fault);
    DerReader key(Bytes(), fault);
    return object.enter(key) && key.readUnsigned(values.n) && key.readUnsigned(values.e) && key.finish() &&
           object.finish();
}

bool readSubjectPublicKeyInfo(Bytes der, PublicValues& values, DerFault& fault) noexcept {
    DerReader object(der, fault);
    DerReader info(Bytes(), fault);
    Bytes bits;
    if (!object.enter(info) || !readRsaAlgorithm(info) || !info.read(der::kBitString, bits) ||
        !info.finish() || !object.finish())
        return false;
    if (bits.empty() || bits[0] != 0)
        return fault.set(ErrorCode::keyMalformed, "a BIT STRING with unused bits");
    return readRsaPublicKey(bits.subspan(1), values, fault);
}

bool writeRsaPrivateKey(const R_RSA_PRIVATE_KEY& key, DerWriter& out) noexcept {
    DerWriter fields;
    fields.smallInteger(0);
    const Bytes values[] = {key.modulus,  key.publicExponent,   key.privateExponent,  key.prime[0],
                            key.prime[1], key.primeExponent[0], key.primeExponent[1], key.coefficient};
    for (Bytes value : values) fields.unsignedInteger(value);
    return out.wrap(der::kSequence, fields);
}

bool writePrivateKeyInfo(const R_RSA_PRIVATE_KEY& key, DerWriter& out) noexcept {
    DerWriter pkcs1;
    DerWriter info;
    writeRsaPrivateKey(key, pkcs1);
    info.smallInteger(0);
    writeRsaAlgorithm(info);
    info.wrap(der::kOctetString, pkcs1);
    return out.wrap(der::kSequence, info);
}

bool writeRsaPublicKey(Bytes modulus, Bytes exponent, DerWriter& out) noexcept {
    DerWriter fields;
    fields.unsignedInteger(modulus);
    fields.unsignedInteger(exponent);
    return out.wrap(der::kSequence, fields);
}

bool writeSubjectPublicKeyInfo(Bytes modulus, Bytes exponent, DerWriter& out) noexcept {
    DerWriter pkcs1;
    DerWriter info;
    writeRsaPublicKey(modulus, exponent, pkcs1);
    writeRsaAlgorithm(info);
    info.bitString(pkcs1);
    return out.wrap(der::kSequence, info);
}

}  // namespace corvane::detail
