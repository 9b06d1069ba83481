// The trigonometry and roots of the tables with the x87 instructions themselves, on x86 processors.
#include "analysis/Tables.h"

namespace kestrane {

// The table values are defined by the x87 instructions themselves, so use them rather than the libm versions.
long double x87Sin(long double v) {
    long double r;
    asm("fsin" : "=t"(r) : "0"(v));
    return r;
}
long double x87Cos(long double v) {
    long double r;
    asm("fcos" : "=t"(r) : "0"(v));
    return r;
}
long double x87Atan2(long double y, long double x) {
    long double r;
    asm("fpatan" : "=t"(r) : "0"(x), "u"(y) : "st(1)");
    return r;
}
long double x87Sqrt(long double v) {
    long double r;
    asm("fsqrt" : "=t"(r) : "0"(v));
    return r;
}

} // namespace kestrane
