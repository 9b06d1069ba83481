// The three commands of kestrane-analyse (maps, clip, trace), their usage lines, and the analysis settings
// the maps and the clip share.
#pragma once

#include "analysis/MapKind.h"
#include "cli/Options.h"
#include "cli/QuantityOptions.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

inline constexpr const char* kMapsUsage =
    "usage: kestrane-analyse [--format=pgm|tiff] [--maxsin=0.2|0.4|0.6|0.8|1.0] [--sindlimit=0..40] "
    "[--wavelength=400..1000] [--objective=4|10|40] [--pixel-size=UM] [--flatfield=BACKGROUND.bmp] "
    "[--any-size] [--] FRAME.bmp|MOVIE.avi OUTDIR";

inline constexpr const char* kClipUsage =
    "usage: kestrane-analyse --clip=sind|extinction|transmission [--maxsin=0.2|0.4|0.6|0.8|1.0] "
    "[--sindlimit=0..40] [--flatfield=BACKGROUND.bmp] [--objective=4|10|40] [--any-size] [--] MOVIE.avi "
    "CLIP.avi";

inline constexpr const char* kTraceUsage =
    "usage: kestrane-analyse --trace=LEFT,TOP,RIGHT,BOTTOM [--quantity=sind|extinction|transmission] "
    "[--maxsin=0.2|0.4|0.6|0.8|1.0] [--timestep=0.035|0.1] [--] MOVIE.avi OUT.csv";

inline constexpr const char* kStatsUsage = "usage: kestrane-analyse --stats=LEFT,TOP,RIGHT,BOTTOM "
                                           "[--wavelength=NM] [--flatfield=BACKGROUND.bmp] [--] "
                                           "FRAME.bmp|MOVIE.avi OUT.csv";

// Each command reads its own options with the one parser, and refuses with a CommandError that the dispatch
// prints; it returns 0 when done.

// [--format=pgm|tiff] [--maxsin=…] [--sindlimit=0..40] [--wavelength=NM] [--objective=4|10|40]
// [--pixel-size=UM] [--flatfield=BG.bmp] [--any-size] [--] FRAME.bmp|MOVIE.avi OUTDIR: the maps of a frame,
// or of every frame of a movie, into OUTDIR (with --format=tiff the quantities, in OUTDIR/maps.tif).
// Nothing is written when the input is unreadable, not 640 x 480 without --any-size, or when a map would
// land on an input; a map that cannot be written keeps its old content.
int runMapsCommand(const std::vector<std::string>& args, std::ostream& err);

// --clip=sind|extinction|transmission [--maxsin=…] [--sindlimit=0..40] [--flatfield=BG.bmp]
// [--objective=4|10|40] [--any-size] [--] MOVIE.avi CLIP.avi: the result clip of a movie. A refusal leaves
// CLIP.avi as it was before.
int runClipCommand(const std::vector<std::string>& args, std::ostream& err);

// --trace=LEFT,TOP,RIGHT,BOTTOM [--quantity=sind|extinction|transmission] [--maxsin=…] [--timestep=0.035|0.1]
// [--] MOVIE.avi OUT.csv: the points continuous playback plots for that region. A refusal leaves OUT.csv as
// it was before.
int runTraceCommand(const std::vector<std::string>& args, std::ostream& err);

// What --format=tiff writes: the quantities of one frame, or of every frame of a movie, into one file.
struct QuantityStackJob {
    std::string input;
    std::string output;    // OUTDIR/maps.tif
    AviFrameReader* movie; // null for a single frame
    Bitmap* frame;         // the single frame, when there is no movie
    QuantityOptions quantities;
    std::string flatField; // its path, for the file's settings; the state holds the gains
};
// Writes the job's TIFF through a temporary name (the analysis state already set); refuses in words.
void writeQuantityStack(const QuantityStackJob& job, std::ostream& err);
// --stats=LEFT,TOP,RIGHT,BOTTOM [--wavelength=NM] [--flatfield=BG.bmp] [--] FRAME.bmp|MOVIE.avi OUT.csv: the
// region statistics of the quantities, one row per frame. A refusal leaves OUT.csv as it was before.
int runStatsCommand(const std::vector<std::string>& args, std::ostream& err);

// Whether a file starts as an AVI file does (a movie rather than a frame).
bool isAviFile(const std::string& path);

// What the analysis of the maps and the clip is set with.
struct AnalysisOptions {
    int maxSinPosition = 5;
    int sinDLimit = 15;
    bool anySize = false;
    std::string flatField;
};

// The rule of --maxsin: the position 1..5 of the display scale it names (0.2 to 1.0; "1" stands for 1.0).
OptionRule maxSinRule(int& position);
// The rules of --maxsin, --sindlimit, --flatfield and --any-size.
std::vector<OptionRule> analysisRules(AnalysisOptions& options);
// The map a --clip or --quantity names.
OptionReader readMapKind(MapKind& kind);

// Sets the measurement state for an analysis with these options: display scale, |sin δ| limit, tables and the
// flat field (a flat field that cannot be used is refused).
void applyAnalysisOptions(const AnalysisOptions& options);

} // namespace kestrane
