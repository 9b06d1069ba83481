// kestrane-analyse --trace: continuous playback of a movie without a window, sampled over one region.
#include "review/TraceCommand.h"

#include "analysis/MeasurementState.h"
#include "recording/AviFrames.h"
#include "recording/CommandOptions.h"
#include "review/FrameSource.h"
#include "review/MovieViewer.h"
#include "review/PixelTrace.h"

#include <ostream>
#include <stdexcept>

namespace kestrane {

namespace {

struct TraceOptions {
    PickRectangle region;
    TraceQuantity quantity = TraceQuantity::SinD;
    int maxSinPosition = 5;
    bool offlineMovie = true;
    std::string movie;
    std::string out;
};

// An edge of the region: a whole number, negative when the region reaches left of or above the picture.
std::int32_t parseEdge(const std::string& text, const std::string& whole) {
    std::int64_t v = 0;
    if (!plainWholeNumber(text, true, INT32_MIN, INT32_MAX, v)) {
        throw CommandError("kestrane-analyse: --trace needs four whole numbers LEFT,TOP,RIGHT,BOTTOM, not '" +
                           whole + "'");
    }
    return static_cast<std::int32_t>(v);
}

PickRectangle parseRegion(const std::string& text) {
    std::int32_t edges[4] = {};
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = i < 3 ? text.find(',', start) : text.size();
        if (comma == std::string::npos) {
            parseEdge("", text);
        }
        edges[i] = parseEdge(text.substr(start, comma - start), text);
        start = comma + 1;
    }
    return PickRectangle{edges[0], edges[1], edges[2], edges[3]};
}

TraceOptions parseTraceOptions(const std::vector<std::string>& args) {
    static const std::pair<const char*, TraceQuantity> kQuantities[] = {
        {"sind", TraceQuantity::SinD},
        {"extinction", TraceQuantity::Extinction},
        {"transmission", TraceQuantity::Transmission}};
    static const std::pair<const char*, bool> kTimeSteps[] = {{"0.035", true}, {"0.1", false}};

    TraceOptions o;
    bool haveRegion = false;
    const CommandArguments split = splitArguments(args);
    for (const std::string& a : split.options) {
        std::string v;
        if (optionValue(a, "--trace", v)) {
            o.region = parseRegion(v);
            haveRegion = true;
        } else if (optionValue(a, "--quantity", v)) {
            o.quantity = chooseOption(v, "--quantity", kQuantities);
        } else if (optionValue(a, "--maxsin", v)) {
            o.maxSinPosition = maxSinPosition(v);
        } else if (optionValue(a, "--timestep", v)) {
            o.offlineMovie = chooseOption(v, "--timestep", kTimeSteps);
        } else {
            throw CommandError("kestrane-analyse: unknown option '" + a + "' with --trace; " + kTraceUsage);
        }
    }
    if (!haveRegion) {
        throw CommandError(std::string("kestrane-analyse: --trace=LEFT,TOP,RIGHT,BOTTOM is missing; ") +
                           kTraceUsage);
    }
    if (split.files.size() != 2) {
        throw fileCountError(split.files.size(), "a movie and a CSV file", kTraceUsage);
    }
    o.movie = split.files[0];
    o.out = split.files[1];
    return o;
}

} // namespace

bool isTraceCommand(const std::vector<std::string>& args) {
    for (const std::string& a : splitArguments(args).options) {
        if (a == "--trace" || a.rfind("--trace=", 0) == 0) {
            return true;
        }
    }
    return false;
}

int runTraceCommand(const std::vector<std::string>& args, std::ostream& err) {
    try {
        const TraceOptions o = parseTraceOptions(args);
        CommandInputs inputs;
        inputs.add(o.movie, "movie");
        inputs.refuseAsOutput(o.out);
        AviFrameReader reader;
        openCommandMovie(reader, o.movie, err);

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
        const std::string csv = traceCsv(trace.points());
        writeOutputFile(o.out, std::vector<std::uint8_t>(csv.begin(), csv.end()));
        return 0;
    } catch (const CommandError& e) {
        err << e.what() << '\n';
    } catch (const std::exception& e) {
        err << "kestrane-analyse: " << e.what() << '\n';
    }
    return 2;
}

} // namespace kestrane
