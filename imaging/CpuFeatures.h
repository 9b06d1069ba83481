// The instruction sets of the processor the program runs on, probed once for every kernel that chooses by
// them.
#pragma once

namespace kestrane {

struct CpuFeatures {
    bool ssse3 = false;
    bool avx2 = false;
    bool fma = false;
    // AVX-512 F, BW, DQ, VL and the byte permutes of VBMI, which the kernels use together.
    bool avx512 = false;
};

// The features of this processor; all false where the build has no kernels for its instruction sets.
const CpuFeatures& cpuFeatures();

} // namespace kestrane
