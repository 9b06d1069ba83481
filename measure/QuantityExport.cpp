// The TIFF export of one frame's quantity maps, with the settings of the window they were taken in.
#include "measure/QuantityExport.h"

#include "recording/QuantityTiff.h"

namespace kestrane {

bool exportQuantityTiff(const std::string& path, const QuantityMaps& maps, const RecordingSettings& settings,
                        std::string& error) {
    QuantityTiffSettings tiff;
    // A live frame has no file behind it: the file names the camera (or offline movie) it came from.
    tiff.sourceFile = settings.camera;
    tiff.wavelengthNm = settings.wavelengthNm;
    tiff.objective = settings.objective;
    tiff.pixelSizeUm = settings.pixelSizeUm;
    tiff.flatField = settings.flatField;
    return writeQuantityTiff(path, maps, tiff, error);
}

} // namespace kestrane
