// kestrane-analyse --clip: the result clip of a recorded movie, written headless as "Work Offline" and a clip
// button write it in the window.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

inline constexpr const char* kClipUsage =
    "usage: kestrane-analyse --clip=sind|extinction|transmission [--maxsin=0.2|0.4|0.6|0.8|1.0] "
    "[--sindlimit=0..40] [--flatfield=BACKGROUND.bmp] [--objective=4|10|40] [--any-size] [--] MOVIE.avi "
    "CLIP.avi";

// True when the arguments ask for a clip (an option starting with "--clip", before any "--").
bool isClipCommand(const std::vector<std::string>& args);

// --clip=sind|extinction|transmission [--maxsin=…] [--sindlimit=0..40] [--flatfield=BG.bmp]
// [--objective=4|10|40] [--any-size] [--] MOVIE.avi CLIP.avi. Returns 0 on success; 2 for a bad option, an
// unreadable movie, a movie not 640 x 480 without --any-size, a clip that is one of the inputs or a clip that
// cannot be written, with one line on `err` and CLIP.avi as it was before.
int runClipCommand(const std::vector<std::string>& args, std::ostream& err);

} // namespace kestrane
