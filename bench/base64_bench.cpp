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

#include <Corvane/corvane.hpp>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
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
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const std::uint64_t word = rng();
        for (std::size_t k = 0; k < 8; ++k) b[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
    }
    for (; i < n; ++i) b[i] = static_cast<std::uint8_t>(rng());
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

// ---------------------------------------------------------------------------
// The modern layer's one-shot calls from 64 B to 256 MiB, in two settings:
//  - "fresh": every call gets new memory for its result (our allocating
//    cv::base64Encode / cv::base64Decode; OpenSSL into a buffer malloc'ed
//    and freed per call);
//  - "warm": every call writes into the same memory, allocated and touched
//    before timing (our span forms; OpenSSL into its own reused buffer).
// The 256 MiB cases run fewer repetitions; the whole curve:
//   build/default/bench/base64_bench --benchmark_filter='fresh|warm'

namespace cv = corvane::v1;

void freshEncodeCorvane(benchmark::State& state, std::size_t n) {
    const auto in = randomBytes(n);
    for (auto _ : state) {
        std::string text = cv::base64Encode(in);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void freshEncodeOpenssl(benchmark::State& state, std::size_t n) {
    const auto in = randomBytes(n);
    for (auto _ : state) {
        auto* out = static_cast<unsigned char*>(std::malloc(4 * ((n + 2) / 3) + 1));
        int written = EVP_EncodeBlock(out, in.data(), static_cast<int>(n));
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void warmEncodeCorvane(benchmark::State& state, std::size_t n) {
    const auto in = randomBytes(n);
    std::string out(cv::base64EncodedSize(n, cv::Base64Padding::padded), '\0');
    for (auto _ : state) {
        std::size_t written = cv::base64Encode(in, out, cv::Base64Alphabet::standard, cv::Base64Padding::padded);
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void freshDecodeCorvane(benchmark::State& state, std::size_t n) {
    const std::string text = cv::base64Encode(randomBytes(n));
    for (auto _ : state) {
        std::vector<std::uint8_t> bytes = cv::base64Decode(text);
        benchmark::DoNotOptimize(bytes.data());
        if (bytes.size() != n) state.SkipWithError("decoding failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void freshDecodeOpenssl(benchmark::State& state, std::size_t n) {
    const std::string text = cv::base64Encode(randomBytes(n));
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    for (auto _ : state) {
        auto* out = static_cast<unsigned char*>(std::malloc(text.size() / 4 * 3 + 3));
        int written = EVP_DecodeBlock(out, in, static_cast<int>(text.size()));
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void warmDecodeCorvane(benchmark::State& state, std::size_t n) {
    const std::string text = cv::base64Encode(randomBytes(n));
    std::vector<std::uint8_t> out(cv::base64DecodedCapacity(text.size()));
    for (auto _ : state) {
        std::size_t written = cv::base64Decode(text, out, cv::Base64Alphabet::standard, cv::Base64Padding::padded);
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
        if (written != n) state.SkipWithError("decoding failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void warmDecodeOpenssl(benchmark::State& state, std::size_t n) {
    const std::string text = cv::base64Encode(randomBytes(n));
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    std::vector<unsigned char> out(text.size() / 4 * 3 + 3);
    for (auto _ : state) {
        int written = EVP_DecodeBlock(out.data(), in, static_cast<int>(text.size()));
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

// Registers one case of each kind at every size; the largest with three
// repetitions (each call there takes a sizeable fraction of a second).
[[maybe_unused]] const bool kCurveRegistered = [] {
    struct Size {
        const char* name;
        std::size_t bytes;
    };
    using Function = void (*)(benchmark::State&, std::size_t);
    struct Kind {
        const char* name;
        Function corvane;
        Function openssl;
    };
    const Kind kinds[] = {{"fresh-encode", freshEncodeCorvane, freshEncodeOpenssl},
                          {"warm-encode", warmEncodeCorvane, encodeOpenssl},
                          {"fresh-decode", freshDecodeCorvane, freshDecodeOpenssl},
                          {"warm-decode", warmDecodeCorvane, warmDecodeOpenssl}};
    for (const Size size : {Size{"64B", 64}, Size{"1KiB", kKiB}, Size{"64KiB", 64 * kKiB}, Size{"1MiB", kMiB},
                            Size{"16MiB", 16 * kMiB}, Size{"256MiB", 256 * kMiB}}) {
        for (const Kind& kind : kinds) {
            for (const auto& [side, function] : {std::pair{"corvane", kind.corvane}, std::pair{"openssl", kind.openssl}}) {
                const std::string name = std::string(kind.name) + "/" + size.name + "/" + side;
                auto* b = benchmark::RegisterBenchmark(name.c_str(), function, size.bytes);
                if (size.bytes == 256 * kMiB) b->Repetitions(3)->Iterations(2);
            }
        }
    }
    return true;
}();
