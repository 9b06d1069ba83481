// The simulated camera's controls applied with AVX2 (capture/SimulatedCameraAvx2.cpp), which the build
// compiles for AVX2 on x86-64 only; capture/SimulatedCamera.cpp asks cpuFeatures() before calling it.
#pragma once

#include <cstdint>

namespace kestrane {

// Exposure, gain and contrast as factors, brightness as an offset on the 0..255 scale.
struct CameraControls {
    double exposure;
    double gain;
    double contrast;
    double brightness;
};

// The camera bytes of the first pixels of a line, eight at a time, exactly as the plain loop gives them:
// the light of column c is values[c] / divisor · (1 − vignetting · (columnSquares[c] + lineSquare) / 2), its
// byte ((light · exposure · gain − 128) · contrast + 128 + brightness) rounded half away from zero into
// 0..255. Returns how many it did.
int cameraLineAvx2(const double* values, const double* columnSquares, double lineSquare, double vignetting,
                   double divisor, const CameraControls& controls, std::uint8_t* out, int count);

} // namespace kestrane
