// The processor's features on x86-64, probed once (elsewhere CpuFeaturesUnsupported.cpp reports none).
#include "imaging/CpuFeatures.h"

namespace kestrane {

const CpuFeatures& cpuFeatures() {
    static const CpuFeatures features = [] {
        __builtin_cpu_init();
        CpuFeatures f;
        f.ssse3 = __builtin_cpu_supports("ssse3") != 0;
        f.avx2 = __builtin_cpu_supports("avx2") != 0;
        f.fma = __builtin_cpu_supports("fma") != 0;
        f.avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
                   __builtin_cpu_supports("avx512vbmi");
        return f;
    }();
    return features;
}

} // namespace kestrane
