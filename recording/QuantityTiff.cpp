// The quantity maps as a calibrated 32-bit float TIFF that ImageJ, Fiji and tifffile read as a hyperstack.
#include "recording/QuantityTiff.h"

#include "Version.h"

#include <nlohmann/json.hpp>
#include <tiffio.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>
#include <utility>

namespace kestrane {

namespace {

constexpr int kChannels = 4;
constexpr std::uint64_t kPlaneBytes = std::uint64_t{kMapWidth} * kMapHeight * sizeof(float);
// Room for one plane's directory with its resolution values, generously counted.
constexpr std::uint64_t kDirectoryBytes = 512;
// What a classic TIFF's 32-bit offsets reach, less a margin for libtiff's own padding.
constexpr std::uint64_t kClassicTiffLimit = (std::uint64_t{1} << 32) - (std::uint64_t{1} << 20);

// ImageJ keeps its overlays, labels and display ranges in two private tags of the first directory.
constexpr ttag_t kIjMetadataByteCounts = 50838;
constexpr ttag_t kIjMetadata = 50839;

// The display range each channel opens with in Fiji: a quarter wave, half a turn, 0..1, 0..100 %.
std::array<double, 2 * kChannels> displayRanges(double wavelengthNm) {
    return {0.0, wavelengthNm / 4.0, 0.0, 180.0, 0.0, 1.0, 0.0, 100.0};
}

// libtiff's complaints, kept per file instead of printed.
int keepMessage(TIFF*, void* user, const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    *static_cast<std::string*>(user) = std::string(module ? module : "libtiff") + ": " + text;
    return 1;
}
int ignoreWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// ImageJ's description: the hyperstack's shape and its calibration.
std::string imageJDescription(std::int64_t frames, double frameIntervalS) {
    std::ostringstream text;
    text.precision(17);
    text << "ImageJ=1.11a\nimages=" << frames * kChannels << "\nchannels=" << kChannels << '\n';
    if (frames > 1) {
        text << "frames=" << frames << '\n';
    }
    text << "hyperstack=true\nmode=grayscale\nunit=micron\n";
    if (frames > 1 && frameIntervalS > 0) {
        text << "finterval=" << frameIntervalS << '\n';
    }
    text << "loop=false\n";
    return text.str();
}

// The settings as JSON, ASCII only so that it passes through ImageJ's UTF-16 as it is.
std::string settingsJson(const QuantityTiffSettings& s, std::int64_t frames, double frameIntervalS) {
    nlohmann::ordered_json doc;
    doc["program"] = std::string("kestrane ") + kVersion;
    doc["source"] = s.sourceFile;
    nlohmann::ordered_json channels = nlohmann::ordered_json::array();
    for (const QuantityChannel& c : kQuantityChannels) {
        channels.push_back({{"name", c.name}, {"unit", c.unit}});
    }
    channels[0]["note"] = "ambiguous beyond a quarter wave: given within 0..wavelength/4";
    doc["channels"] = std::move(channels);
    doc["wavelength_nm"] = s.wavelengthNm;
    doc["objective"] = s.objective;
    doc["pixel_size_um"] = s.pixelSizeUm;
    if (s.flatField) {
        doc["flat_field"] = {{"path", s.flatField->path}, {"modified", s.flatField->modified}};
    } else {
        doc["flat_field"] = nullptr;
    }
    doc["frames"] = frames;
    doc["frame_interval_s"] = frameIntervalS > 0 ? nlohmann::ordered_json(frameIntervalS) : nullptr;
    if (!s.frameTimesS.empty()) {
        doc["frame_times_s"] = s.frameTimesS;
    }
    return doc.dump(1, ' ', true);
}

// ImageJ's metadata block in the file's (native) byte order: the header with each kind and its count, then
// the info text, one label per plane and the display ranges; `counts` gets the size of each part.
std::vector<std::uint8_t> imageJMetadata(const std::string& info, std::int64_t frames, double wavelengthNm,
                                         std::vector<std::uint32_t>& counts) {
    std::vector<std::uint8_t> bytes;
    const auto put = [&bytes](const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
    };
    const auto put32 = [&put](std::uint32_t value) { put(&value, sizeof value); };
    // UTF-16 of an ASCII text.
    const auto putText = [&put](const std::string& text) {
        for (const char c : text) {
            const auto unit = static_cast<char16_t>(static_cast<unsigned char>(c));
            put(&unit, sizeof unit);
        }
    };
    const auto planes = static_cast<std::uint32_t>(frames * kChannels);
    put32(0x494a494a); // "IJIJ"
    put32(0x696e666f); // "info"
    put32(1);
    put32(0x6c61626c); // "labl"
    put32(planes);
    put32(0x72616e67); // "rang"
    put32(1);
    counts = {static_cast<std::uint32_t>(bytes.size())};
    std::size_t start = bytes.size();
    const auto close = [&] {
        counts.push_back(static_cast<std::uint32_t>(bytes.size() - start));
        start = bytes.size();
    };
    putText(info);
    close();
    for (std::uint32_t plane = 0; plane < planes; ++plane) {
        putText(kQuantityChannels[plane % kChannels].label);
        close();
    }
    const auto ranges = displayRanges(wavelengthNm);
    put(ranges.data(), sizeof ranges);
    close();
    return bytes;
}

// The tags every plane has: a 320 x 240 float image in one uncompressed strip, calibrated in microns.
bool setPlaneTags(TIFF* tif, double pixelSizeUm) {
    const double perMicron = 1.0 / pixelSizeUm;
    return TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0) == 1 &&
           TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(kMapWidth)) == 1 &&
           TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(kMapHeight)) == 1 &&
           TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32) == 1 &&
           TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP) == 1 &&
           TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
           TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(kMapHeight)) == 1 &&
           TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) == 1 &&
           TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
           TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == 1 &&
           TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
           // ImageJ reads the pixel size from the resolution and its unit from the description.
           TIFFSetField(tif, TIFFTAG_XRESOLUTION, perMicron) == 1 &&
           TIFFSetField(tif, TIFFTAG_YRESOLUTION, perMicron) == 1 &&
           TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE) == 1;
}

} // namespace

bool quantityTiffNeedsBigTiff(std::int64_t frames, std::uint64_t metadataBytes) {
    const auto planes = static_cast<std::uint64_t>(frames) * kChannels;
    return planes * (kPlaneBytes + kDirectoryBytes) + metadataBytes > kClassicTiffLimit;
}

QuantityTiffWriter::~QuantityTiffWriter() {
    close();
}

bool QuantityTiffWriter::fail(const std::string& why) {
    if (error_.empty()) {
        error_ = "cannot write '" + path_ + "': " + why +
                 (libtiffMessage_.empty() ? std::string() : " (" + libtiffMessage_ + ")");
    }
    close();
    return false;
}

void QuantityTiffWriter::close() {
    if (tiff_ != nullptr) {
        TIFFClose(std::exchange(tiff_, nullptr));
    }
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
    }
}

bool QuantityTiffWriter::open(const std::string& path, const QuantityTiffSettings& settings,
                              std::int64_t frameCount, double frameIntervalS) {
    close();
    path_ = path;
    error_.clear();
    libtiffMessage_.clear();
    frames_ = frameCount;
    appended_ = 0;
    directories_.clear();
    if (frameCount < 1 || frameCount > INT32_MAX / kChannels || !(settings.pixelSizeUm > 0)) {
        return fail("no frames to write or no pixel size");
    }
    const std::string description = imageJDescription(frameCount, frameIntervalS);
    std::vector<std::uint32_t> counts;
    const std::vector<std::uint8_t> metadata = imageJMetadata(
        settingsJson(settings, frameCount, frameIntervalS), frameCount, settings.wavelengthNm, counts);
    const bool big =
        settings.bigTiff ||
        quantityTiffNeedsBigTiff(frameCount, description.size() + metadata.size() + counts.size() * 4);

    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    // libtiff closes the descriptor it is given; this one stays ours, so that the close reports late errors.
    const int tiffFd = fd_ < 0 ? -1 : ::dup(fd_);
    if (tiffFd < 0) {
        return fail(std::strerror(errno));
    }
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepMessage, &libtiffMessage_);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreWarning, nullptr);
    tiff_ = TIFFFdOpenExt(tiffFd, path.c_str(), big ? "w8" : "w", options);
    TIFFOpenOptionsFree(options);
    if (tiff_ == nullptr) {
        ::close(tiffFd);
        return fail("libtiff cannot open it");
    }
    static const TIFFFieldInfo kImageJFields[] = {{kIjMetadataByteCounts, TIFF_VARIABLE2, TIFF_VARIABLE2,
                                                   TIFF_LONG, FIELD_CUSTOM, 1, 1,
                                                   const_cast<char*>("IJMetadataByteCounts")},
                                                  {kIjMetadata, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE,
                                                   FIELD_CUSTOM, 1, 1, const_cast<char*>("IJMetadata")}};
    if (TIFFMergeFieldInfo(tiff_, kImageJFields, 2) != 0) {
        return fail("libtiff does not take ImageJ's tags");
    }

    // Every directory first, their pixel positions left open: the pixels then follow in one block.
    const std::int64_t planes = frameCount * kChannels;
    for (std::int64_t plane = 0; plane < planes; ++plane) {
        bool tagged = setPlaneTags(tiff_, settings.pixelSizeUm);
        if (plane == 0) {
            const std::string software = std::string("kestrane ") + kVersion;
            tagged = tagged && TIFFSetField(tiff_, TIFFTAG_IMAGEDESCRIPTION, description.c_str()) == 1 &&
                     TIFFSetField(tiff_, TIFFTAG_SOFTWARE, software.c_str()) == 1 &&
                     TIFFSetField(tiff_, kIjMetadataByteCounts, static_cast<std::uint32_t>(counts.size()),
                                  counts.data()) == 1 &&
                     TIFFSetField(tiff_, kIjMetadata, static_cast<std::uint32_t>(metadata.size()),
                                  metadata.data()) == 1;
        }
        if (!tagged || TIFFDeferStrileArrayWriting(tiff_) != 1 ||
            TIFFWriteCheck(tiff_, 0, "QuantityTiff") != 1 || TIFFWriteDirectory(tiff_) != 1) {
            return fail("the directories cannot be written");
        }
    }
    // Where each directory landed, read back in one pass along their chain.
    directories_.reserve(static_cast<std::size_t>(planes));
    if (TIFFSetDirectory(tiff_, 0) == 1) {
        do {
            directories_.push_back(TIFFCurrentDirOffset(tiff_));
        } while (static_cast<std::int64_t>(directories_.size()) < planes && TIFFReadDirectory(tiff_) == 1);
    }
    if (static_cast<std::int64_t>(directories_.size()) != planes) {
        return fail("the directories cannot be read back");
    }
    return true;
}

bool QuantityTiffWriter::append(const QuantityMaps& maps) {
    if (tiff_ == nullptr) {
        return fail("the file is not open");
    }
    if (appended_ >= frames_) {
        return fail("more frames than announced");
    }
    const std::vector<float>* channels[kChannels] = {&maps.retardanceNm, &maps.orientationDeg, &maps.sinD,
                                                     &maps.transmissionPct};
    for (int c = 0; c < kChannels; ++c) {
        if (channels[c]->size() != kPlaneBytes / sizeof(float)) {
            return fail("a map is not 320 x 240");
        }
        // The file is in this machine's byte order, so the floats go out as they are, in one write.
        const std::uint64_t directory = directories_[static_cast<std::size_t>(appended_ * kChannels + c)];
        auto* data = const_cast<float*>(channels[c]->data());
        errno = 0;
        if (TIFFSetSubDirectory(tiff_, directory) != 1 ||
            TIFFWriteRawStrip(tiff_, 0, data, static_cast<tmsize_t>(kPlaneBytes)) !=
                static_cast<tmsize_t>(kPlaneBytes) ||
            TIFFForceStrileArrayWriting(tiff_) != 1) {
            return fail(errno != 0 ? std::strerror(errno) : "a plane cannot be written");
        }
    }
    ++appended_;
    return true;
}

bool QuantityTiffWriter::finish(bool syncToDisk) {
    if (tiff_ == nullptr) {
        return fail("the file is not open");
    }
    if (appended_ != frames_) {
        return fail(std::to_string(appended_) + " of " + std::to_string(frames_) + " frames written");
    }
    if (TIFFFlush(tiff_) != 1) {
        return fail("the last directory cannot be written");
    }
    TIFFClose(std::exchange(tiff_, nullptr));
    // Late write errors (a full disk on some file systems) show at the sync or the close.
    const bool synced = !syncToDisk || ::fsync(fd_) == 0;
    const int why = synced ? 0 : errno;
    if (::close(std::exchange(fd_, -1)) != 0 || !synced) {
        return fail(std::strerror(why != 0 ? why : errno));
    }
    return true;
}

bool writeQuantityTiff(const std::string& path, const QuantityMaps& maps,
                       const QuantityTiffSettings& settings, std::string& error) {
    const std::string temporary = path + ".tmp-" + std::to_string(::getpid());
    QuantityTiffWriter writer;
    bool written = writer.open(temporary, settings, 1, 0) && writer.append(maps) && writer.finish(true);
    if (written && std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        written = false;
    } else if (!written) {
        error = writer.error();
    }
    if (!written) {
        std::remove(temporary.c_str());
    }
    return written;
}

} // namespace kestrane
