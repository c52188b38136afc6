#include "engine/ct/vector_registers.h"

#include "engine/cpu/cpu.h"

namespace corvane::engine {

namespace {

#if defined(__clang__)
#define CORVANE_OPAQUE noinline
#else
#define CORVANE_OPAQUE noipa
#endif

#if defined(__x86_64__)
// Every xmm, ymm and zmm register is the caller's to lose across a call in
// the System V and Windows x64 conventions, so each function names the
// registers it zeroes as clobbered and no caller expects them kept. GCC's
// noipa keeps it from assuming anything about these bodies in callers
// (clang has no such analysis across functions here, and no attribute).
#define CORVANE_XMM_0_15                                                                                   \
    "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", \
        "xmm13", "xmm14", "xmm15"

[[gnu::CORVANE_OPAQUE]] void clearSse() noexcept {
    __asm__ volatile(
        "pxor %%xmm0, %%xmm0\n\tpxor %%xmm1, %%xmm1\n\tpxor %%xmm2, %%xmm2\n\tpxor %%xmm3, %%xmm3\n\t"
        "pxor %%xmm4, %%xmm4\n\tpxor %%xmm5, %%xmm5\n\tpxor %%xmm6, %%xmm6\n\tpxor %%xmm7, %%xmm7\n\t"
        "pxor %%xmm8, %%xmm8\n\tpxor %%xmm9, %%xmm9\n\tpxor %%xmm10, %%xmm10\n\tpxor %%xmm11, %%xmm11\n\t"
        "pxor %%xmm12, %%xmm12\n\tpxor %%xmm13, %%xmm13\n\tpxor %%xmm14, %%xmm14\n\tpxor %%xmm15, %%xmm15" ::
            : CORVANE_XMM_0_15);
}

// vzeroall zeroes ymm0-15 whole (and, on AVX-512 CPUs, zmm0-15 whole).
[[gnu::CORVANE_OPAQUE, gnu::target("avx")]] void clearAvx() noexcept {
    __asm__ volatile("vzeroall" ::: CORVANE_XMM_0_15);
}

// zmm16-31 exist only with AVX-512 and vzeroall leaves them: an EVEX
// write of zero clears each whole.
[[gnu::CORVANE_OPAQUE, gnu::target("avx512f")]] void clearAvx512() noexcept {
    __asm__ volatile(
        "vzeroall\n\t"
        "vpxord %%zmm16, %%zmm16, %%zmm16\n\tvpxord %%zmm17, %%zmm17, %%zmm17\n\t"
        "vpxord %%zmm18, %%zmm18, %%zmm18\n\tvpxord %%zmm19, %%zmm19, %%zmm19\n\t"
        "vpxord %%zmm20, %%zmm20, %%zmm20\n\tvpxord %%zmm21, %%zmm21, %%zmm21\n\t"
        "vpxord %%zmm22, %%zmm22, %%zmm22\n\tvpxord %%zmm23, %%zmm23, %%zmm23\n\t"
        "vpxord %%zmm24, %%zmm24, %%zmm24\n\tvpxord %%zmm25, %%zmm25, %%zmm25\n\t"
        "vpxord %%zmm26, %%zmm26, %%zmm26\n\tvpxord %%zmm27, %%zmm27, %%zmm27\n\t"
        "vpxord %%zmm28, %%zmm28, %%zmm28\n\tvpxord %%zmm29, %%zmm29, %%zmm29\n\t"
        "vpxord %%zmm30, %%zmm30, %%zmm30\n\tvpxord %%zmm31, %%zmm31, %%zmm31" ::
            : CORVANE_XMM_0_15, "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24",
              "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
}
#undef CORVANE_XMM_0_15

#elif defined(__aarch64__)
// v8-v15's low halves are the callee's to keep: naming them clobbered makes
// the compiler save and restore them around the asm, which puts back the
// caller's own values, never ours.
[[gnu::CORVANE_OPAQUE]] void clearNeon() noexcept {
    __asm__ volatile(
        "movi v0.16b, #0\n\tmovi v1.16b, #0\n\tmovi v2.16b, #0\n\tmovi v3.16b, #0\n\t"
        "movi v4.16b, #0\n\tmovi v5.16b, #0\n\tmovi v6.16b, #0\n\tmovi v7.16b, #0\n\t"
        "movi v8.16b, #0\n\tmovi v9.16b, #0\n\tmovi v10.16b, #0\n\tmovi v11.16b, #0\n\t"
        "movi v12.16b, #0\n\tmovi v13.16b, #0\n\tmovi v14.16b, #0\n\tmovi v15.16b, #0\n\t"
        "movi v16.16b, #0\n\tmovi v17.16b, #0\n\tmovi v18.16b, #0\n\tmovi v19.16b, #0\n\t"
        "movi v20.16b, #0\n\tmovi v21.16b, #0\n\tmovi v22.16b, #0\n\tmovi v23.16b, #0\n\t"
        "movi v24.16b, #0\n\tmovi v25.16b, #0\n\tmovi v26.16b, #0\n\tmovi v27.16b, #0\n\t"
        "movi v28.16b, #0\n\tmovi v29.16b, #0\n\tmovi v30.16b, #0\n\tmovi v31.16b, #0" ::
            : "v0", "v1", "v2", "v3", "v4", "v5", "v6", "v7", "v8", "v9", "v10", "v11", "v12", "v13", "v14", "v15",
              "v16", "v17", "v18", "v19", "v20", "v21", "v22", "v23", "v24", "v25", "v26", "v27", "v28", "v29",
              "v30", "v31");
}
#endif

#undef CORVANE_OPAQUE

}  // namespace

void clearVectorRegisters() noexcept {
#if defined(__x86_64__)
    switch (vector_register_file()) {
        case VectorRegisterFile::avx512: clearAvx512(); break;
        case VectorRegisterFile::avx: clearAvx(); break;
        default: clearSse(); break;
    }
#elif defined(__aarch64__)
    clearNeon();
#endif
}

}  // namespace corvane::engine
