// Processors other than x86-64: cpuFeatures() reports no AVX2, so this is never called and the plain loop
// applies the camera's controls.
#include "capture/SimulatedCameraKernels.h"

namespace kestrane {

int cameraLineAvx2(const double*, const double*, double, double, double, const CameraControls&, std::uint8_t*,
                   int) {
    return 0;
}

} // namespace kestrane
