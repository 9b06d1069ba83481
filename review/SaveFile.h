// Files the operator saves from the review page: written whole or not at all, with the system's reason when
// they cannot be written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrane {

// Writes the bytes through a temporary file beside the target and a rename. False with "Cannot write
// PATH: REASON" in `error` when that fails; the target is then left as it was.
bool saveFile(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error);
bool saveFile(const std::string& path, const std::string& text, std::string& error);

} // namespace kestrane
