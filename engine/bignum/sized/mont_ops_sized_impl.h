// The definition of montOpsFor<Bits> (mont_ops_sized.h): included only by
// the mont_ops_*.cpp files of the sizes, each of which instantiates it for a
// few sizes. The bodies are those of every size; only the backend differs.
#ifndef CORVANE_ENGINE_MONT_OPS_SIZED_IMPL_H
#define CORVANE_ENGINE_MONT_OPS_SIZED_IMPL_H

#include <type_traits>

#include "engine/bignum/adx/montgomery_adx.h"
#include "engine/bignum/exponent.h"
#include "engine/bignum/exponent_pair.h"
#include "engine/bignum/limbs.h"
#include "engine/bignum/sized/mont_ops_sized.h"
#include "platform/secure_zero.h"

namespace corvane::engine {

namespace mont_ops_sized {

// Runs f with the backend of Bits bits: the ADX kernels where the CPU has
// them and they cover the size, the portable kernels otherwise; for Bits =
// 0 the portable backend that takes the size at run time.
template <unsigned Bits, class F>
void withBackend(const MontModulus& mod, F&& f) {
    if constexpr (Bits == 0) {
        f(MontBackend<0>(mod));
    } else {
        constexpr std::size_t kWords = Bits / kWordBits;
        static_assert(kWords * kWordBits == Bits, "the specialised sizes are whole words");
        if constexpr (adxKernelsCover(kWords)) {
            if (adxKernelsAvailable()) return f(AdxBackend<kWords>(mod));
        }
        f(MontBackend<kWords>(mod));
    }
}

template <class Backend>
void store(const Backend& backend, Word* out, const typename Backend::Element& x) {
    for (std::size_t i = 0; i < backend.size(); i++) out[i] = x[i];
}

template <unsigned Bits>
struct Ops {
    static void montMul(const MontModulus& mod, Word* r, const Word* a, const Word* b) {
        withBackend<Bits>(mod, [&](const auto& backend) {
            typename std::decay_t<decltype(backend)>::Element x, y;
            backend.load(x, a);
            backend.load(y, b);
            backend.mul(x, x, y);
            store(backend, r, x);
            secure_zero_object(x);
            secure_zero_object(y);
        });
    }

    static void toMont(const MontModulus& mod, Word* r, const Word* x, std::size_t words) {
        const std::size_t n = mod.n;
        Word acc[kMaxWords] = {}, block[kMaxWords], scratch[kMaxWords];
        // Blocks of n words from the top: acc = acc * R + block, in Montgomery
        // form; one backend for all the products.
        withBackend<Bits>(mod, [&](const auto& backend) {
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

    static void montSquareTimes(const MontModulus& mod, Word* x, unsigned times) {
        withBackend<Bits>(mod, [&](const auto& backend) {
            typename std::decay_t<decltype(backend)>::Element y;
            backend.load(y, x);
            for (unsigned k = 0; k < times; k++) backend.sqr(y, y);
            store(backend, x, y);
            secure_zero_object(y);
        });
    }

    static void modExpSecret(const MontModulus& mod, Word* r, const Word* base, const NN_DIGIT* e,
                             std::size_t digits) {
        withBackend<Bits>(mod, [&](const auto& backend) {
            typename std::decay_t<decltype(backend)>::Element b;
            backend.load(b, base);
            modExpFixedWindow(backend, b, b, e, digits);
            store(backend, r, b);
            secure_zero_object(b);
        });
    }

    static void modExpPublic(const MontModulus& mod, Word* r, const Word* base, const NN_DIGIT* e,
                             std::size_t digits) {
        withBackend<Bits>(mod, [&](const auto& backend) {
            typename std::decay_t<decltype(backend)>::Element b;
            backend.load(b, base);
            modExpSlidingWindow(backend, b, b, e, digits);
            store(backend, r, b);
            secure_zero_object(b);
        });
    }

    static void modExpSecretInterleaved(const MontModulus& modP, Word* xP, const NN_DIGIT* eP,
                                        const MontModulus& modQ, Word* xQ, const NN_DIGIT* eQ,
                                        std::size_t digits) {
        withBackend<Bits>(modP, [&](const auto& bp) {
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
};

}  // namespace mont_ops_sized

template <unsigned Bits>
const MontOpsTable& montOpsFor() noexcept {
    using O = mont_ops_sized::Ops<Bits>;
    static constexpr MontOpsTable kTable = {O::montMul,      O::toMont,       O::montSquareTimes,
                                            O::modExpSecret, O::modExpPublic, O::modExpSecretInterleaved};
    return kTable;
}

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_MONT_OPS_SIZED_IMPL_H
