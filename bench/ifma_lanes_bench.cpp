// The lane-parallel exponentiation that RSA batches run on, beside
// OpenSSL's constant-time exponentiation (BN_mod_exp_mont_consttime with
// its Montgomery set-up done once, as ours is) on the same moduli, inputs
// and exponents: 8 and 16 lanes of the primes of 1024-bit keys (8 words,
// 512-bit exponents) and of 512-bit keys (4 words, 256-bit exponents). An
// iteration is one call of ours and as many exponentiations of OpenSSL's,
// so the ratio compares the same work; the counter cycles_per_exp is time
// stamp counter ticks per exponentiation. The ifma_floor row issues only the
// IFMA multiply-adds that our products contain, as independent chains: the
// least time any kernel built from these products can take, so that the
// ratio says how far ours is from it. OpenSSL's 1024-bit private-key
// operation runs alone as the scale the batch is meant for. The engine's
// functions are internal: this program links the static archive.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/support/ifma_floor.h"
#include "engine/bignum/crt_exponent.h"
#include "engine/bignum/ifma/montgomery_ifma.h"
#include "engine/bignum/ifma/montgomery_ifma_lanes.h"
#include "engine/bignum/sized/mont_ops.h"

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace {

using namespace corvane::engine;

// The time stamp counter (0 where there is none: the lanes run only on
// x86-64).
unsigned long long ticks() {
#if defined(__x86_64__)
    return __rdtsc();
#else
    return 0;
#endif
}

struct Lane {
    MontModulus mod;
    std::vector<Word> base;  // plain, below the modulus
    std::vector<NN_DIGIT> e;
};

BIGNUM* toBn(const Word* w, std::size_t n) {
    std::vector<unsigned char> bytes(8 * n);
    for (std::size_t i = 0; i < n; i++)
        for (unsigned k = 0; k < 8; k++)
            bytes[bytes.size() - 1 - (8 * i + k)] = static_cast<unsigned char>(w[i] >> (8 * k));
    return BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr);
}

std::vector<Lane> makeLanes(std::size_t n, std::size_t lanes) {
    std::mt19937_64 rng(n * 100 + lanes);
    std::vector<Lane> out(lanes);
    for (Lane& lane : out) {
        Word m[kMaxWords] = {};
        for (std::size_t i = 0; i < n; i++) m[i] = rng();
        m[0] |= 1;
        m[n - 1] |= Word{1} << 63;
        setupSecretModulus(lane.mod, m, n, 64 * n);
        lane.base.resize(n);
        for (auto& w : lane.base) w = rng();
        lane.base[n - 1] >>= 1;
        lane.e.resize(2 * n);
        for (auto& d : lane.e) d = static_cast<NN_DIGIT>(rng());
    }
    return out;
}

// Runs ours on every lane from the plain bases; out[i] = plain result i.
void runOurs(const std::vector<Lane>& lanes, std::vector<std::vector<Word>>& x) {
    std::vector<const MontModulus*> mods;
    std::vector<Word*> xs;
    std::vector<const NN_DIGIT*> es;
    for (std::size_t i = 0; i < lanes.size(); i++) {
        mods.push_back(&lanes[i].mod);
        xs.push_back(x[i].data());
        es.push_back(lanes[i].e.data());
    }
    modExpLanesIfma(lanes.size(), mods.data(), xs.data(), es.data(), lanes[0].e.size());
}

struct OpensslLanes {
    std::vector<BIGNUM*> m, b, e, r;
    std::vector<BN_MONT_CTX*> mont;
    BN_CTX* ctx = BN_CTX_new();
    explicit OpensslLanes(const std::vector<Lane>& lanes) {
        for (const Lane& lane : lanes) {
            const std::size_t n = lane.mod.n;
            m.push_back(toBn(lane.mod.m, n));
            b.push_back(toBn(lane.base.data(), n));
            std::vector<Word> ew(n);
            for (std::size_t i = 0; i < n; i++) ew[i] = lane.e[2 * i] | (Word{lane.e[2 * i + 1]} << 32);
            e.push_back(toBn(ew.data(), n));
            BN_set_flags(e.back(), BN_FLG_CONSTTIME);
            r.push_back(BN_new());
            mont.push_back(BN_MONT_CTX_new());
            BN_MONT_CTX_set(mont.back(), m.back(), ctx);
        }
    }
    bool run() {
        bool ok = true;
        for (std::size_t i = 0; i < m.size(); i++)
            ok &= BN_mod_exp_mont_consttime(r[i], b[i], e[i], m[i], ctx, mont[i]) == 1;
        return ok;
    }
    ~OpensslLanes() {
        for (auto* v : {&m, &b, &e, &r})
            for (BIGNUM* x : *v) BN_free(x);
        for (BN_MONT_CTX* c : mont) BN_MONT_CTX_free(c);
        BN_CTX_free(ctx);
    }
};

// Ours in the engine's form from and to plain values, as RSA uses it,
// against OpenSSL's results.
bool resultsAgree(std::size_t n, std::size_t count) {
    const std::vector<Lane> lanes = makeLanes(n, count);
    std::vector<std::vector<Word>> x(count, std::vector<Word>(n));
    for (std::size_t i = 0; i < count; i++) toMont(lanes[i].mod, x[i].data(), lanes[i].base.data(), n);
    runOurs(lanes, x);
    OpensslLanes peer(lanes);
    if (!peer.run()) return false;
    for (std::size_t i = 0; i < count; i++) {
        std::vector<Word> plain(n);
        fromMont(lanes[i].mod, plain.data(), x[i].data());
        BIGNUM* ours = toBn(plain.data(), n);
        const bool same = BN_cmp(ours, peer.r[i]) == 0;
        BN_free(ours);
        if (!same) return false;
    }
    return true;
}

void corvaneLanes(benchmark::State& state, std::size_t n, std::size_t count) {
    const std::vector<Lane> lanes = makeLanes(n, count);
    std::vector<std::vector<Word>> x(count, std::vector<Word>(n));
    for (std::size_t i = 0; i < count; i++) toMont(lanes[i].mod, x[i].data(), lanes[i].base.data(), n);
    const unsigned long long start = ticks();
    for (auto _ : state) {
        runOurs(lanes, x);
        benchmark::DoNotOptimize(x.data());
    }
    state.counters["cycles_per_exp"] =
        static_cast<double>(ticks() - start) / static_cast<double>(state.iterations() * count);
}

void ifmaFloor(benchmark::State& state, std::size_t n, std::size_t count) {
    const std::size_t madds = corvane_bench::laneMultiplyAdds(n, count);
    for (auto _ : state) corvane_bench::multiplyAdds(madds);
    state.counters["madds_per_exp"] = static_cast<double>(madds) / static_cast<double>(count);
}

void opensslLanes(benchmark::State& state, std::size_t n, std::size_t count) {
    OpensslLanes peer(makeLanes(n, count));
    const unsigned long long start = ticks();
    for (auto _ : state)
        if (!peer.run()) state.SkipWithError("BN_mod_exp_mont_consttime failed");
    state.counters["cycles_per_exp"] =
        static_cast<double>(ticks() - start) / static_cast<double>(state.iterations() * count);
}

// The paired exponentiation of the private operation (both primes of one
// key at once) on two lanes' moduli and full-length exponents, by each path
// that runs here; "corvane" is the one the private operation picks, and
// OpenSSL's row is its two exponentiations. The counter cycles_per_product
// is time stamp counter ticks per product of each chain (the fixed window
// of 4 bits: 16n - 1 windows of 5 products, the 14 table entries and 3
// conversions; right to left: 32n windows of 2 squarings and a product,
// and 6 more).
void corvanePair(benchmark::State& state, std::size_t n, PairPath path) {
    const std::vector<Lane> lanes = makeLanes(n, 2);
    std::vector<std::vector<Word>> x(2, std::vector<Word>(n));
    for (std::size_t i = 0; i < 2; i++) toMont(lanes[i].mod, x[i].data(), lanes[i].base.data(), n);
    const unsigned long long start = ticks();
    for (auto _ : state) {
        modExpSecretPair(path, lanes[0].mod, x[0].data(), lanes[0].e.data(), lanes[1].mod, x[1].data(),
                         lanes[1].e.data(), lanes[0].e.size());
        benchmark::DoNotOptimize(x.data());
    }
    const double products = path == PairPath::ifmaRightToLeft ? static_cast<double>(3 * 32 * n + 6)
                                                              : static_cast<double>(5 * (16 * n - 1) + 17);
    state.counters["cycles_per_product"] =
        static_cast<double>(ticks() - start) / (static_cast<double>(state.iterations()) * products);
}

void opensslRsa1024Private(benchmark::State& state) {
    EVP_PKEY* key = EVP_RSA_gen(1024);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    std::vector<unsigned char> in(128, 0x5A), out(128);
    in[0] = 0;
    if (ctx == nullptr || EVP_PKEY_decrypt_init(ctx) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) != 1)
        state.SkipWithError("no RSA-1024 key");
    for (auto _ : state) {
        std::size_t len = out.size();
        if (EVP_PKEY_decrypt(ctx, out.data(), &len, in.data(), in.size()) != 1)
            state.SkipWithError("EVP_PKEY_decrypt failed");
    }
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
}

const bool registered = [] {
    if (!ifmaLanesRun(8) || !ifmaLanesRun(4)) {
        std::fprintf(stderr, "no IFMA on this CPU (or capped by CORVANE_CPU): lanes not benchmarked\n");
        return false;
    }
    for (std::size_t n : {std::size_t{8}, std::size_t{4}}) {
        for (std::size_t count : {std::size_t{8}, std::size_t{16}}) {
            if (!resultsAgree(n, count)) {
                std::fprintf(stderr, "the lanes disagree with OpenSSL; not benchmarking\n");
                return false;
            }
            const std::string name =
                "modexp_lanes/p" + std::to_string(64 * n) + "/x" + std::to_string(count) + "/";
            benchmark::RegisterBenchmark((name + "corvane").c_str(), corvaneLanes, n, count)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark((name + "openssl").c_str(), opensslLanes, n, count)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark((name + "ifma_floor").c_str(), ifmaFloor, n, count)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    const std::pair<PairPath, const char*> paths[] = {{PairPath::interleaved, "interleaved"},
                                                      {PairPath::ifma, "ifma_fixed_window"},
                                                      {PairPath::ifmaRightToLeft, "ifma_right_to_left"}};
    for (std::size_t n = 4; n <= 8; n++) {
        const std::string name = "modexp_pair/p" + std::to_string(64 * n) + "/";
        benchmark::RegisterBenchmark((name + "corvane").c_str(), corvanePair, n, fastestPairPath(n))
            ->Unit(benchmark::kMicrosecond);
        for (const auto& [path, pathName] : paths)
            if (pairPathRuns(path, n) && path != fastestPairPath(n))
                benchmark::RegisterBenchmark((name + pathName).c_str(), corvanePair, n, path)
                    ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "openssl").c_str(), opensslLanes, n, std::size_t{2})
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("rsa1024_private_alone/openssl", opensslRsa1024Private)
        ->Unit(benchmark::kMicrosecond);
    return true;
}();

}  // namespace
