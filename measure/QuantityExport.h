// The calibrated TIFF of one frame's quantities, as "Export maps (TIFF)…" on the "Measure" page writes it.
#pragma once

#include "analysis/Quantities.h"
#include "recording/RecordingSettings.h"

#include <string>

namespace kestrane {

// Writes the quantity maps with the settings they were taken with (wavelength, objective, pixel size, flat
// field) into the TIFF file `path`; false with the reason in words in `error`, and no file, when it cannot.
bool exportQuantityTiff(const std::string& path, const QuantityMaps& maps, const RecordingSettings& settings,
                        std::string& error);

} // namespace kestrane
