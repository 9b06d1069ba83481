// The TIFF export of the quantity maps: a placeholder until the TIFF writer is part of the program.
#include "measure/QuantityExport.h"

namespace kestrane {

bool exportQuantityTiff(const std::string&, const QuantityMaps&, const RecordingSettings&,
                        std::string& error) {
    error = "Export maps (TIFF) is not yet available in this build: nothing was written.";
    return false;
}

} // namespace kestrane
