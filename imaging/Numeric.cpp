// Number rules shared by every computation: extended-precision rounding and the general number text.
#include "imaging/Numeric.h"

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestrane {

Extended roundHalfEven(Extended v) {
    // nearbyintl honours the current rounding mode, which the program never leaves.
    return std::nearbyintl(v);
}

long long roundToInt(Extended v) {
    return static_cast<long long>(std::nearbyintl(v));
}

std::string generalFormat(Extended v, char decimalSeparator) {
    constexpr int kPrecision = 15;
    if (std::isnan(v)) {
        return "NAN";
    }
    if (std::isinf(v)) {
        return v < 0 ? "-INF" : "INF";
    }
    if (v == 0) {
        return "0";
    }
    // Digits and decimal exponent of the value rounded to 15 significant digits.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*Le", kPrecision - 1, v);
    std::string text(buf);
    const bool negative = text[0] == '-';
    const std::size_t ePos = text.find('e');
    const int exponent = std::atoi(text.c_str() + ePos + 1);
    std::string digits;
    for (std::size_t i = negative ? 1 : 0; i < ePos; ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            digits += text[i];
        }
    }
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }

    const bool scientific = exponent >= kPrecision || std::fabs(v) < 0.00001L;
    return layoutDigits(digits, exponent, negative, scientific, true, decimalSeparator);
}

std::string layoutDigits(const std::string& digits, int exponent, bool negative, bool scientific,
                         bool plusSign, char decimalSeparator) {
    std::string out = negative ? "-" : "";
    if (scientific) {
        out += digits[0];
        if (digits.size() > 1) {
            out += decimalSeparator;
            out += digits.substr(1);
        }
        out += 'E';
        if (exponent < 0) {
            out += '-';
        } else if (plusSign) {
            out += '+';
        }
        out += std::to_string(std::abs(exponent));
        return out;
    }
    if (exponent < 0) {
        out += '0';
        out += decimalSeparator;
        out += std::string(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
        return out;
    }
    const auto intDigits = static_cast<std::size_t>(exponent + 1);
    if (digits.size() <= intDigits) {
        out += digits + std::string(intDigits - digits.size(), '0');
    } else {
        out += digits.substr(0, intDigits);
        out += decimalSeparator;
        out += digits.substr(intDigits);
    }
    return out;
}

} // namespace kestrane
