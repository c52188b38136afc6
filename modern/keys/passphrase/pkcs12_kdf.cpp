#include "modern/keys/passphrase/pkcs12_kdf.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "platform/secure_zero.h"

namespace corvane::detail {

namespace {

bool appendCharacter(SecretBuffer& bmp, std::uint32_t unit) noexcept {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(unit >> 8), static_cast<std::uint8_t>(unit)};
    return bmp.append(bytes, sizeof bytes);
}

// One UTF-8 character from text at i (advanced past it): its code point,
// or -1 for a byte sequence that is not shortest-form UTF-8 of a scalar.
long nextCodePoint(std::span<const char> text, std::size_t& i) noexcept {
    const auto lead = static_cast<std::uint8_t>(text[i++]);
    if (lead < 0x80) return lead;
    std::size_t trail = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (trail == 0 || lead > 0xF4 || text.size() - i < trail) return -1;
    long value = lead & (0x3F >> trail);
    for (std::size_t k = 0; k < trail; k++) {
        const auto next = static_cast<std::uint8_t>(text[i++]);
        if ((next & 0xC0) != 0x80) return -1;
        value = value << 6 | (next & 0x3F);
    }
    constexpr long kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[trail] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return -1;
    return value;
}

struct WipedDigest {
    unsigned char bytes[EVP_MAX_MD_SIZE] = {};
    ~WipedDigest() { secure_zero(bytes, sizeof bytes); }
};

using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
using MdPtr = std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)>;

}  // namespace

bool bmpPassphraseFromUtf8(std::span<const char> passphrase, SecretBuffer& bmp) noexcept {
    bmp.resize(0);
    for (std::size_t i = 0; i < passphrase.size();) {
        long point = nextCodePoint(passphrase, i);
        if (point < 0) return false;
        const auto value = static_cast<std::uint32_t>(point);
        // Above the BMP: a surrogate pair.
        bool appended = value < 0x10000 ? appendCharacter(bmp, value)
                                        : appendCharacter(bmp, 0xD800 + ((value - 0x10000) >> 10)) &&
                                              appendCharacter(bmp, 0xDC00 + (value & 0x3FF));
        if (!appended) return false;
    }
    return appendCharacter(bmp, 0);
}

bool bmpPassphraseWidened(std::span<const char> passphrase, SecretBuffer& bmp) noexcept {
    bmp.resize(0);
    for (char c : passphrase)
        if (!appendCharacter(bmp, static_cast<std::uint8_t>(c))) return false;
    return appendCharacter(bmp, 0);
}

bool pkcs12Derive(const EVP_MD* md, std::span<const std::uint8_t> bmpPassphrase,
                  std::span<const std::uint8_t> salt, std::uint8_t id, std::uint32_t iterations,
                  std::span<std::uint8_t> out) noexcept {
    const int digestSize = EVP_MD_get_size(md);
    const int blockSize = EVP_MD_get_block_size(md);
    if (digestSize <= 0 || digestSize > EVP_MAX_MD_SIZE || blockSize <= 0 || iterations == 0) return false;
    const auto u = static_cast<std::size_t>(digestSize);
    const auto v = static_cast<std::size_t>(blockSize);
    auto roundUp = [v](std::size_t n) { return (n + v - 1) / v * v; };
    const std::size_t saltLength = roundUp(salt.size());
    const std::size_t passLength = roundUp(bmpPassphrase.size());
    // D || I: v bytes of the purpose, then I = salt and passphrase, each
    // repeated to a whole number of blocks.
    SecretBuffer input, extended;
    if (saltLength > SIZE_MAX - v - passLength || !input.resize(v + saltLength + passLength) ||
        !extended.resize(v))
        return false;
    const std::span<std::uint8_t> d = input.mutableBytes();
    std::fill_n(d.begin(), v, id);
    for (std::size_t i = 0; i < saltLength; i++) d[v + i] = salt[i % salt.size()];
    for (std::size_t i = 0; i < passLength; i++)
        d[v + saltLength + i] = bmpPassphrase[i % bmpPassphrase.size()];
    // Fetched once: an implicit fetch at every one of up to millions of
    // digests would triple the time.
    MdPtr fetched(EVP_MD_fetch(nullptr, EVP_MD_get0_name(md), nullptr), EVP_MD_free);
    MdCtxPtr ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!fetched || !ctx) return false;
    md = fetched.get();
    WipedDigest a;
    for (std::size_t done = 0; done < out.size(); done += u) {
        // A = the digest of D || I, redigested to the iteration count.
        unsigned length = 0;
        if (EVP_DigestInit_ex2(ctx.get(), md, nullptr) != 1 ||
            EVP_DigestUpdate(ctx.get(), d.data(), d.size()) != 1 ||
            EVP_DigestFinal_ex(ctx.get(), a.bytes, &length) != 1)
            return false;
        for (std::uint32_t r = 1; r < iterations; r++)
            if (EVP_DigestInit_ex2(ctx.get(), md, nullptr) != 1 ||
                EVP_DigestUpdate(ctx.get(), a.bytes, u) != 1 ||
                EVP_DigestFinal_ex(ctx.get(), a.bytes, &length) != 1)
                return false;
        std::copy_n(a.bytes, std::min(u, out.size() - done), out.begin() + static_cast<std::ptrdiff_t>(done));
        if (out.size() - done <= u) break;
        // Each block of I becomes I + B + 1 modulo 2^(8v), B being A
        // repeated to v bytes.
        const std::span<std::uint8_t> b = extended.mutableBytes();
        for (std::size_t j = 0; j < v; j++) b[j] = a.bytes[j % u];
        for (std::size_t block = v; block < d.size(); block += v) {
            unsigned carry = 1;
            for (std::size_t j = v; j-- > 0;) {
                carry += static_cast<unsigned>(d[block + j]) + b[j];
                d[block + j] = static_cast<std::uint8_t>(carry);
                carry >>= 8;
            }
        }
    }
    return true;
}

}  // namespace corvane::detail
