// kestrane-analyse --trace: continuous playback of a movie without a window, sampled over one region.
#include "review/TraceCommand.h"

#include "analysis/MeasurementState.h"
#include "imaging/Bmp.h"
#include "recording/AviFrames.h"
#include "recording/CommandOptions.h"
#include "review/MovieViewer.h"
#include "review/PixelTrace.h"

#include <cstdio>
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

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

std::int32_t parseEdge(const std::string& text, const std::string& whole) {
    std::size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size() || v < INT32_MIN || v > INT32_MAX) {
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
    std::vector<std::string> positional;
    for (const std::string& a : args) {
        if (startsWith(a, "--trace=")) {
            o.region = parseRegion(a.substr(8));
            haveRegion = true;
        } else if (startsWith(a, "--quantity=")) {
            o.quantity = chooseOption(a.substr(11), "--quantity", kQuantities);
        } else if (startsWith(a, "--maxsin=")) {
            o.maxSinPosition = maxSinPosition(a.substr(9));
        } else if (startsWith(a, "--timestep=")) {
            o.offlineMovie = chooseOption(a.substr(11), "--timestep", kTimeSteps);
        } else if (startsWith(a, "-") && a.size() > 1) {
            throw CommandError("kestrane-analyse: unknown option '" + a + "' with --trace; " + kTraceUsage);
        } else {
            positional.push_back(a);
        }
    }
    if (!haveRegion || positional.size() != 2) {
        throw CommandError(kTraceUsage);
    }
    o.movie = positional[0];
    o.out = positional[1];
    return o;
}

} // namespace

bool isTraceCommand(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--trace" || startsWith(a, "--trace=")) {
            return true;
        }
    }
    return false;
}

int runTraceCommand(const std::vector<std::string>& args, std::ostream& err) {
    try {
        const TraceOptions o = parseTraceOptions(args);
        AviFrameReader reader;
        if (const AviResult opened = reader.open(o.movie); opened != kAviOk) {
            char code[16];
            std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(opened));
            throw CommandError("kestrane-analyse: cannot read movie '" + o.movie + "' (AVI error " + code +
                               ")");
        }
        if (reader.frameCount() <= 0) {
            // The window's plot cannot span a movie without frames either.
            throw CommandError("kestrane-analyse: movie '" + o.movie + "' has no frames");
        }

        const MeasurementState& state = measurementState();
        // The same extended values the window computes from its controls.
        const Extended maxSin = static_cast<Extended>(o.maxSinPosition) / 5.0L;
        const TraceSettings settings{o.offlineMovie ? state.OfflineFrameSeconds : state.ClipFrameSeconds,
                                     traceScale(o.quantity, maxSin)};
        AviReviewSource source(reader);
        MovieViewer viewer(source);
        viewer.opened();
        PixelTrace trace;
        for (;;) {
            const ReviewStep step = viewer.playTick([] {});
            if (!step.traced) {
                break;
            }
            trace.step(source.frame().view(), o.region, source.frameIndex(), step.shownFrame, settings);
        }
        std::string error;
        const std::string csv = traceCsv(trace.points());
        if (!writeFileReplacing(o.out, std::vector<std::uint8_t>(csv.begin(), csv.end()), error)) {
            throw CommandError("kestrane-analyse: " + error);
        }
        return 0;
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return 2;
    }
}

} // namespace kestrane
