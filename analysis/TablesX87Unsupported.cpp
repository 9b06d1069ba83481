// Processors without the x87: the trigonometry and roots of the tables from the C library.
#include "analysis/Tables.h"

#include <cmath>

namespace kestrane {

long double x87Sin(long double v) {
    return std::sin(v);
}
long double x87Cos(long double v) {
    return std::cos(v);
}
long double x87Atan2(long double y, long double x) {
    return std::atan2(y, x);
}
long double x87Sqrt(long double v) {
    return std::sqrt(v);
}

} // namespace kestrane
