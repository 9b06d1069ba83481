// kestrane-analyse --clip: the result clip of a recorded movie, written headless as "Work Offline" and a clip
// button write it in the window.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// True when the arguments ask for a clip (an argument starting with "--clip").
bool isClipCommand(const std::vector<std::string>& args);

// --clip=sind|extinction|transmission [--maxsin=…] [--sindlimit=0..40] [--flatfield=BG.bmp]
// [--objective=4|10|40] MOVIE.avi CLIP.avi. Returns 0 on success; 2 for a bad option, an unreadable movie or
// a clip that cannot be written, with one line on `err` and no CLIP.avi left behind.
int runClipCommand(const std::vector<std::string>& args, std::ostream& err);

} // namespace kestrane
