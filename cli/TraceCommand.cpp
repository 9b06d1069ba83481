// kestrane-analyse --trace: continuous playback of a movie without a window, sampled over one region.
#include "cli/Commands.h"

#include "analysis/MeasurementState.h"
#include "recording/AviFrames.h"
#include "review/FrameSource.h"
#include "review/MovieViewer.h"
#include "review/PixelTrace.h"

#include <algorithm>
#include <optional>
#include <ostream>
#include <stdexcept>

namespace kestrane {

namespace {

struct TraceOptions {
    PickRectangle region;
    MapKind quantity = MapKind::SinD;
    int maxSinPosition = 5;
    bool offlineMovie = true;
    bool timeStepGiven = false; // --timestep says otherwise than the movie's frame times
    std::string movie;
    std::string out;
};

PickRectangle parseRegion(const std::string& text) {
    const std::array<std::int32_t, 4> edges = readRegionEdges("--trace", text);
    return PickRectangle{edges[0], edges[1], edges[2], edges[3]};
}

TraceOptions parseTraceOptions(const std::vector<std::string>& args) {
    static const std::pair<const char*, bool> kTimeSteps[] = {{"0.035", true}, {"0.1", false}};
    TraceOptions o;
    const CommandSyntax syntax{
        {{"--trace", true, [&o](const char*, const std::string& text) { o.region = parseRegion(text); }},
         {"--quantity", true, readMapKind(o.quantity)},
         maxSinRule(o.maxSinPosition),
         {"--timestep", true,
          [&o, step = readChoice(o.offlineMovie, kTimeSteps)](const char* option, const std::string& text) {
              step(option, text);
              o.timeStepGiven = true;
          }}},
        "a movie and a CSV file",
        kTraceUsage};
    const auto [movie, out] = parseCommandLine(args, syntax);
    o.movie = movie;
    o.out = out;
    return o;
}

// With the movie's own frame times, each point is at the time its frame was taken (seconds since the first
// frame) rather than at a step counted from the frame's place; only times for every frame are taken.
void takeFrameTimes(const TraceOptions& o, std::int32_t frameCount, std::vector<TracePoint>& points,
                    std::ostream& err) {
    if (o.timeStepGiven) {
        return;
    }
    const std::optional<RecordedSettings> settings = readMovieSettings(o.movie, err);
    if (!settings || settings->frameTimesS.size() < static_cast<std::size_t>(std::max(frameCount, 0)) ||
        settings->frameTimesS.empty()) {
        return;
    }
    for (TracePoint& p : points) {
        if (p.frame >= 0 && static_cast<std::size_t>(p.frame) < settings->frameTimesS.size()) {
            p.time = static_cast<Extended>(settings->frameTimesS[static_cast<std::size_t>(p.frame)]);
        }
    }
    reportTakenSettings(o.movie, {"frame times (" + std::to_string(settings->frameTimesS.size()) + ")"}, err);
}

} // namespace

int runTraceCommand(const std::vector<std::string>& args, std::ostream& err) {
    {
        const TraceOptions o = parseTraceOptions(args);
        CommandInputs inputs;
        inputs.add(o.movie, "movie");
        inputs.refuseAsOutput(o.out);
        AviFrameReader reader;
        openCommandMovie(reader, o.movie, err);
        // The source takes the reader over; the count is the file's.
        const std::int32_t frameCount = reader.frameCount();

        const MeasurementState& state = measurementState();
        // The same extended values the window computes from its controls.
        const Extended maxSin = static_cast<Extended>(o.maxSinPosition) / 5.0L;
        const TraceSettings settings{o.offlineMovie ? state.OfflineFrameSeconds : state.ClipFrameSeconds,
                                     traceScale(o.quantity, maxSin)};
        AviFrameSource source(reader);
        MovieViewer viewer(source);
        viewer.opened();
        PixelTrace trace;
        for (;;) {
            const ReviewStep step = viewer.playTick([] {});
            if (!step.traced) {
                break;
            }
            trace.step(source.frame(), o.region, source.frameIndex(), step.shownFrame, settings);
        }
        std::vector<TracePoint> points = trace.points();
        takeFrameTimes(o, frameCount, points, err);
        const std::string csv = traceCsv(points);
        writeOutputFile(o.out, std::vector<std::uint8_t>(csv.begin(), csv.end()));
        return 0;
    }
}

} // namespace kestrane
