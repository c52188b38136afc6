#include "engine/mont_ops.h"

#include "engine/exponent.h"
#include "engine/exponent_pair.h"
#include "engine/limbs.h"
#include "engine/montgomery_adx.h"
#include "secure_zero.h"

namespace corvane::engine {

namespace {

// Runs f with the backend of N words: the ADX kernels where the CPU has them
// and they cover the size, the portable kernels otherwise.
template <std::size_t N, class F>
void withFixedBackend(const MontModulus& mod, F& f) {
    if constexpr (adxKernelsCover(N)) {
        if (adxKernelsAvailable()) return f(AdxBackend<N>(mod));
    }
    f(MontBackend<N>(mod));
}

// Runs f with the backend for mod's size: specialised for the sizes of RSA's
// primes and moduli (256 to 1024 bits in steps of 64), the run-time count
// for the others.
template <class F>
void withBackend(const MontModulus& mod, F&& f) {
    switch (mod.n * kWordBits) {
        case 256:
            return withFixedBackend<256 / kWordBits>(mod, f);
        case 320:
            return withFixedBackend<320 / kWordBits>(mod, f);
        case 384:
            return withFixedBackend<384 / kWordBits>(mod, f);
        case 448:
            return withFixedBackend<448 / kWordBits>(mod, f);
        case 512:
            return withFixedBackend<512 / kWordBits>(mod, f);
        case 576:
            return withFixedBackend<576 / kWordBits>(mod, f);
        case 640:
            return withFixedBackend<640 / kWordBits>(mod, f);
        case 704:
            return withFixedBackend<704 / kWordBits>(mod, f);
        case 768:
            return withFixedBackend<768 / kWordBits>(mod, f);
        case 832:
            return withFixedBackend<832 / kWordBits>(mod, f);
        case 896:
            return withFixedBackend<896 / kWordBits>(mod, f);
        case 960:
            return withFixedBackend<960 / kWordBits>(mod, f);
        case 1024:
            return withFixedBackend<1024 / kWordBits>(mod, f);
        default:
            return f(MontBackend<0>(mod));
    }
}

template <class Backend>
void store(const Backend& backend, Word* out, const typename Backend::Element& x) {
    for (std::size_t i = 0; i < backend.size(); i++) out[i] = x[i];
}

}  // namespace

void montMul(const MontModulus& mod, Word* r, const Word* a, const Word* b) {
    withBackend(mod, [&](const auto& backend) {
        typename std::decay_t<decltype(backend)>::Element x, y;
        backend.load(x, a);
        backend.load(y, b);
        backend.mul(x, x, y);
        store(backend, r, x);
        secure_zero_object(x);
        secure_zero_object(y);
    });
}

void toMont(const MontModulus& mod, Word* r, const Word* x, std::size_t words) {
    const std::size_t n = mod.n;
    Word acc[kMaxWords] = {}, block[kMaxWords], scratch[kMaxWords];
    // Blocks of n words from the top: acc = acc * R + block, in Montgomery
    // form; one backend for all the products.
    withBackend(mod, [&](const auto& backend) {
        typename std::decay_t<decltype(backend)>::Element a, b, rr;
        backend.load(rr, mod.rr);
        const std::size_t blocks = (words + n - 1) / n;
        for (std::size_t k = blocks; k-- > 0;) {
            for (std::size_t i = 0; i < n; i++) block[i] = k * n + i < words ? x[k * n + i] : 0;
            backend.load(b, block);
            backend.mul(b, b, rr);  // block * R mod m, valid for any block below R
            if (k + 1 < blocks) {
                backend.mul(a, a, rr);  // acc * R
                store(backend, acc, a);
                store(backend, block, b);
                modAdd(acc, acc, block, mod.m, scratch, n);
                backend.load(a, acc);
            } else {
                a = b;
            }
        }
        store(backend, r, a);
        secure_zero_object(a);
        secure_zero_object(b);
    });
    secure_zero_object(acc);
    secure_zero_object(block);
    secure_zero_object(scratch);
}

void fromMont(const MontModulus& mod, Word* x, const Word* a) {
    Word unit[kMaxWords] = {1};
    montMul(mod, x, a, unit);
}

void montSquareTimes(const MontModulus& mod, Word* x, unsigned times) {
    withBackend(mod, [&](const auto& backend) {
        typename std::decay_t<decltype(backend)>::Element y;
        backend.load(y, x);
        for (unsigned k = 0; k < times; k++) backend.sqr(y, y);
        store(backend, x, y);
        secure_zero_object(y);
    });
}

void modExpSecret(const MontModulus& mod, Word* r, const Word* base, const NN_DIGIT* e, std::size_t digits) {
    withBackend(mod, [&](const auto& backend) {
        typename std::decay_t<decltype(backend)>::Element b;
        backend.load(b, base);
        modExpFixedWindow(backend, b, b, e, digits);
        store(backend, r, b);
        secure_zero_object(b);
    });
}

void modExpPublic(const MontModulus& mod, Word* r, const Word* base, const NN_DIGIT* e, std::size_t digits) {
    withBackend(mod, [&](const auto& backend) {
        typename std::decay_t<decltype(backend)>::Element b;
        backend.load(b, base);
        modExpSlidingWindow(backend, b, b, e, digits);
        store(backend, r, b);
        secure_zero_object(b);
    });
}

void modExpSecretInterleaved(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ,
                             Word* xQ, const NN_DIGIT* eQ, std::size_t digits) {
    withBackend(modP, [&](const auto& bp) {
        using Backend = std::decay_t<decltype(bp)>;
        const Backend bq(modQ);
        typename Backend::Element p, q;
        bp.load(p, xP);
        bq.load(q, xQ);
        modExpFixedWindowPair(bp, p, p, eP, bq, q, q, eQ, digits);
        store(bp, xP, p);
        store(bq, xQ, q);
        secure_zero_object(p);
        secure_zero_object(q);
    });
}

}  // namespace corvane::engine
