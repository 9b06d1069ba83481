// Where the program writes its clips and raw recordings, and reads "offline.avi" back.
#pragma once

#include <string>

namespace kestrane {

// $KESTRANE_DATA_DIR when set, otherwise ~/kestrane/; always ending in '/'.
std::string DataDirectory();

// Creates DataDirectory (and its parents) when it does not exist yet; false when that is impossible.
bool createDataDirectory();

} // namespace kestrane
