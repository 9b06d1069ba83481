// Which of the three maps: |sin δ|, extinction or transmission; and the map a stored clip kind stands for.
#pragma once

#include <cstdint>

namespace kestrane {

enum class MapKind { SinD, Extinction, Transmission };

// The map of the measurement state's ClipKind: 1 = |sin δ|, 2 = extinction, 3 = transmission; |sin δ| for
// any other value, as the clip recorder has always treated one.
constexpr MapKind mapKindOfClip(std::int32_t clipKind) {
    return clipKind == 2 ? MapKind::Extinction : clipKind == 3 ? MapKind::Transmission : MapKind::SinD;
}

// The map's name in files and on the command line: "sind", "extinction" or "transmission".
constexpr const char* mapName(MapKind kind) {
    return kind == MapKind::Extinction     ? "extinction"
           : kind == MapKind::Transmission ? "transmission"
                                           : "sind";
}

} // namespace kestrane
