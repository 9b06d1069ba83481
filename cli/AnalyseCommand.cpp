// kestrane-analyse as a function: picks the command its options name, prints its refusals, answers --help
// and --version.
#include "cli/AnalyseCommand.h"

#include "Version.h"
#include "cli/Commands.h"
#include "recording/FrameDecoder.h"

#include <algorithm>
#include <ostream>

namespace kestrane {

namespace {

constexpr const char* kHelp =
    "Analyses a recorded 640 x 480 frame, or every frame of an AVI recording, as the Kestrane window does,\n"
    "and writes the |sin(delta)|, extinction and transmission maps into OUTDIR (created when missing).\n"
    "\n"
    "  --maxsin=M        full scale of the |sin(delta)| map: 0.2, 0.4, 0.6, 0.8 or 1.0 (default 1.0)\n"
    "  --sindlimit=N     the extinction map shows only where |sin(delta)| exceeds N/255, N 0..40\n"
    "                    (default 15)\n"
    "  --flatfield=BMP   correct uneven illumination with this 640 x 480 background frame\n"
    "  --format=F        pgm (default): the display maps as pictures; tiff: the quantities with units in\n"
    "                    OUTDIR/maps.tif, a 32-bit float ImageJ hyperstack (channels retardance in nm,\n"
    "                    orientation in degrees, |sin(delta)|, transmission in %; one time point per frame;\n"
    "                    retardance beyond a quarter wave is ambiguous and given within the first)\n"
    "  --wavelength=NM   the wavelength retardance is given at, 400..1000 (default: MOVIE.json's, else 546)\n"
    "  --pixel-size=UM   the size of a map pixel in micrometres (default: the objective's; or MOVIE.json's)\n"
    "  --any-size        analyse frames and movies of another size than 640 x 480 too (pixels outside\n"
    "                    the picture count as 0); without it they are refused\n"
    "  --clip=KIND       instead of maps, write the sind, extinction or transmission clip of MOVIE.avi\n"
    "                    into CLIP.avi, as \"Work Offline\" and a clip button do in the window\n"
    "  --objective=N     the objective whose scale bar the clip's legend shows, and whose pixel size\n"
    "                    calibrates maps.tif: 4, 10 or 40 (default: the one in MOVIE.json beside the\n"
    "                    movie, else 4)\n"
    "  --trace=L,T,R,B   instead of maps, write the time trace of that region of MOVIE.avi (movie pixels,\n"
    "                    origin top-left, edges included) into OUT.csv, as the \"Analyse Data\" page plots "
    "it\n"
    "  --quantity=Q      what the trace plots: sind (default), extinction or transmission\n"
    "  --timestep=S      seconds between trace points: 0.035 (an offline movie) or 0.1; by default each\n"
    "                    point is at its frame's time in MOVIE.json beside the movie, else 0.035 apart\n"
    "  --stats=L,T,R,B   instead of maps, write the region statistics of FRAME.bmp or of every frame of\n"
    "                    MOVIE.avi into OUT.csv (map pixels of 320 x 240, origin top-left, edges\n"
    "                    included): retardance mean and SD in nm, mean |sin(delta)|, axial mean and\n"
    "                    spread of the orientation in degrees, mean transmission in %; one row per frame\n"
    "  --wavelength=NM   the wavelength the retardance is given at, 400 to 1000 (default: the one in\n"
    "                    MOVIE.json beside the movie, else 546)\n"
    "  --                end of the options: what follows are file names, even when they start with -\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "A frame gives sind.pgm, extinction.pgm, transmission.pgm and the pictures sind.bmp, extinction.bmp,\n"
    "transmission.bmp; a recording gives sind-00000.pgm, extinction-00000.pgm, ... for each frame.\n"
    "What a command takes from the settings file MOVIE.json that Kestrane writes beside each recording, it\n"
    "says in one line on stderr.\n"
    "Every output is written under a temporary name and renamed into place when complete; an output that\n"
    "is one of the inputs is refused.\n"
    "Exit status: 0 on success, 2 for a bad option, an unreadable input or an output that cannot be written\n"
    "(one line on stderr says why).\n";

// The command an option names; the maps when none does. The clip is looked for first, so that a run naming
// both is refused by the clip's syntax.
struct Command {
    const char* option;
    int (*run)(const std::vector<std::string>& args, std::ostream& err);
};
constexpr Command kCommands[] = {
    {"--clip", runClipCommand}, {"--trace", runTraceCommand}, {"--stats", runStatsCommand}};

bool holds(const std::vector<std::string>& options, const char* option) {
    return std::find(options.begin(), options.end(), option) != options.end();
}

} // namespace

bool answerHelpOrVersion(const std::vector<std::string>& args, std::ostream& out) {
    const std::vector<std::string> options = optionArguments(args);
    if (holds(options, "--help") || holds(options, "-h")) {
        out << kMapsUsage << '\n'
            << kClipUsage << '\n'
            << kTraceUsage << '\n'
            << kStatsUsage << '\n'
            << kHelp;
        return true;
    }
    if (holds(options, "--version")) {
        out << "kestrane-analyse " << kVersion << '\n' << kLicenceLine << '\n' << codecDecoderLine() << '\n';
        return true;
    }
    return false;
}

int runAnalyseCommand(const std::vector<std::string>& args, std::ostream& err) {
    const std::vector<std::string> options = optionArguments(args);
    const auto command = std::find_if(std::begin(kCommands), std::end(kCommands), [&](const Command& c) {
        return std::any_of(options.begin(), options.end(),
                           [&](const std::string& o) { return optionName(o) == c.option; });
    });
    try {
        return command == std::end(kCommands) ? runMapsCommand(args, err) : command->run(args, err);
    } catch (const CommandError& e) {
        err << e.what() << '\n';
    } catch (const std::exception& e) {
        err << "kestrane-analyse: " << e.what() << '\n';
    }
    return 2;
}

} // namespace kestrane
