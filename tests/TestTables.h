// The lookup tables, built once per test program.
#pragma once

#include "analysis/Tables.h"

namespace kestrane::test {

inline const Tables& builtTables() {
    static const Tables tables = [] {
        Tables built;
        buildTables(built);
        return built;
    }();
    return tables;
}

} // namespace kestrane::test
