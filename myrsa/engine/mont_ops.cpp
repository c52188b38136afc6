#include "engine/mont_ops.h"

#include "engine/exponent.h"
#include "engine/limbs.h"
#include "secure_zero.h"

namespace corvane::engine {

namespace {

// Runs f with the backend for mod's size.
template <class F>
void withBackend(const MontModulus& mod, F&& f) {
    switch (mod.n * kWordBits) {
#define CORVANE_BACKEND_CASE(bits)               \
    case bits:                                   \
        f(MontBackend<(bits) / kWordBits>(mod)); \
        return;
        CORVANE_BACKEND_CASE(256)
        CORVANE_BACKEND_CASE(320)
        CORVANE_BACKEND_CASE(384)
        CORVANE_BACKEND_CASE(448)
        CORVANE_BACKEND_CASE(512)
        CORVANE_BACKEND_CASE(576)
        CORVANE_BACKEND_CASE(640)
        CORVANE_BACKEND_CASE(704)
        CORVANE_BACKEND_CASE(768)
        CORVANE_BACKEND_CASE(832)
        CORVANE_BACKEND_CASE(896)
        CORVANE_BACKEND_CASE(960)
        CORVANE_BACKEND_CASE(1024)
#undef CORVANE_BACKEND_CASE
        default:
            f(MontBackend<0>(mod));
            return;
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
    // Blocks of n words from the top: acc = acc * R + block, in Montgomery form.
    const std::size_t blocks = (words + n - 1) / n;
    for (std::size_t k = blocks; k-- > 0;) {
        for (std::size_t i = 0; i < n; i++) block[i] = k * n + i < words ? x[k * n + i] : 0;
        montMul(mod, block, block, mod.rr);  // block * R mod m, valid for any block below R
        if (k + 1 < blocks) {
            montMul(mod, acc, acc, mod.rr);  // acc * R
            modAdd(acc, acc, block, mod.m, scratch, n);
        } else {
            for (std::size_t i = 0; i < n; i++) acc[i] = block[i];
        }
    }
    for (std::size_t i = 0; i < n; i++) r[i] = acc[i];
    secure_zero_object(acc);
    secure_zero_object(block);
    secure_zero_object(scratch);
}

void fromMont(const MontModulus& mod, Word* x, const Word* a) {
    Word unit[kMaxWords] = {1};
    montMul(mod, x, a, unit);
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

}  // namespace corvane::engine
