// kestrane-analyse --clip: the result clip of a recorded movie, written headless as "Work Offline" and a clip
// button write it in the window.
#include "cli/Commands.h"

#include "analysis/FrameAnalysis.h"
#include "analysis/Legends.h"
#include "analysis/MapRendering.h"
#include "analysis/MeasurementState.h"
#include "recording/AviFrames.h"
#include "recording/ClipRecorder.h"
#include "review/FrameSource.h"
#include "ui/ImageConversion.h"

#include <QGuiApplication>
#include <memory>
#include <ostream>

namespace kestrane {

namespace {

struct ClipOptions {
    MapKind kind = MapKind::SinD;
    AnalysisOptions analysis;
    int objective = 4;
    bool objectiveGiven = false; // --objective says otherwise than the movie's settings file
    std::string movie;
    std::string clip;
};

ClipOptions parseClipOptions(const std::vector<std::string>& args) {
    static const std::pair<const char*, int> kObjectives[] = {{"4", 4}, {"10", 10}, {"40", 40}};
    ClipOptions o;
    CommandSyntax syntax{analysisRules(o.analysis), "a movie and a clip file", kClipUsage};
    syntax.options.push_back({"--clip", true, readMapKind(o.kind)});
    syntax.options.push_back(
        {"--objective", true,
         [&o, objective = readChoice(o.objective, kObjectives)](const char* option, const std::string& text) {
             objective(option, text);
             o.objectiveGiven = true;
         }});
    const auto [movie, clip] = parseCommandLine(args, syntax);
    o.movie = movie;
    o.clip = clip;
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
        QImage picture = legendArtwork(options.kind);
        const MeasurementState& state = measurementState();
        paintLegend(picture, options.kind, LegendSettings{&state.tables, state.MaxSin, options.objective});
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
        case MapKind::Extinction:
            renderExtinction(state, map_);
            break;
        case MapKind::Transmission:
            renderTransmission(state, map_);
            break;
        case MapKind::SinD:
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

// The legend's scale bar follows the objective the movie was recorded with, unless --objective names one.
void takeObjective(ClipOptions& options, std::ostream& err) {
    if (options.objectiveGiven) {
        return;
    }
    const std::optional<RecordedSettings> settings = readMovieSettings(options.movie, err);
    if (settings && settings->objective) {
        options.objective = *settings->objective;
        reportTakenSettings(options.movie, {"objective " + std::to_string(options.objective)}, err);
    }
}

int writeClip(ClipOptions options, std::ostream& err) {
    CommandInputs inputs;
    inputs.add(options.movie, "movie");
    inputs.add(options.analysis.flatField, "flat field");
    inputs.refuseAsOutput(options.clip);
    applyAnalysisOptions(options.analysis);
    AviFrameReader reader;
    openCommandMovie(reader, options.movie, err);
    requireCameraFrameSize(reader.width(), reader.height(), "movie '" + options.movie + "'",
                           options.analysis.anySize);
    takeObjective(options, err);

    const std::unique_ptr<QGuiApplication> app = ensureGuiApplication();
    AviFrameSource source(reader);
    MovieClipFrames frames(source, options, err);
    // The recorder writes the temporary file; the clip's name is given to it only when it is complete.
    PendingOutput clip(options.clip);
    const RecordingResult result =
        recordAvi(clipPlan(clip.temporaryPath(), true, reader.frameCount()), frames, aviFileCreator());
    if (result.end != RecordingEnd::Finished) {
        throw CommandError("cannot write clip '" + options.clip + "': " + result.reason);
    }
    clip.commit();
    err << "kestrane-analyse: " << result.frames << (result.frames == 1 ? " clip frame" : " clip frames")
        << " written to '" << options.clip << "'\n";
    return 0;
}

} // namespace

int runClipCommand(const std::vector<std::string>& args, std::ostream& err) {
    return writeClip(parseClipOptions(args), err);
}

} // namespace kestrane
