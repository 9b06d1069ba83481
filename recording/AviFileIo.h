// The AVI files on disk: the byte source and sink of AVIFileOpen over a file, apart from the container code.
#pragma once

#include "recording/AviFile.h"

#include <memory>
#include <string>

namespace kestrane {

// A regular file to read; null when it cannot be opened or is no regular file (a folder, a pipe).
std::unique_ptr<AviByteSource> openAviFileSource(const std::string& fileName);

// A new file to write, in place of any file of the name, or with `replaceExisting` false only where no file
// is (null with errno EEXIST otherwise); null when it cannot be created. Writes past the process's file size
// limit fail instead of killing the program, the reserved room is preallocated where the file system can, and
// a file removed while written is written out again under its name with the frames so far.
std::unique_ptr<AviByteSink> createAviFileSink(const std::string& fileName, bool replaceExisting);

} // namespace kestrane
