// The triple-DES engine beneath CCCrypt, on every tier this CPU has (one body
// per tier): the bitsliced kernels' S-box circuits against the published
// tables on every input; decryption by the short-message kernel, by
// bitsliced passes and by the two chosen by length, against OpenSSL's
// DES-EDE3 on every length up to 4 KiB and on large random ones, in CBC and
// ECB, in place and not, under random, weak, parity-violating and extreme
// keys; the short kernel's encryption and its batches of jobs against
// OpenSSL; the masks built from the key's bits against the reference
// schedule; the padded CCCrypt decryption's verdict against OpenSSL's on
// every padding; and a loose check that the time does not depend on the key.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

#include "engine/des/des3_engine.h"
#include "engine/des/des_tables.h"
#include "platform/CommonCrypto.h"
#include "tests/support/des3_support.h"
#include "tests/support/test_support.h"

using namespace corvane::test;
using corvane::des::DesMethod;
using corvane::des::DesPath;

constexpr DesMethod kMethods[] = {DesMethod::byLength, DesMethod::shortKernel, DesMethod::bitsliced};

namespace corvane::des {
// Test names and failure messages show the path by name.
void PrintTo(DesPath path, std::ostream* os) { *os << des_path_name(path); }
}  // namespace corvane::des

namespace {

std::string pathName(const testing::TestParamInfo<DesPath>& info) {
    return std::string(corvane::des::des_path_name(info.param));
}

class Des3Engine : public testing::TestWithParam<DesPath> {
protected:
    void SetUp() override {
        if (!corvane::des::des_path_available(GetParam()))
            GTEST_SKIP() << corvane::des::des_path_name(GetParam()) << " kernel not available here";
    }
    // The engine's decryption of whole blocks; iv empty for ECB.
    Bytes decrypt(const Bytes& key, const Bytes& iv, const Bytes& cipher, bool inPlace = false,
                  DesMethod method = DesMethod::byLength) {
        Bytes out = inPlace ? cipher : Bytes(cipher.size(), 0xA5);
        corvane::des::des3_decrypt(GetParam(), key.data(), iv.empty() ? nullptr : iv.data(),
                                   inPlace ? out.data() : cipher.data(), out.data(), cipher.size() / 8, nullptr,
                                   method);
        return out;
    }
    const corvane::des::ShortKernel& shortKernel() { return corvane::des::des_short_kernel(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(EveryTier, Des3Engine,
                         testing::Values(DesPath::portable, DesPath::avx2, DesPath::avx512), pathName);

// Every output bit of every box on all 64 inputs at once: input bit k is the
// word whose bit v is bit k (most significant first) of v.
TEST_P(Des3Engine, SboxCircuitsMatchThePublishedTables) {
    const std::size_t lanes = corvane::des::des_path_width(GetParam()) / 64;
    std::uint64_t x[6] = {};
    for (unsigned k = 0; k < 6; ++k)
        for (unsigned v = 0; v < 64; ++v)
            if ((v >> (5 - k)) & 1u) x[k] |= std::uint64_t{1} << v;
    for (int box = 0; box < 8; ++box) {
        std::vector<std::uint8_t> y(4 * lanes * 8);
        corvane::des::des_path_kernel(GetParam()).sboxes(box, x, y.data());
        for (unsigned v = 0; v < 64; ++v) {
            const unsigned row = ((v >> 4) & 2u) | (v & 1u), column = (v >> 1) & 15u;
            const unsigned expected = corvane::des::kSbox[box][row][column];
            for (unsigned t = 0; t < 4; ++t)
                for (std::size_t lane = 0; lane < lanes; ++lane) {
                    const std::uint8_t byte = y[(t * lanes + lane) * 8 + v / 8];
                    ASSERT_EQ((byte >> (v % 8)) & 1u, (expected >> (3 - t)) & 1u)
                        << "S" << box + 1 << " input " << v << " output bit " << t << " lane " << lane;
                }
        }
    }
}

// Every block count from 0 to 512 (4 KiB), which takes every kernel through
// full passes, short passes, the short kernel's vectors and groups, the
// length where the engines trade places and their seams; CBC and ECB; in
// place and not; each engine alone and the two by length.
TEST_P(Des3Engine, AgreesWithOpenSslOnEveryLengthUpToFourKibibytes) {
    Rng rng(22);
    for (std::size_t blocks = 0; blocks <= 512; ++blocks) {
        const Bytes key = rng.bytes(24), iv = rng.bytes(8), cipher = rng.bytes(blocks * 8);
        for (bool ecb : {false, true}) {
            const Bytes chain = ecb ? Bytes{} : iv;
            auto expected = opensslDes3(false, key, chain, cipher, false);
            ASSERT_TRUE(expected);
            for (DesMethod method : kMethods) {
                const bool inPlace = (blocks + static_cast<std::size_t>(method)) % 2 == 1;
                ASSERT_EQ(decrypt(key, chain, cipher, inPlace, method), *expected)
                    << blocks << " blocks, ecb " << ecb << ", method " << static_cast<int>(method);
            }
        }
    }
}

// The short kernel's encryption, one chain block after block (and ECB side
// by side), on every length up to 4 KiB.
TEST_P(Des3Engine, ShortKernelEncryptsAsOpenSsl) {
    Rng rng(23);
    for (std::size_t blocks = 0; blocks <= 512; blocks += blocks < 80 ? 1 : 37) {
        const Bytes key = rng.bytes(24), iv = rng.bytes(8), plain = rng.bytes(blocks * 8);
        corvane::des::ShortSchedule schedule;
        shortKernel().schedule(key.data(), corvane::des::Direction::encrypt, schedule);
        for (bool ecb : {false, true}) {
            auto expected = opensslDes3(true, key, ecb ? Bytes{} : iv, plain, false);
            ASSERT_TRUE(expected);
            Bytes out(plain.size()), chain = iv;
            shortKernel().encrypt(schedule, ecb ? nullptr : chain.data(), plain.data(), out.data(), blocks);
            ASSERT_EQ(out, *expected) << blocks << " blocks, ecb " << ecb;
            if (!ecb && blocks > 0) {
                EXPECT_EQ(chain, Bytes(out.end() - 8, out.end()));
            }
        }
    }
}

// Many messages side by side, each its own key, IV and length (none, one
// block, across the lanes' refills), CBC and ECB mixed, in place and not.
TEST_P(Des3Engine, ShortKernelJobsAgreeWithOpenSsl) {
    Rng rng(24);
    for (auto direction : {corvane::des::Direction::decrypt, corvane::des::Direction::encrypt}) {
        const bool encrypt = direction == corvane::des::Direction::encrypt;
        const std::size_t count = 150;
        std::vector<Bytes> keys, ivs, ins, outs;
        std::vector<corvane::des::ShortSchedule> schedules(count);
        std::vector<corvane::des::LaneJob> jobs(count);
        for (std::size_t j = 0; j < count; ++j) {
            keys.push_back(rng.bytes(24));
            ivs.push_back(rng.bytes(8));
            ins.push_back(rng.bytes(8 * (j % 5 == 0 ? rng.range(0, 300) : rng.range(0, 40))));
            outs.push_back(j % 3 == 0 ? ins.back() : Bytes(ins.back().size(), 0xA5));
        }
        for (std::size_t j = 0; j < count; ++j) {
            shortKernel().schedule(keys[j].data(), direction, schedules[j]);
            jobs[j] = {&schedules[j], j % 3 == 0 ? outs[j].data() : ins[j].data(), outs[j].data(), ins[j].size() / 8,
                       {}, j % 7 == 2};
            std::memcpy(jobs[j].chain, ivs[j].data(), 8);
        }
        shortKernel().jobs(direction, jobs.data(), count);
        for (std::size_t j = 0; j < count; ++j) {
            auto expected = opensslDes3(encrypt, keys[j], j % 7 == 2 ? Bytes{} : ivs[j], ins[j], false);
            ASSERT_TRUE(expected);
            ASSERT_EQ(outs[j], *expected) << "job " << j << ", encrypt " << encrypt;
        }
    }
}

// The masks the engine builds from the key's bits are the reference
// schedule's, bit for bit.
TEST_P(Des3Engine, MasksFromTheKeysBitsAreTheReferenceSchedule) {
    Rng rng(25);
    for (int i = 0; i < 50; ++i) {
        const Bytes key = rng.bytes(24);
        auto reference = std::make_unique<corvane::des::Des3DecryptSchedule>();
        auto built = std::make_unique<corvane::des::Des3DecryptSchedule>();
        corvane::des::make_des3_decrypt_schedule(key.data(), *reference);
        corvane::des::des_path_kernel(GetParam()).schedule(key.data(), *built);
        ASSERT_EQ(std::memcmp(reference.get(), built.get(), sizeof *built), 0) << toHex(key);
    }
}

TEST_P(Des3Engine, AgreesWithOpenSslOnLargeRandomLengths) {
    Rng rng(2022);
    for (int i = 0; i < 6; ++i) {
        const std::size_t blocks = rng.range(513, 40000);
        const Bytes key = rng.bytes(24), iv = rng.bytes(8), cipher = rng.bytes(blocks * 8);
        auto expected = opensslDes3(false, key, iv, cipher, false);
        ASSERT_TRUE(expected);
        EXPECT_EQ(decrypt(key, iv, cipher, i % 2 == 1), *expected) << blocks << " blocks";
    }
}

// Keys whose round keys are all equal or all ones, keys that ignore parity,
// single-DES keys (K1 = K2 = K3) and the key's first bytes as IV.
TEST_P(Des3Engine, WeakParityViolatingAndExtremeKeys) {
    const char* const halves[] = {"0101010101010101", "fefefefefefefefe", "1f1f1f1f0e0e0e0e",
                                  "e0e0e0e0f1f1f1f1", "0000000000000000", "ffffffffffffffff",
                                  "01fe01fe01fe01fe", "0123456789abcdef", "5555555555555555"};
    Rng rng(46);
    for (const char* a : halves)
        for (const char* b : {"0000000000000000", "fefefefefefefefe", "8040201008040201"}) {
            const Bytes key = fromHex(std::string(a) + b + a);
            const Bytes single = fromHex(std::string(a) + a + a);
            for (const Bytes& k : {key, single}) {
                const Bytes iv(k.begin(), k.begin() + 8), cipher = rng.bytes(8 * 300);
                auto expected = opensslDes3(false, k, iv, cipher, false);
                ASSERT_TRUE(expected);
                for (DesMethod method : {DesMethod::shortKernel, DesMethod::bitsliced})
                    EXPECT_EQ(decrypt(k, iv, cipher, false, method), *expected) << toHex(k);
            }
        }
}

// The last block delivered apart ends where out would have.
TEST_P(Des3Engine, LastBlockDeliveredApart) {
    Rng rng(5);
    for (std::size_t blocks : {1u, 2u, 9u, 33u, 63u, 64u, 65u, 256u, 257u, 512u, 513u, 600u, 1300u}) {
        const Bytes key = rng.bytes(24), iv = rng.bytes(8), cipher = rng.bytes(blocks * 8);
        const Bytes whole = decrypt(key, iv, cipher);
        for (DesMethod method : kMethods) {
            Bytes out(cipher.size(), 0xA5), last(8);
            corvane::des::des3_decrypt(GetParam(), key.data(), iv.data(), cipher.data(), out.data(), blocks,
                                       last.data(), method);
            EXPECT_TRUE(std::equal(out.begin(), out.end() - 8, whole.begin())) << blocks;
            EXPECT_EQ(Bytes(out.end() - 8, out.end()), Bytes(8, 0xA5)) << blocks;
            EXPECT_EQ(last, Bytes(whole.end() - 8, whole.end())) << blocks;
        }
    }
}

// A head block given apart from the rest (a stream's held-back block): the
// same plaintext as the joined message, across the seams of every kernel's
// passes, in CBC and ECB.
TEST_P(Des3Engine, HeadBlockGivenApart) {
    Rng rng(6);
    for (std::size_t blocks : {1u, 2u, 9u, 33u, 63u, 64u, 65u, 256u, 257u, 300u, 511u, 512u, 513u, 1300u}) {
        const Bytes key = rng.bytes(24), iv = rng.bytes(8), cipher = rng.bytes(blocks * 8);
        const Bytes head(cipher.begin(), cipher.begin() + 8), rest(cipher.begin() + 8, cipher.end());
        for (bool ecb : {false, true}) {
            const Bytes chain = ecb ? Bytes{} : iv;
            for (DesMethod method : kMethods) {
                Bytes out(cipher.size(), 0xA5);
                corvane::des::des3_decrypt_after(GetParam(), key.data(), ecb ? nullptr : iv.data(), head.data(),
                                                 rest.data(), out.data(), blocks, method);
                EXPECT_EQ(out, decrypt(key, chain, cipher)) << blocks << " blocks, ecb " << ecb;
            }
        }
    }
}

// A loose bound on purpose: the machine is shared. A key-dependent table
// index or branch shows as a steady difference between these keys.
TEST_P(Des3Engine, TimeDoesNotDependOnTheKeysHammingWeight) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "under a sanitizer its own bookkeeping is what gets timed";
#endif
    const Bytes keys[] = {Bytes(24, 0x00), Bytes(24, 0xff), Bytes(24, 0x55),
                          fromHex(std::string(24, '0') + std::string(24, 'f'))};
    Rng rng(9);
    const Bytes iv = rng.bytes(8), cipher = rng.bytes(64 * 1024);
    Bytes out(cipher.size());
    // The keys take turns, so that a change in the machine's load falls on
    // all of them alike rather than on whichever key ran at the time.
    std::vector<std::vector<double>> times(std::size(keys));
    for (int round = 0; round < 15; ++round) {
        for (std::size_t k = 0; k < std::size(keys); ++k) {
            const auto start = std::chrono::steady_clock::now();
            corvane::des::des3_decrypt(GetParam(), keys[k].data(), iv.data(), cipher.data(), out.data(),
                                       cipher.size() / 8, nullptr);
            times[k].push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
    std::vector<double> medians;
    for (std::vector<double>& keyTimes : times) {
        std::nth_element(keyTimes.begin(), keyTimes.begin() + 7, keyTimes.end());
        medians.push_back(keyTimes[7]);
    }
    const double lo = *std::min_element(medians.begin(), medians.end());
    const double hi = *std::max_element(medians.begin(), medians.end());
    EXPECT_LT(hi / lo, 1.5) << "all-zero, all-one, alternating, half-and-half keys: " << medians[0] << " "
                            << medians[1] << " " << medians[2] << " " << medians[3] << " s";
}

// CCCrypt's padded decryption: the verdict and the bytes it delivers match
// OpenSSL's for every last byte value and for padding that disagrees in
// each position; the padding itself and everything after the plaintext keep
// the caller's bytes, and a refused message leaves the output wiped.
TEST(Des3EnginePadding, EveryLastByteAndEveryDisagreeingPosition) {
    Rng rng(7);
    const Bytes key = rng.bytes(24), iv = rng.bytes(8);
    std::vector<Bytes> tails;
    for (unsigned last = 0; last < 256; ++last) {
        Bytes tail = rng.bytes(8);
        for (unsigned i = 8 - std::min(last, 8u); i < 8; ++i) tail[i] = static_cast<std::uint8_t>(last);
        tails.push_back(tail);
    }
    for (unsigned pad = 2; pad <= 8; ++pad)
        for (unsigned wrong = 8 - pad; wrong < 7; ++wrong) {
            Bytes tail(8, static_cast<std::uint8_t>(pad));
            tail[wrong] ^= 0x10;
            tails.push_back(tail);
        }
    for (const Bytes& tail : tails) {
        for (std::size_t lead : {0u, 8u, 4096u}) {
            Bytes plain = rng.bytes(lead);
            plain.insert(plain.end(), tail.begin(), tail.end());
            auto cipher = opensslDes3(true, key, iv, plain, false);
            ASSERT_TRUE(cipher);
            auto expected = opensslDes3(false, key, iv, *cipher, true);
            Bytes out(cipher->size(), 0xA5);
            std::size_t moved = 12345;
            const CCCryptorStatus status =
                CCCrypt(kCCDecrypt, kCCAlgorithm3DES, kCCOptionPKCS7Padding, key.data(), 24, iv.data(),
                        cipher->data(), cipher->size(), out.data(), out.size(), &moved);
            if (!expected) {
                ASSERT_EQ(status, kCCDecodeError) << toHex(tail);
                EXPECT_EQ(moved, 0u);
                EXPECT_EQ(out, Bytes(out.size(), 0)) << toHex(tail);
                continue;
            }
            ASSERT_EQ(status, kCCSuccess) << toHex(tail);
            ASSERT_EQ(moved, expected->size());
            EXPECT_TRUE(std::equal(expected->begin(), expected->end(), out.begin())) << toHex(tail);
            EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(moved), out.end(),
                                    [](std::uint8_t b) { return b == 0xA5; }))
                << toHex(tail);
        }
    }
}

}  // namespace
