// The headless analysis behind kestrane-analyse: frames from files in, maps as files out.
#include "app/AnalyseCommand.h"

#include "analysis/FlatField.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/MapRendering.h"
#include "analysis/MeasurementState.h"
#include "app/Version.h"
#include "imaging/Bmp.h"
#include "recording/AviFrames.h"
#include "recording/ClipCommand.h"
#include "recording/CommandOptions.h"
#include "review/TraceCommand.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <stdexcept>

namespace kestrane {

namespace {

constexpr const char* kUsage = "usage: kestrane-analyse [--maxsin=0.2|0.4|0.6|0.8|1.0] [--sindlimit=0..40] "
                               "[--flatfield=BACKGROUND.bmp] [--any-size] [--] FRAME.bmp|MOVIE.avi OUTDIR";

struct Options {
    int maxSinPosition = 5;
    int sinDLimit = 15;
    bool anySize = false;
    std::string flatField;
    std::string input;
    std::string outDir;
};

Options parseOptions(const std::vector<std::string>& args) {
    Options o;
    const CommandArguments split = splitArguments(args);
    for (const std::string& a : split.options) {
        if (std::string v; optionValue(a, "--maxsin", v)) {
            o.maxSinPosition = maxSinPosition(v);
        } else if (optionValue(a, "--sindlimit", v)) {
            o.sinDLimit = sinDLimitOption(v);
        } else if (optionValue(a, "--flatfield", v)) {
            o.flatField = v;
        } else if (a == "--any-size") {
            o.anySize = true;
        } else {
            throw CommandError("kestrane-analyse: unknown option '" + a + "'; " + kUsage);
        }
    }
    if (split.files.size() != 2) {
        throw fileCountError(split.files.size(), "an input file and an output folder", kUsage);
    }
    o.input = split.files[0];
    o.outDir = split.files[1];
    return o;
}

// Map element [x][y] shown upright: image row r from the top holds y = 239 − r.
std::vector<std::uint8_t> pgmImage(const ResultMap& map) {
    const std::string header = "P5\n320 240\n255\n";
    std::vector<std::uint8_t> out(header.begin(), header.end());
    out.reserve(header.size() + kMapWidth * kMapHeight);
    for (int r = 0; r < kMapHeight; ++r) {
        for (int x = 0; x < kMapWidth; ++x) {
            out.push_back(map.at(x, kMapHeight - 1 - r));
        }
    }
    return out;
}

// One of the rendered map pictures, as the window shows it without overlays.
void writePicture(const std::filesystem::path& path, void (*render)(const MeasurementState&, Bitmap&),
                  const MeasurementState& state) {
    Bitmap picture;
    render(state, picture);
    writeOutputFile(path.string(), encodeBmp(picture));
}

bool isAviFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[12] = {};
    in.read(head, sizeof head);
    return in.gcount() == 12 && std::string(head, 4) == "RIFF" && std::string(head + 8, 4) == "AVI ";
}

std::string numbered(const char* name, std::int32_t index) {
    char text[64];
    std::snprintf(text, sizeof text, "%s-%05d.pgm", name, static_cast<int>(index));
    return text;
}

// Every frame of a recording, each into its own numbered maps, with progress for long files.
void analyseMovie(AviFrameReader& reader, const std::string& path, const std::filesystem::path& dir,
                  MeasurementState& state, std::ostream& err) {
    Bitmap frame;
    const std::int32_t count = reader.frameCount();
    for (std::int32_t n = 0; n < count; ++n) {
        if (!reader.frame(n, frame)) {
            err << "kestrane-analyse: frame " << n << " of '" << path
                << "' cannot be read; analysed as black\n";
        }
        state.FramePixels = BmpToArray(frame);
        analyseFrame(frame.view(), state);
        writeOutputFile((dir / numbered("sind", n)).string(), pgmImage(state.SinDMap));
        writeOutputFile((dir / numbered("extinction", n)).string(), pgmImage(state.ExtinctionMap));
        writeOutputFile((dir / numbered("transmission", n)).string(), pgmImage(state.TransmissionMap));
        if ((n + 1) % 100 == 0 || n + 1 == count) {
            err << "kestrane-analyse: " << (n + 1) << " of " << count << " frames\n";
        }
    }
}

Bitmap readFrame(const std::string& path, const char* what) {
    Bitmap bitmap;
    std::string error;
    if (!readBmpFile(path, bitmap, error)) {
        throw CommandError(std::string("kestrane-analyse: ") + what + " '" + path + "': " + error);
    }
    return bitmap;
}

constexpr const char* kHelp =
    "Analyses a recorded 640 x 480 frame, or every frame of an AVI recording, as the Kestrane window does,\n"
    "and writes the |sin(delta)|, extinction and transmission maps into OUTDIR (created when missing).\n"
    "\n"
    "  --maxsin=M        full scale of the |sin(delta)| map: 0.2, 0.4, 0.6, 0.8 or 1.0 (default 1.0)\n"
    "  --sindlimit=N     the extinction map shows only where |sin(delta)| exceeds N/255, N 0..40\n"
    "                    (default 15)\n"
    "  --flatfield=BMP   correct uneven illumination with this 640 x 480 background frame\n"
    "  --any-size        analyse frames and movies of another size than 640 x 480 too (pixels outside\n"
    "                    the picture count as 0); without it they are refused\n"
    "  --clip=KIND       instead of maps, write the sind, extinction or transmission clip of MOVIE.avi\n"
    "                    into CLIP.avi, as \"Work Offline\" and a clip button do in the window\n"
    "  --objective=N     the objective whose scale bar the clip's legend shows: 4 (default), 10 or 40\n"
    "  --trace=L,T,R,B   instead of maps, write the time trace of that region of MOVIE.avi (movie pixels,\n"
    "                    origin top-left, edges included) into OUT.csv, as the \"Analyse Data\" page plots "
    "it\n"
    "  --quantity=Q      what the trace plots: sind (default), extinction or transmission\n"
    "  --timestep=S      seconds between trace points: 0.035 (default, an offline movie) or 0.1\n"
    "  --                end of the options: what follows are file names, even when they start with -\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "A frame gives sind.pgm, extinction.pgm, transmission.pgm and the pictures sind.bmp, extinction.bmp,\n"
    "transmission.bmp; a recording gives sind-00000.pgm, extinction-00000.pgm, ... for each frame.\n"
    "Every output is written under a temporary name and renamed into place when complete; an output that\n"
    "is one of the inputs is refused.\n"
    "Exit status: 0 on success, 2 for a bad option, an unreadable input or an output that cannot be written\n"
    "(one line on stderr says why).\n";

// Refuses a run whose maps would land on one of its inputs: a file in OUTDIR under a map's name that is the
// input or the flat field. A folder still to be made holds none of them.
void refuseInputsAsMaps(const CommandInputs& inputs, const std::filesystem::path& dir, bool movie,
                        std::int32_t frames) {
    if (!std::filesystem::is_directory(dir)) {
        return;
    }
    for (const char* map : {"sind", "extinction", "transmission"}) {
        if (!movie) {
            inputs.refuseAsOutput((dir / (std::string(map) + ".pgm")).string());
            inputs.refuseAsOutput((dir / (std::string(map) + ".bmp")).string());
        }
        for (std::int32_t n = 0; movie && n < frames; ++n) {
            inputs.refuseAsOutput((dir / numbered(map, n)).string());
        }
    }
}

} // namespace

bool answerHelpOrVersion(const std::vector<std::string>& args, std::ostream& out) {
    const std::vector<std::string> options = splitArguments(args).options;
    const auto has = [&](const char* word) {
        return std::find(options.begin(), options.end(), word) != options.end();
    };
    if (has("--help") || has("-h")) {
        out << kUsage << '\n' << kClipUsage << '\n' << kTraceUsage << '\n' << kHelp;
        return true;
    }
    if (has("--version")) {
        out << "kestrane-analyse " << kVersion << '\n' << kLicenceLine << '\n';
        return true;
    }
    return false;
}

int runAnalyseCommand(const std::vector<std::string>& args, std::ostream& err) {
    if (isClipCommand(args)) {
        return runClipCommand(args, err);
    }
    if (isTraceCommand(args)) {
        return runTraceCommand(args, err);
    }
    try {
        const Options options = parseOptions(args);
        CommandInputs inputs;
        inputs.add(options.input, "input");
        inputs.add(options.flatField, "flat field");
        const bool movie = isAviFile(options.input);
        Bitmap frame;
        if (!movie) {
            frame = readFrame(options.input, "cannot read frame");
            requireCameraFrameSize(frame.width(), frame.height(), "frame '" + options.input + "'",
                                   options.anySize);
        }
        MeasurementState& state = measurementState();
        state.MaxSin = static_cast<Extended>(options.maxSinPosition) / 5.0L;
        state.SinDLimit = options.sinDLimit;
        buildTables(state.tables);
        if (std::string why; !options.flatField.empty() && !useFlatFieldFile(options.flatField, state, why)) {
            throw CommandError("kestrane-analyse: " + why);
        }
        // The movie is opened before the output directory is made, so a bad file leaves nothing behind.
        AviFrameReader reader;
        if (movie) {
            openCommandMovie(reader, options.input, err);
            requireCameraFrameSize(reader.width(), reader.height(), "movie '" + options.input + "'",
                                   options.anySize);
        }
        const std::filesystem::path dir(options.outDir);
        refuseInputsAsMaps(inputs, dir, movie, reader.frameCount());

        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (!std::filesystem::is_directory(dir)) {
            throw CommandError("kestrane-analyse: cannot create output directory '" + options.outDir + "'" +
                               (ec ? ": " + ec.message() : std::string()));
        }
        if (movie) {
            analyseMovie(reader, options.input, dir, state, err);
            return 0;
        }

        state.FramePixels = BmpToArray(frame);
        analyseFrame(frame.view(), state);
        writeOutputFile((dir / "sind.pgm").string(), pgmImage(state.SinDMap));
        writeOutputFile((dir / "extinction.pgm").string(), pgmImage(state.ExtinctionMap));
        writeOutputFile((dir / "transmission.pgm").string(), pgmImage(state.TransmissionMap));
        writePicture(dir / "sind.bmp", renderSinD, state);
        writePicture(dir / "extinction.bmp", renderExtinction, state);
        writePicture(dir / "transmission.bmp", renderTransmission, state);
        return 0;
    } catch (const CommandError& e) {
        err << e.what() << '\n';
    } catch (const std::exception& e) {
        err << "kestrane-analyse: " << e.what() << '\n';
    }
    return 2;
}

} // namespace kestrane
