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
#include <sys/uio.h>
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

bool readExactly(int fd, void* data, std::size_t size, std::uint64_t at) {
    return ::pread(fd, data, size, static_cast<off_t>(at)) == static_cast<ssize_t>(size);
}

std::uint64_t littleEndian(const std::uint8_t* bytes, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

// Reads the directory at `at` of a little-endian file (BigTIFF when `big`) for its two strip entries, which
// libtiff writes empty (no type, no count) when their writing is deferred; false when they are not there so.
bool findStrip(int fd, std::uint64_t at, bool big, QuantityTiffStrip& found) {
    const int countSize = big ? 8 : 2;
    const int entrySize = big ? 20 : 12;
    std::uint8_t head[8] = {};
    if (!readExactly(fd, head, static_cast<std::size_t>(countSize), at)) {
        return false;
    }
    const std::uint64_t entries = littleEndian(head, countSize);
    if (entries == 0 || entries > 100) {
        return false;
    }
    std::vector<std::uint8_t> table(static_cast<std::size_t>(entries) * static_cast<std::size_t>(entrySize));
    if (!readExactly(fd, table.data(), table.size(), at + static_cast<std::uint64_t>(countSize))) {
        return false;
    }
    for (std::uint64_t e = 0; e < entries; ++e) {
        const std::uint8_t* entry = table.data() + e * static_cast<std::uint64_t>(entrySize);
        const std::uint64_t tag = littleEndian(entry, 2);
        const std::uint64_t entryAt =
            at + static_cast<std::uint64_t>(countSize) + e * static_cast<std::uint64_t>(entrySize);
        if (tag != TIFFTAG_STRIPOFFSETS && tag != TIFFTAG_STRIPBYTECOUNTS) {
            continue;
        }
        if (littleEndian(entry + 4, big ? 8 : 4) > 1) {
            return false;
        }
        (tag == TIFFTAG_STRIPOFFSETS ? found.offsetEntryAt : found.countEntryAt) = entryAt;
    }
    return found.offsetEntryAt != 0 && found.countEntryAt != 0;
}

// Fills in a strip entry: one value, LONG in a classic TIFF, LONG8 in a BigTIFF.
bool writeStripEntry(int fd, std::uint64_t entryAt, std::uint64_t value, bool big) {
    std::uint8_t entry[20] = {};
    const int countSize = big ? 8 : 4;
    entry[2] = static_cast<std::uint8_t>(big ? TIFF_LONG8 : TIFF_LONG);
    entry[4] = 1; // one value
    for (int i = 0; i < countSize; ++i) {
        entry[4 + countSize + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    // The tag itself (the first two bytes) stays as libtiff wrote it.
    const std::size_t size = static_cast<std::size_t>(2 + 2 * countSize);
    return ::pwrite(fd, entry + 2, size, static_cast<off_t>(entryAt + 2)) == static_cast<ssize_t>(size);
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
    // libtiff's part ends here: the pixels go after the directories in one write per frame, and each
    // directory's strip entries are filled in by `finish`, so that a frame costs no directory round trip.
    TIFFClose(std::exchange(tiff_, nullptr));
    std::uint8_t order[2] = {};
    if (!readExactly(fd_, order, 2, 0) || order[0] != 'I' || order[1] != 'I') {
        return fail("libtiff wrote another byte order than expected");
    }
    strips_.resize(directories_.size());
    for (std::size_t d = 0; d < directories_.size(); ++d) {
        if (!findStrip(fd_, directories_[d], big, strips_[d])) {
            return fail("a directory has no room for its strip");
        }
    }
    bigTiff_ = big;
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) {
        return fail(std::strerror(errno));
    }
    dataStart_ = static_cast<std::uint64_t>(end);
    return true;
}

bool QuantityTiffWriter::append(const QuantityMaps& maps) {
    if (fd_ < 0) {
        return fail("the file is not open");
    }
    if (appended_ >= frames_) {
        return fail("more frames than announced");
    }
    const std::vector<float>* channels[kChannels] = {&maps.retardanceNm, &maps.orientationDeg, &maps.sinD,
                                                     &maps.transmissionPct};
    iovec planes[kChannels];
    for (int c = 0; c < kChannels; ++c) {
        if (channels[c]->size() != kPlaneBytes / sizeof(float)) {
            return fail("a map is not 320 x 240");
        }
        // The file is in this machine's byte order, so the floats go out as they are.
        planes[c] = {const_cast<float*>(channels[c]->data()), kPlaneBytes};
    }
    const std::uint64_t frameBytes = kChannels * kPlaneBytes;
    std::uint64_t at = dataStart_ + static_cast<std::uint64_t>(appended_) * frameBytes;
    std::uint64_t done = 0;
    int first = 0;
    while (done < frameBytes) {
        const ssize_t wrote = ::pwritev(fd_, planes + first, kChannels - first, static_cast<off_t>(at));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return fail(wrote < 0 ? std::strerror(errno) : "the disk takes no more");
        }
        // A short write (a signal, a nearly full disk) goes on where it stopped.
        done += static_cast<std::uint64_t>(wrote);
        at += static_cast<std::uint64_t>(wrote);
        auto left = static_cast<std::uint64_t>(wrote);
        while (first < kChannels && left >= planes[first].iov_len) {
            left -= planes[first].iov_len;
            ++first;
        }
        if (first < kChannels) {
            planes[first].iov_base = static_cast<char*>(planes[first].iov_base) + left;
            planes[first].iov_len -= left;
        }
    }
    ++appended_;
    return true;
}

bool QuantityTiffWriter::finish(bool syncToDisk) {
    if (fd_ < 0) {
        return fail("the file is not open");
    }
    if (appended_ != frames_) {
        return fail(std::to_string(appended_) + " of " + std::to_string(frames_) + " frames written");
    }
    for (std::size_t d = 0; d < strips_.size(); ++d) {
        if (!writeStripEntry(fd_, strips_[d].offsetEntryAt, dataStart_ + d * kPlaneBytes, bigTiff_) ||
            !writeStripEntry(fd_, strips_[d].countEntryAt, kPlaneBytes, bigTiff_)) {
            return fail(std::strerror(errno));
        }
    }
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
