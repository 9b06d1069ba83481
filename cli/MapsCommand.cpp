// kestrane-analyse's maps: frames from files in, maps as files out; and the analysis settings the clip
// shares.
#include "cli/Commands.h"

#include "analysis/FlatField.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/MapRendering.h"
#include "analysis/MeasurementState.h"
#include "cli/FramePipeline.h"
#include "imaging/Bmp.h"
#include "recording/AviFrames.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <string_view>

namespace kestrane {

namespace {

constexpr const char* kQuantityFile = "maps.tif";

struct MapsOptions {
    AnalysisOptions analysis;
    bool tiff = false;
    QuantityOptions quantities;
    std::string input;
    std::string outDir;
};

MapsOptions parseMapsOptions(const std::vector<std::string>& args) {
    static const std::pair<const char*, bool> kFormats[] = {{"pgm", false}, {"tiff", true}};
    MapsOptions o;
    std::vector<OptionRule> rules = analysisRules(o.analysis);
    rules.push_back({"--format", true, readChoice(o.tiff, kFormats)});
    for (OptionRule& rule : quantityRules(o.quantities)) {
        rules.push_back(std::move(rule));
    }
    const CommandSyntax syntax{std::move(rules), "an input file and an output folder", kMapsUsage};
    const auto [input, outDir] = parseCommandLine(args, syntax);
    // The display maps carry no units: a calibration given for them would silently do nothing.
    const QuantityOptions& q = o.quantities;
    if (!o.tiff && (q.wavelengthNm || q.objective || q.pixelSizeUm)) {
        throw CommandError("--wavelength, --objective and --pixel-size go with --format=tiff; " +
                           std::string(kMapsUsage));
    }
    o.input = input;
    o.outDir = outDir;
    return o;
}

// Map element [x][y] shown upright: image row r from the top holds y = 239 − r.
void pgmImage(const ResultMap& map, std::vector<std::uint8_t>& out) {
    constexpr std::string_view kHeader = "P5\n320 240\n255\n";
    out.assign(kHeader.begin(), kHeader.end());
    out.resize(kHeader.size() + kMapWidth * kMapHeight);
    std::uint8_t* pixel = out.data() + kHeader.size();
    for (int r = 0; r < kMapHeight; ++r) {
        for (int x = 0; x < kMapWidth; ++x) {
            *pixel++ = map.at(x, kMapHeight - 1 - r);
        }
    }
}

std::vector<std::uint8_t> pgmImage(const ResultMap& map) {
    std::vector<std::uint8_t> out;
    pgmImage(map, out);
    return out;
}

// One of the rendered map pictures, as the window shows it without overlays.
void writePicture(const std::filesystem::path& path, void (*render)(const MeasurementState&, Bitmap&),
                  const MeasurementState& state) {
    Bitmap picture;
    render(state, picture);
    writeOutputFile(path.string(), encodeBmp(picture));
}

std::string numbered(const char* name, std::int32_t index) {
    char text[64];
    std::snprintf(text, sizeof text, "%s-%05d.pgm", name, static_cast<int>(index));
    return text;
}

// The maps of one movie frame and their PGM files' bytes, made on a worker.
struct FrameMapFiles {
    ResultMap maps[3]; // sind, extinction, transmission
    std::vector<std::uint8_t> pgm[3];
};

// Every frame of a recording, each into its own numbered maps, with progress for long files; the frames are
// analysed on every processor and their files written in frame order.
void analyseMovie(AviFrameReader& reader, const std::string& path, const std::filesystem::path& dir,
                  const MeasurementState& state, std::ostream& err) {
    static constexpr const char* kNames[3] = {"sind", "extinction", "transmission"};
    analyseMovieFrames<FrameMapFiles>(
        reader, path, err,
        [&](const FrameView& frame, FrameMapFiles& files) {
            analyseFrame(frame, state, ResultMaps{&files.maps[0], &files.maps[1], &files.maps[2]});
            for (int m = 0; m < 3; ++m) {
                pgmImage(files.maps[m], files.pgm[m]);
            }
        },
        [&](std::int32_t n, const FrameMapFiles& files) {
            for (int m = 0; m < 3; ++m) {
                writeOutputFile((dir / numbered(kNames[m], n)).string(), files.pgm[m]);
            }
        });
}

Bitmap readFrame(const std::string& path, const char* what) {
    Bitmap bitmap;
    std::string error;
    if (!readBmpFile(path, bitmap, error)) {
        throw CommandError(std::string(what) + " '" + path + "': " + error);
    }
    return bitmap;
}

// Refuses a run whose maps would land on one of its inputs: a file in OUTDIR under a map's name that is the
// input or the flat field. A folder still to be made holds none of them.
void refuseInputsAsMaps(const CommandInputs& inputs, const std::filesystem::path& dir, bool movie,
                        std::int32_t frames, bool tiff) {
    if (!std::filesystem::is_directory(dir)) {
        return;
    }
    if (tiff) {
        inputs.refuseAsOutput((dir / kQuantityFile).string());
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

bool isAviFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[12] = {};
    in.read(head, sizeof head);
    return in.gcount() == 12 && std::string(head, 4) == "RIFF" && std::string(head + 8, 4) == "AVI ";
}

OptionRule maxSinRule(int& position) {
    static const std::pair<const char*, int> kScales[] = {
        {"0.2", 1}, {"0.4", 2}, {"0.6", 3}, {"0.8", 4}, {"1.0", 5}};
    const OptionReader choose = readChoice(position, kScales);
    return {"--maxsin", true, [&position, choose](const char* option, const std::string& text) {
                if (text == "1") {
                    position = 5;
                } else {
                    choose(option, text);
                }
            }};
}

std::vector<OptionRule> analysisRules(AnalysisOptions& options) {
    return {maxSinRule(options.maxSinPosition),
            {"--sindlimit", true, readWholeNumber(options.sinDLimit, 0, 40)},
            {"--flatfield", true, readText(options.flatField)},
            {"--any-size", false, readFlag(options.anySize)}};
}

OptionReader readMapKind(MapKind& kind) {
    static const std::pair<const char*, MapKind> kMaps[] = {
        {mapName(MapKind::SinD), MapKind::SinD},
        {mapName(MapKind::Extinction), MapKind::Extinction},
        {mapName(MapKind::Transmission), MapKind::Transmission}};
    return readChoice(kind, kMaps);
}

void applyAnalysisOptions(const AnalysisOptions& options) {
    MeasurementState& state = measurementState();
    state.MaxSin = static_cast<Extended>(options.maxSinPosition) / 5.0L;
    state.SinDLimit = options.sinDLimit;
    buildTables(state.tables);
    if (std::string why; !options.flatField.empty() && !useFlatFieldFile(options.flatField, state, why)) {
        throw CommandError(why);
    }
}

int runMapsCommand(const std::vector<std::string>& args, std::ostream& err) {
    const MapsOptions options = parseMapsOptions(args);
    CommandInputs inputs;
    inputs.add(options.input, "input");
    inputs.add(options.analysis.flatField, "flat field");
    const bool movie = isAviFile(options.input);
    Bitmap frame;
    if (!movie) {
        frame = readFrame(options.input, "cannot read frame");
        requireCameraFrameSize(frame.width(), frame.height(), "frame '" + options.input + "'",
                               options.analysis.anySize);
    }
    applyAnalysisOptions(options.analysis);
    MeasurementState& state = measurementState();
    // The movie is opened before the output directory is made, so a bad file leaves nothing behind.
    AviFrameReader reader;
    if (movie) {
        openCommandMovie(reader, options.input, err);
        requireCameraFrameSize(reader.width(), reader.height(), "movie '" + options.input + "'",
                               options.analysis.anySize);
    }
    const std::filesystem::path dir(options.outDir);
    refuseInputsAsMaps(inputs, dir, movie, reader.frameCount(), options.tiff);

    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir)) {
        throw CommandError("cannot create output directory '" + options.outDir + "'" +
                           (ec ? ": " + ec.message() : std::string()));
    }
    if (options.tiff) {
        if (!movie) {
            BmpToArray(frame);
        }
        writeQuantityStack({options.input, (dir / kQuantityFile).string(), movie ? &reader : nullptr, &frame,
                            options.quantities, options.analysis.flatField},
                           err);
        return 0;
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
}

} // namespace kestrane
