// kestrane-analyse --format=tiff: the four quantities of a frame, or of every frame of a movie, as one
// calibrated float TIFF with the settings they were computed with.
#include "cli/Commands.h"

#include "analysis/MeasurementState.h"
#include "analysis/Quantities.h"
#include "cli/FramePipeline.h"
#include "recording/QuantityTiff.h"

#include <filesystem>
#include <optional>
#include <ostream>

namespace kestrane {

namespace {

// The time between frames: the mean step of the recorded frame times when there are times for every frame,
// else the movie's own frame period.
double frameInterval(const std::vector<double>& times, std::int32_t frames, const AviStreamInfo& stream) {
    if (frames >= 2 && times.size() >= static_cast<std::size_t>(frames)) {
        const double step = (times[static_cast<std::size_t>(frames) - 1] - times[0]) / (frames - 1);
        if (step > 0) {
            return step;
        }
    }
    return stream.dwRate > 0 ? static_cast<double>(stream.dwScale) / stream.dwRate : 0.0;
}

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path whole = std::filesystem::absolute(path, ec);
    return ec ? path : whole.lexically_normal().string();
}

} // namespace

void writeQuantityStack(const QuantityStackJob& job, std::ostream& err) {
    std::optional<RecordedSettings> recorded;
    if (job.movie != nullptr) {
        recorded = readMovieSettings(job.input, err);
    }
    std::vector<std::string> taken;
    const QuantityCalibration calibration = resolveCalibration(job.quantities, recorded, taken);
    QuantityTiffSettings settings;
    settings.sourceFile = absolutePath(job.input);
    settings.wavelengthNm = calibration.wavelengthNm;
    settings.objective = calibration.objective;
    settings.pixelSizeUm = calibration.pixelSizeUm;
    if (!job.flatField.empty()) {
        settings.flatField = flatFieldFileOf(absolutePath(job.flatField));
    }

    const std::int32_t count = job.movie != nullptr ? job.movie->frameCount() : 1;
    double interval = 0;
    if (job.movie != nullptr) {
        // Times for fewer frames than the movie holds belong to another recording of that name.
        if (recorded && !recorded->frameTimesS.empty() &&
            recorded->frameTimesS.size() >= static_cast<std::size_t>(count)) {
            settings.frameTimesS.assign(recorded->frameTimesS.begin(), recorded->frameTimesS.begin() + count);
            taken.push_back("frame times (" + std::to_string(count) + ")");
        }
        interval = frameInterval(settings.frameTimesS, count, job.movie->streamInfo());
        reportTakenSettings(job.input, taken, err);
    }

    PendingOutput out(job.output);
    QuantityTiffWriter writer;
    if (!writer.open(out.temporaryPath(), settings, count, interval)) {
        throw CommandError(writer.error());
    }
    if (job.movie == nullptr) {
        QuantityMaps maps;
        computeQuantities(job.frame->view(), measurementState(), calibration.wavelengthNm, maps);
        if (!writer.append(maps)) {
            throw CommandError(writer.error());
        }
    } else {
        // Frames are computed on the other processors while this thread writes them in frame order: writing
        // 1.2 MB a frame takes the file system longer than computing it does.
        const MeasurementState& state = measurementState();
        analyseMovieFrames<QuantityMaps>(
            *job.movie, job.input, err,
            [&](const FrameView& frame, QuantityMaps& maps) {
                computeQuantities(frame, state, calibration.wavelengthNm, maps);
            },
            [&](std::int32_t, const QuantityMaps& maps) {
                if (!writer.append(maps)) {
                    throw CommandError(writer.error());
                }
            },
            PipelineLoad::kWrite);
    }
    if (!writer.finish()) {
        throw CommandError(writer.error());
    }
    out.commit();
}

} // namespace kestrane
