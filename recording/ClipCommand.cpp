// kestrane-analyse --clip: the result clip of a recorded movie, written headless as "Work Offline" and a clip
// button write it in the window.
#include "recording/ClipCommand.h"

#include "analysis/FlatField.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/Legends.h"
#include "analysis/MapRendering.h"
#include "analysis/MeasurementState.h"
#include "app/ImageConversion.h"
#include "recording/AviFrames.h"
#include "recording/ClipRecorder.h"
#include "recording/CommandOptions.h"
#include "review/FrameSource.h"

#include <QGuiApplication>
#include <algorithm>
#include <memory>
#include <ostream>

namespace kestrane {

namespace {

struct ClipOptions {
    std::int32_t kind = 1;
    int maxSinPosition = 5;
    int sinDLimit = 15;
    int objective = 4;
    bool anySize = false;
    std::string flatField;
    std::string movie;
    std::string clip;
};

ClipOptions parseClipOptions(const std::vector<std::string>& args) {
    static const std::pair<const char*, std::int32_t> kKinds[] = {
        {"sind", 1}, {"extinction", 2}, {"transmission", 3}};
    static const std::pair<const char*, int> kObjectives[] = {{"4", 4}, {"10", 10}, {"40", 40}};
    ClipOptions o;
    const CommandArguments split = splitArguments(args);
    bool kindGiven = false;
    for (const std::string& a : split.options) {
        std::string v;
        if (optionValue(a, "--clip", v)) {
            o.kind = chooseOption(v, "--clip", kKinds);
            kindGiven = true;
        } else if (optionValue(a, "--maxsin", v)) {
            o.maxSinPosition = maxSinPosition(v);
        } else if (optionValue(a, "--sindlimit", v)) {
            o.sinDLimit = sinDLimitOption(v);
        } else if (optionValue(a, "--objective", v)) {
            o.objective = chooseOption(v, "--objective", kObjectives);
        } else if (optionValue(a, "--flatfield", v)) {
            o.flatField = v;
        } else if (a == "--any-size") {
            o.anySize = true;
        } else {
            throw CommandError("kestrane-analyse: unknown option '" + a + "'; " + kClipUsage);
        }
    }
    if (!kindGiven) {
        throw CommandError(std::string("kestrane-analyse: --clip=KIND is missing; ") + kClipUsage);
    }
    if (split.files.size() != 2) {
        throw fileCountError(split.files.size(), "a movie and a clip file", kClipUsage);
    }
    o.movie = split.files[0];
    o.clip = split.files[1];
    return o;
}

QtMessageHandler qtMessages = nullptr;

// Outside a desktop session (cron, CI, a root shell) Qt warns that there is no runtime directory and uses a
// default; the tool needs none, and its stderr carries its own progress and errors only.
void quietRuntimeDirectory(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg &&
        message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) {
        return;
    }
    qtMessages(type, context, message);
}

// Legends are painted with Qt's fonts, which need a GUI application; a headless one is made when none runs.
std::unique_ptr<QGuiApplication> ensureGuiApplication() {
    if (QCoreApplication::instance() != nullptr) {
        return nullptr;
    }
    if (qtMessages == nullptr) {
        qtMessages = qInstallMessageHandler(quietRuntimeDirectory);
    }
    // Headless always, whatever platform the environment names for windows.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "kestrane-analyse";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

// The frames the window's offline clip takes, stepped as the window steps its reader.
class MovieClipFrames : public RecordingFrames {
  public:
    MovieClipFrames(AviFrameSource& source, const ClipOptions& options, std::ostream& err)
        : source_(source), options_(options), err_(err) {
        const LegendKind kinds[] = {LegendKind::SinD, LegendKind::Extinction, LegendKind::Transmission};
        const LegendKind kind = kinds[options.kind - 1];
        QImage picture = legendArtwork(kind);
        const MeasurementState& state = measurementState();
        paintLegend(picture, kind, LegendSettings{&state.tables, state.MaxSin, options.objective});
        copyToBitmap(picture, legend_);
    }

    void formatPicture(Bitmap& picture) override { composeClipFrame(map_, legend_, picture); }

    bool makeFrame(std::int64_t i, Bitmap& picture) override {
        if (i > 0 && i % 100 == 0) {
            err_ << "kestrane-analyse: " << i << " clip frames written\n";
        }
        const std::int32_t handedOut = source_.frameIndex();
        if (!source_.step()) {
            err_ << "kestrane-analyse: frame " << handedOut << " of '" << options_.movie
                 << "' cannot be read; analysed as black\n";
        }
        Bitmap& frame = source_.bitmap();
        MeasurementState& state = measurementState();
        state.FramePixels = BmpToArray(frame);
        analyseFrame(frame.view(), state);
        state.FramePixels = nullptr;
        switch (options_.kind) {
        case 2:
            renderExtinction(state, map_);
            break;
        case 3:
            renderTransmission(state, map_);
            break;
        default:
            renderSinD(state, map_);
            break;
        }
        composeClipFrame(map_, legend_, picture);
        return true;
    }

    std::int32_t readerIndex() const override { return source_.frameIndex(); }

  private:
    AviFrameSource& source_;
    const ClipOptions& options_;
    std::ostream& err_;
    Bitmap map_;
    Bitmap legend_;
};

int writeClip(const ClipOptions& options, std::ostream& err) {
    CommandInputs inputs;
    inputs.add(options.movie, "movie");
    inputs.add(options.flatField, "flat field");
    inputs.refuseAsOutput(options.clip);
    MeasurementState& state = measurementState();
    state.MaxSin = static_cast<Extended>(options.maxSinPosition) / 5.0L;
    state.SinDLimit = options.sinDLimit;
    buildTables(state.tables);
    std::string why;
    if (!options.flatField.empty() && !useFlatFieldFile(options.flatField, state, why)) {
        throw CommandError("kestrane-analyse: " + why);
    }
    AviFrameReader reader;
    openCommandMovie(reader, options.movie, err);
    requireCameraFrameSize(reader.width(), reader.height(), "movie '" + options.movie + "'", options.anySize);

    const std::unique_ptr<QGuiApplication> app = ensureGuiApplication();
    AviFrameSource source(reader);
    MovieClipFrames frames(source, options, err);
    // The recorder writes the temporary file; the clip's name is given to it only when it is complete.
    PendingOutput clip(options.clip);
    const RecordingResult result =
        recordAvi(clipPlan(clip.temporaryPath(), true, reader.frameCount()), frames, aviFileCreator());
    if (result.end != RecordingEnd::Finished) {
        throw CommandError("kestrane-analyse: cannot write clip '" + options.clip + "': " + result.reason);
    }
    clip.commit();
    err << "kestrane-analyse: " << result.frames << (result.frames == 1 ? " clip frame" : " clip frames")
        << " written to '" << options.clip << "'\n";
    return 0;
}

} // namespace

bool isClipCommand(const std::vector<std::string>& args) {
    const std::vector<std::string> options = splitArguments(args).options;
    return std::any_of(options.begin(), options.end(),
                       [](const std::string& a) { return a.rfind("--clip", 0) == 0; });
}

int runClipCommand(const std::vector<std::string>& args, std::ostream& err) {
    try {
        return writeClip(parseClipOptions(args), err);
    } catch (const CommandError& e) {
        err << e.what() << '\n';
    } catch (const std::exception& e) {
        err << "kestrane-analyse: " << e.what() << '\n';
    }
    return 2;
}

} // namespace kestrane
