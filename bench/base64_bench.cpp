// Base64 in the standard alphabet: QVGTMBase64's encodeBytes / decodeBytes
// beside OpenSSL's EVP_EncodeBlock / EVP_DecodeBlock, at 1 KiB and 1 MiB of
// binary data (the decode cases decode that data's encoding).
//
// Our side is measured as applications call it: each call allocates its
// result object, hands it to an autorelease pool, and the pool drains once
// per iteration. OpenSSL writes into a buffer allocated once, outside the
// timed loop, so the comparison is if anything tilted towards the peer.
//
// The coder picks its widest code path for this CPU; CORVANE_CPU=avx2 or
// CORVANE_CPU=portable in the environment measures a lower one:
//   for t in "" avx2 portable; do CORVANE_CPU=$t build/default/bench/base64_bench; done
#include <Corvane/Foundation.h>
#include <Corvane/QVGTMBase64.h>
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

using corvane::NSAutoreleasePool;
using corvane::QVGTMBase64;

namespace {

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * 1024;

// The code path cap this run was made with, printed in the run's context.
[[maybe_unused]] const bool kContextAdded = [] {
    const char* cap = std::getenv("CORVANE_CPU");
    benchmark::AddCustomContext("CORVANE_CPU",
                                cap != nullptr && *cap != '\0' ? cap : "(unset: the widest path)");
    return true;
}();

std::vector<std::uint8_t> randomBytes(std::size_t n) {
    std::mt19937_64 rng(n);
    std::vector<std::uint8_t> b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

std::vector<std::uint8_t> opensslEncode(const std::vector<std::uint8_t>& in) {
    std::vector<std::uint8_t> out(4 * ((in.size() + 2) / 3) + 1);
    int n = EVP_EncodeBlock(out.data(), in.data(), static_cast<int>(in.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

void encodeCorvane(benchmark::State& state, std::size_t n) {
    auto in = randomBytes(n);
    for (auto _ : state) {
        NSAutoreleasePool pool;
        auto* result = QVGTMBase64::encodeBytes(in.data(), in.size());
        benchmark::DoNotOptimize(result);
        if (result == nullptr) state.SkipWithError("encoding failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void encodeOpenssl(benchmark::State& state, std::size_t n) {
    auto in = randomBytes(n);
    std::vector<std::uint8_t> out(4 * ((n + 2) / 3) + 1);
    for (auto _ : state) {
        int written = EVP_EncodeBlock(out.data(), in.data(), static_cast<int>(n));
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void decodeCorvane(benchmark::State& state, std::size_t n) {
    auto text = opensslEncode(randomBytes(n));
    for (auto _ : state) {
        NSAutoreleasePool pool;
        auto* result = QVGTMBase64::decodeBytes(text.data(), text.size());
        benchmark::DoNotOptimize(result);
        if (result == nullptr || result->length() != n) state.SkipWithError("decoding failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void decodeOpenssl(benchmark::State& state, std::size_t n) {
    auto text = opensslEncode(randomBytes(n));
    std::vector<std::uint8_t> out(text.size() / 4 * 3 + 3);
    for (auto _ : state) {
        int written = EVP_DecodeBlock(out.data(), text.data(), static_cast<int>(text.size()));
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

}  // namespace

BENCHMARK_CAPTURE(encodeCorvane, 1KiB, kKiB)->Name("encode/1KiB/corvane");
BENCHMARK_CAPTURE(encodeOpenssl, 1KiB, kKiB)->Name("encode/1KiB/openssl");
BENCHMARK_CAPTURE(encodeCorvane, 1MiB, kMiB)->Name("encode/1MiB/corvane");
BENCHMARK_CAPTURE(encodeOpenssl, 1MiB, kMiB)->Name("encode/1MiB/openssl");
BENCHMARK_CAPTURE(decodeCorvane, 1KiB, kKiB)->Name("decode/1KiB/corvane");
BENCHMARK_CAPTURE(decodeOpenssl, 1KiB, kKiB)->Name("decode/1KiB/openssl");
BENCHMARK_CAPTURE(decodeCorvane, 1MiB, kMiB)->Name("decode/1MiB/corvane");
BENCHMARK_CAPTURE(decodeOpenssl, 1MiB, kMiB)->Name("decode/1MiB/openssl");
