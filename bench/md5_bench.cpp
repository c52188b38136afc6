// MD5 throughput beside OpenSSL's MD5 at 64 B, 1 KiB and 1 MiB.
#include <Corvane/md5.h>
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<unsigned char> message(std::size_t n) {
    std::vector<unsigned char> m(n);
    for (std::size_t i = 0; i < n; i++) m[i] = static_cast<unsigned char>(i * 131 + 7);
    return m;
}

void corvaneMd5(benchmark::State& state) {
    auto m = message(static_cast<std::size_t>(state.range(0)));
    unsigned char digest[16];
    for (auto _ : state) {
        MD5_CTX ctx;
        QvMD5Init(&ctx);
        QvMD5Update(&ctx, m.data(), static_cast<uint32_t>(m.size()));
        QvMD5Final(digest, &ctx);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void opensslMd5(benchmark::State& state) {
    auto m = message(static_cast<std::size_t>(state.range(0)));
    unsigned char digest[16];
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const EVP_MD* md = EVP_md5();
    for (auto _ : state) {
        unsigned int len = 0;
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, m.data(), m.size());
        EVP_DigestFinal_ex(ctx, digest, &len);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(corvaneMd5)->Name("md5/64B/corvane")->Arg(64);
BENCHMARK(opensslMd5)->Name("md5/64B/openssl")->Arg(64);
BENCHMARK(corvaneMd5)->Name("md5/1KiB/corvane")->Arg(1024);
BENCHMARK(opensslMd5)->Name("md5/1KiB/openssl")->Arg(1024);
BENCHMARK(corvaneMd5)->Name("md5/1MiB/corvane")->Arg(1 << 20);
BENCHMARK(opensslMd5)->Name("md5/1MiB/openssl")->Arg(1 << 20);
