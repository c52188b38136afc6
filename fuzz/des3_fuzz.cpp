// QVDes3 against OpenSSL's DES-EDE3-CBC, called directly (not through the
// library's cipher adapter), for arbitrary keys, IVs and data. The first
// input byte gives the key length (0-31) and the second the IV length (0-15,
// or nil from 0xF0); key and IV bytes follow, the rest is the data.
//
// Checked, under the class's rules (key zero-extended or cut to 24 bytes; IV
// likewise to 8, or the key's first 8 bytes when nil):
//  - encrypting the data gives OpenSSL's ciphertext, and decrypting that
//    gives the data back;
//  - decrypting the data as a ciphertext succeeds exactly when OpenSSL's
//    does, with the same bytes; otherwise it is nil with error -5;
//  - every triple-DES decryption path this CPU has (portable, AVX2,
//    AVX-512), with each engine (the short-message kernel, bitsliced
//    passes, the two by length), decrypts the data's whole blocks as OpenSSL
//    does, in CBC and in ECB, in place and not, and in CBC with the first
//    block apart.
#include <Corvane/QVDes3.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "engine/des/des3_engine.h"

using corvane::make_ref;
using corvane::NSData;
using corvane::QVDes3;
using corvane::Ref;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

using Bytes = std::vector<std::uint8_t>;

// OpenSSL's DES-EDE3-CBC with PKCS #7 padding; nullopt when it refuses.
std::optional<Bytes> openssl(bool encrypt, const std::uint8_t key[24], const std::uint8_t iv[8],
                             const std::uint8_t* data, std::size_t length) {
    static EVP_CIPHER* const cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    check(cipher != nullptr && ctx != nullptr);
    Bytes out(length + 8);
    int moved = 0, last = 0;
    if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, iv, encrypt ? 1 : 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), out.data(), &moved, data, static_cast<int>(length)) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + moved, &last) != 1)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(moved + last));
    return out;
}

// OpenSSL's DES-EDE3 decryption of whole blocks without padding: CBC after
// iv, or ECB when iv is null.
Bytes opensslBlocks(const std::uint8_t key[24], const std::uint8_t* iv, const std::uint8_t* data,
                    std::size_t length) {
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes out(length);
    int moved = 0;
    check(ctx != nullptr &&
          EVP_DecryptInit_ex(ctx.get(), iv != nullptr ? EVP_des_ede3_cbc() : EVP_des_ede3_ecb(), nullptr, key,
                             iv) == 1 &&
          EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
          EVP_DecryptUpdate(ctx.get(), out.data(), &moved, data, static_cast<int>(length)) == 1);
    return out;
}

void checkEveryPath(const std::uint8_t key[24], const std::uint8_t iv[8], const std::uint8_t* data,
                    std::size_t length) {
    using corvane::des::DesPath;
    const std::size_t blocks = length / 8;
    for (const std::uint8_t* chain : {iv, static_cast<const std::uint8_t*>(nullptr)}) {
        const Bytes expected = opensslBlocks(key, chain, data, blocks * 8);
        using corvane::des::DesMethod;
        for (DesPath path : {DesPath::portable, DesPath::avx2, DesPath::avx512}) {
            if (!corvane::des::des_path_available(path)) continue;
            for (DesMethod method : {DesMethod::byLength, DesMethod::shortKernel, DesMethod::bitsliced}) {
                Bytes out(blocks * 8);
                corvane::des::des3_decrypt(path, key, chain, data, out.data(), blocks, nullptr, method);
                check(out == expected);
                Bytes inPlace(data, data + blocks * 8);
                corvane::des::des3_decrypt(path, key, chain, inPlace.data(), inPlace.data(), blocks, nullptr, method);
                check(inPlace == expected);
                if (chain != nullptr && blocks > 0) {
                    // A stream's held-back first block given apart from the rest.
                    Bytes afterHead(blocks * 8);
                    corvane::des::des3_decrypt_after(path, key, chain, data, data + 8, afterHead.data(), blocks,
                                                     method);
                    check(afterHead == expected);
                }
            }
        }
    }
}

bool same(const NSData* d, const Bytes& b) {
    return std::equal(d->span().begin(), d->span().end(), b.begin(), b.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t keyLength = std::min<std::size_t>(bytes[0] % 32, size - 2);
    const bool nilIv = bytes[1] >= 0xF0;
    const std::size_t ivLength = nilIv ? 0 : std::min<std::size_t>(bytes[1] % 16, size - 2 - keyLength);
    const std::uint8_t* key = bytes + 2;
    const std::uint8_t* iv = key + keyLength;
    const std::uint8_t* data = iv + ivLength;
    const std::size_t dataLength = size - 2 - keyLength - ivLength;

    Ref<NSData> keyData = make_ref<NSData>(key, keyLength);
    Ref<NSData> ivData = nilIv ? Ref<NSData>() : make_ref<NSData>(iv, ivLength);
    Ref<NSData> input = make_ref<NSData>(data, dataLength);

    std::uint8_t fullKey[24] = {}, fullIv[8] = {};
    std::memcpy(fullKey, key, std::min<std::size_t>(keyLength, 24));
    if (nilIv)
        std::memcpy(fullIv, fullKey, 8);
    else
        std::memcpy(fullIv, iv, std::min<std::size_t>(ivLength, 8));

    std::int32_t error = 1;
    Ref<NSData> sealed = QVDes3::createDes3EncryptData(input.get(), keyData.get(), ivData.get(), &error);
    std::optional<Bytes> expected = openssl(true, fullKey, fullIv, data, dataLength);
    check(sealed && error == 0 && expected && same(sealed.get(), *expected));
    Ref<NSData> opened = QVDes3::createDes3DecryptData(sealed.get(), keyData.get(), ivData.get(), &error);
    check(opened && error == 0 && same(opened.get(), Bytes(data, data + dataLength)));

    error = 1;
    Ref<NSData> plain = QVDes3::createDes3DecryptData(input.get(), keyData.get(), ivData.get(), &error);
    expected = openssl(false, fullKey, fullIv, data, dataLength);
    check(bool(plain) == expected.has_value());
    check(plain ? error == 0 && same(plain.get(), *expected) : error == -5);

    checkEveryPath(fullKey, fullIv, data, dataLength);
    return 0;
}
