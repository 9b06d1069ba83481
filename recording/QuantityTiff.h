// The quantity maps as a calibrated 32-bit float TIFF: an ImageJ hyperstack with the four quantities as
// channels and one time point per movie frame, written frame by frame with a frame's memory at most.
#pragma once

#include "analysis/Calibration.h"
#include "analysis/Quantities.h"
#include "recording/RecordingSettings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct tiff;

namespace kestrane {

// Where a directory of the file keeps its one strip's offset and byte count: the file positions of the two
// entries, which libtiff leaves empty and which are filled in once the pixels are in.
struct QuantityTiffStrip {
    std::uint64_t offsetEntryAt = 0;
    std::uint64_t countEntryAt = 0;
};

// What the file says about where its numbers come from, besides the numbers.
struct QuantityTiffSettings {
    std::string sourceFile; // the frame or movie analysed
    double wavelengthNm = kDefaultWavelengthNm;
    int objective = 4;
    double pixelSizeUm = scaleBarPixelSizeUm(4); // width and height of a map pixel in the sample
    std::optional<FlatFieldFile> flatField;      // the background in force, when one was
    std::vector<double> frameTimesS;             // seconds since the first frame, one per frame when known
    bool bigTiff = false;                        // BigTIFF even when the file would fit a classic TIFF
};

// The channels in the order the file holds them, with their units.
struct QuantityChannel {
    const char* name;
    const char* unit;
    const char* label; // the slice label ImageJ shows
};
inline constexpr QuantityChannel kQuantityChannels[4] = {{"retardance", "nm", "retardance (nm)"},
                                                         {"orientation", "degrees", "orientation (degrees)"},
                                                         {"sin_delta", "", "|sin delta|"},
                                                         {"transmission", "%", "transmission (%)"}};

// Whether a file of `frames` frames, `metadataBytes` of descriptions and tags besides, would pass the 4 GiB
// that classic TIFF's 32-bit offsets reach (above about 3 490 frames).
bool quantityTiffNeedsBigTiff(std::int64_t frames, std::uint64_t metadataBytes);

// Writes the maps of a movie, one frame after the other. All the directories are written by `open`, so
// that the pixels follow as one contiguous block, which ImageJ reads as a hyperstack; the file is complete
// only after `finish`. Each call returns false with `error()` once something fails; the file is then
// useless and the caller removes it.
class QuantityTiffWriter {
  public:
    QuantityTiffWriter() = default;
    QuantityTiffWriter(const QuantityTiffWriter&) = delete;
    QuantityTiffWriter& operator=(const QuantityTiffWriter&) = delete;
    ~QuantityTiffWriter();

    // Creates (or empties) `path` for `frameCount` frames `frameIntervalS` apart (0: a single picture, no
    // time axis).
    bool open(const std::string& path, const QuantityTiffSettings& settings, std::int64_t frameCount,
              double frameIntervalS);
    // The next frame's maps, in frame order.
    bool append(const QuantityMaps& maps);
    // Closes the file once every frame is in (`syncToDisk`: and waits until it is on the disk); false when
    // frames are missing or the close fails.
    bool finish(bool syncToDisk = false);

    const std::string& error() const { return error_; }

  private:
    bool fail(const std::string& why);
    void close();

    tiff* tiff_ = nullptr;
    int fd_ = -1;
    std::string path_;
    std::vector<std::uint64_t> directories_; // offset of each plane's directory
    std::vector<QuantityTiffStrip> strips_;  // where each directory's strip offset and size are filled in
    std::uint64_t dataStart_ = 0;
    bool bigTiff_ = false; // the first plane's pixels, right after the directories
    std::int64_t frames_ = 0;
    std::int64_t appended_ = 0;
    std::string error_;
    std::string libtiffMessage_; // libtiff's last complaint, for the reason of a failure
};

// One frame's maps into `path` whole: written under a temporary name beside it and renamed into place, so
// that a failure leaves the earlier file as it was. False with the reason in `error`.
bool writeQuantityTiff(const std::string& path, const QuantityMaps& maps,
                       const QuantityTiffSettings& settings, std::string& error);

} // namespace kestrane
