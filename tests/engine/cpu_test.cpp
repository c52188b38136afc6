// The CPU feature cap: CORVANE_CPU must be able to force every lower tier,
// and a feature is never reported without the ones it depends on.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/cpu/cpu.h"

namespace {

using corvane::cap_cpu_features;
using corvane::CpuFeatures;

CpuFeatures everything() {
    CpuFeatures f;
    f.bmi2 = f.adx = f.avx2 = true;
    f.avx512f = f.avx512bw = f.avx512vl = f.avx512ifma = f.avx512vbmi = true;
    return f;
}

TEST(CpuFeatures, CapSettings) {
    const CpuFeatures portable = cap_cpu_features(everything(), "portable");
    EXPECT_FALSE(portable.bmi2 || portable.adx || portable.avx2 || portable.avx512f || portable.avx512ifma ||
                 portable.avx512vbmi);
    EXPECT_EQ(corvane::cpu_tier_name(portable), "portable");

    const CpuFeatures avx2 = cap_cpu_features(everything(), "avx2");
    EXPECT_TRUE(avx2.avx2 && avx2.bmi2 && avx2.adx);
    EXPECT_FALSE(avx2.avx512f || avx2.avx512bw || avx2.avx512vl || avx2.avx512ifma || avx2.avx512vbmi);
    EXPECT_EQ(corvane::cpu_tier_name(avx2), "avx2");

    for (const char* setting : {static_cast<const char*>(nullptr), "", "native", "AVX512"}) {
        const CpuFeatures all = cap_cpu_features(everything(), setting);
        EXPECT_TRUE(all.avx512ifma && all.avx512vbmi && all.avx2) << (setting ? setting : "(unset)");
    }
}

TEST(CpuFeatures, DetectedSetIsConsistent) {
    const CpuFeatures f = corvane::detect_cpu_features();
    if (f.avx512f) {
        EXPECT_TRUE(f.avx2) << "AVX-512 state implies the AVX state";
    }
    if (f.avx512ifma || f.avx512vbmi || f.avx512bw || f.avx512vl) {
        EXPECT_TRUE(f.avx512f);
    }
    // The process-wide set is the detected set under the environment's cap.
    const CpuFeatures& process = corvane::cpu_features();
    EXPECT_LE(process.avx512f, f.avx512f);
    EXPECT_LE(process.avx2, f.avx2);
    std::printf("detected tier: %s, in use: %s\n", std::string(corvane::cpu_tier_name(f)).c_str(),
                std::string(corvane::cpu_tier_name(process)).c_str());
}

}  // namespace
