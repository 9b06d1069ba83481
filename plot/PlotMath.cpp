// The arithmetic of the plot component without any window code: world mapping, tick rule, labels, 3D view.
#include "plot/PlotMath.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <numbers>

namespace kestrane {

namespace {

constexpr int kTrappedFlags = FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID;
constexpr Extended kPixelLimit = 16000;
constexpr long long kMaxTicks = 2000;

[[noreturn]] void throwInvalid() {
    throw FloatingPointError("Invalid floating point operation");
}

Extended ln10() {
    return std::log(Extended{10});
}

// 180 * n in 64-bit integers, wrapping instead of overflowing for absurd rotations.
long long times180(long long n) {
    return static_cast<long long>(static_cast<unsigned long long>(n) * 180ULL);
}

} // namespace

FloatGuard::FloatGuard() {
    std::feclearexcept(kTrappedFlags);
}

void FloatGuard::check() const {
    const int raised = std::fetestexcept(kTrappedFlags);
    if (raised & FE_DIVBYZERO) {
        throw FloatingPointError("Floating point division by zero");
    }
    if (raised & FE_OVERFLOW) {
        throw FloatingPointError("Floating point overflow");
    }
    if (raised & FE_INVALID) {
        throwInvalid();
    }
}

void requireFinite(std::initializer_list<Extended> values) {
    for (const Extended v : values) {
        if (std::isnan(v)) {
            throwInvalid();
        }
        if (std::isinf(v)) {
            throw FloatingPointError("Floating point overflow");
        }
    }
}

// ---- 2D world -----------------------------------------------------------------------------------------

WorldSetting computeWorld(Extended x1, Extended y1, Extended x2, Extended y2, int width, int height,
                          const std::optional<LabelSizes>& labels) {
    const FloatGuard guard;
    const Extended w = width;
    const Extended h = height;
    WorldSetting s;
    WorldMapping& m = s.mapping;
    if (!labels) {
        m.screenX.scale = (w - 1) / (x2 - x1);
        m.screenX.offset = -x1 * m.screenX.scale;
        m.screenY.scale = (h - 1) / (y1 - y2);
        m.screenY.offset = -y2 * m.screenY.scale;
        m.metaX.scale = (2 * w - 1) / (x2 - x1);
        m.metaX.offset = -x1 * m.metaX.scale;
        m.metaY.scale = (2 * h - 1) / (y1 - y2);
        m.metaY.offset = -y2 * m.metaY.scale;
    } else {
        const Extended t = labels->textHeight;
        const Extended lx = labels->xLabelWidth;
        const Extended ly = labels->yLabelWidth;
        const Extended halfLx = labels->xLabelWidth / 2;
        m.screenX.scale = (w - 9 - ly - halfLx) / (x2 - x1);
        m.screenX.offset = (ly + 8) - x1 * m.screenX.scale;
        m.screenY.scale = (h - 7 - 2 * t) / (y1 - y2);
        m.screenY.offset = t - y2 * m.screenY.scale;
        m.metaX.scale = (2 * w - 17 - 2 * ly - lx) / (x2 - x1);
        m.metaX.offset = (2 * ly + 16) - x1 * m.metaX.scale;
        m.metaY.scale = (2 * h - 13 - 4 * t) / (y1 - y2);
        m.metaY.offset = 2 * t - y2 * m.metaY.scale;
    }
    s.world = {x1, x2 - x1, y1, y2 - y1};
    guard.check();
    requireFinite({m.screenX.scale, m.screenX.offset, m.screenY.scale, m.screenY.offset, m.metaX.scale,
                   m.metaX.offset, m.metaY.scale, m.metaY.offset, s.world.x1, s.world.xw, s.world.y1,
                   s.world.yw});
    return s;
}

std::int32_t toPixel(Extended v, const AxisMapping& mapping) {
    const Extended p = v * mapping.scale + mapping.offset;
    if (std::isnan(p)) {
        throwInvalid();
    }
    if (std::fabs(p) >= kPixelLimit) {
        return p >= 0 ? static_cast<std::int32_t>(kPixelLimit) : -static_cast<std::int32_t>(kPixelLimit);
    }
    return static_cast<std::int32_t>(roundToInt(p));
}

// ---- Axes -----------------------------------------------------------------------------------------------

Extended tickStep(Extended range) {
    const FloatGuard guard;
    const Extended l = std::log(range / 8) / ln10();
    guard.check();
    requireFinite({l});
    const auto whole = static_cast<long long>(std::trunc(l));
    const long long e = l >= 0 ? whole : whole - 1;
    const Extended step = std::exp(static_cast<Extended>(e) * ln10());
    guard.check();
    return step;
}

long long firstTickIndex(Extended lo, Extended step) {
    const FloatGuard guard;
    long long k = std::llrint(lo / step);
    guard.check();
    // Rounding may land one step below lo; a couple of steps up always reaches it.
    for (int i = 0; i < 4 && lo > static_cast<Extended>(k) * step; ++i) {
        ++k;
    }
    return k;
}

std::array<Extended, 5> labelCandidates(Extended lo, Extended hi) {
    const Extended step = tickStep(std::fabs(hi - lo));
    const long long k0 = firstTickIndex(lo, step);
    const FloatGuard guard;
    const long long n = std::llrint((hi - lo) / step);
    guard.check();
    std::array<Extended, 5> values{};
    for (int i = 0; i < 5; ++i) {
        values[static_cast<std::size_t>(i)] = static_cast<Extended>(k0 + i * (n / 4)) * step;
    }
    return values;
}

std::vector<Tick> axisTicks(Extended lo, Extended width) {
    std::vector<Tick> ticks;
    const Extended step = tickStep(width);
    if (!(step > 0)) {
        return ticks;
    }
    const long long k0 = firstTickIndex(lo, step);
    const FloatGuard guard;
    const long long n = std::llrint(width / step);
    guard.check();
    if (n > kMaxTicks) {
        return ticks;
    }
    // A range always holds at least 8 steps; the floor of 1 only keeps the modulo defined.
    const long long labelEvery = std::max(1LL, n / 4);
    const Extended last = (lo + width) - step;
    long long k = k0;
    do {
        ticks.push_back({static_cast<Extended>(k) * step, (k - k0) % labelEvery == 0});
        ++k;
    } while (static_cast<Extended>(k) * step <= last && k - k0 <= kMaxTicks + 1);
    return ticks;
}

std::string numberLabel(Extended v, char decimalSeparator) {
    if (v == 0) {
        return "0";
    }
    if (std::isnan(v)) {
        return "NAN";
    }
    if (std::isinf(v)) {
        return v < 0 ? "-INF" : "INF";
    }
    // Enough digits that the fourth significant one is exact; rounding is then done by hand,
    // halves away from zero.
    char buf[96];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 40);
    const std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
    const std::size_t ePos = text.find('e');
    int exponent = 0;
    std::from_chars(text.data() + ePos + 1 + (text[ePos + 1] == '+' ? 1 : 0), text.data() + text.size(),
                    exponent);
    std::string digits;
    for (std::size_t i = 0; i < ePos; ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            digits += text[i];
        }
    }
    digits.resize(std::max<std::size_t>(digits.size(), 4), '0');
    int mantissa =
        (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0') + (digits[3] >= '5' ? 1 : 0);
    if (mantissa == 1000) {
        mantissa = 100;
        ++exponent;
    }
    std::string sig = std::to_string(mantissa);
    while (sig.size() > 1 && sig.back() == '0') {
        sig.pop_back();
    }

    return layoutDigits(sig, exponent, v < 0, exponent < -4 || exponent > 2, false, decimalSeparator);
}

// ---- 3D view --------------------------------------------------------------------------------------------

void D3View::update(int width, int height) {
    if (viewDist < 0.0001L) {
        viewDist = 0.0001L;
    }
    if (viewAngle > 179) {
        viewAngle = 179;
    }
    if (viewAngle < 0.01L) {
        viewAngle = 0.01L;
    }
    computeView(width, height);
    const Corner3 c = farCorner();
    farX = c.x == -1 ? worldX1 : worldX1 + worldXW;
    farY = c.y == -1 ? worldY1 : worldY1 + worldYW;
    farZ = c.z == -1 ? worldZ1 : worldZ1 + worldZW;
    nearX = c.x == 1 ? worldX1 : worldX1 + worldXW;
    nearY = c.y == 1 ? worldY1 : worldY1 + worldYW;
    nearZ = c.z == 1 ? worldZ1 : worldZ1 + worldZW;
}

void D3View::computeView(int width, int height) {
    const FloatGuard guard;
    constexpr Extended pi = std::numbers::pi_v<Extended>;
    zRadians = zRotation * pi / 180;
    yRadians = yRotation * pi / 180;
    halfViewAngle = viewAngle * pi / 360;
    sinZ = std::sin(zRadians);
    cosZ = std::cos(zRadians);
    sinY = std::sin(yRadians);
    cosY = std::cos(yRadians);
    tangent = std::sin(halfViewAngle) / std::cos(halfViewAngle);

    const long long zTurns = std::llrint((zRotation + 90) / 180);
    const long long yTurns = std::llrint(yRotation / 180);
    guard.check();
    reducedZRotation = (zRotation + 90) - static_cast<Extended>(times180(zTurns));
    reducedYRotation = yRotation - static_cast<Extended>(times180(yTurns));

    if (aspectRatio) {
        const Extended m = std::max({xScale * worldXW, yScale * worldYW, zScale * worldZW});
        xFactor = 2 * xScale / m;
        yFactor = 2 * yScale / m;
        zFactor = 2 * zScale / m;
    } else {
        xFactor = 2 / worldXW;
        yFactor = 2 / worldYW;
        zFactor = 2 / worldZW;
    }
    xOffset = -(worldX1 + worldXW / 2) * xFactor;
    yOffset = -(worldY1 + worldYW / 2) * yFactor;
    zOffset = -(worldZ1 + worldZW / 2) * zFactor;

    screenFactor = static_cast<Extended>(std::min(width, height)) / 2 / tangent / viewDist;
    screenCentreX = static_cast<Extended>(width) / 2;
    screenCentreY = static_cast<Extended>(height) / 2;
    guard.check();
    requireFinite({sinZ, cosZ, sinY, cosY, tangent, xFactor, yFactor, zFactor, xOffset, yOffset, zOffset,
                   screenFactor, reducedZRotation, reducedYRotation});
}

Extended D3View::depth(Extended u, Extended v, Extended w) const {
    return u * sinY * cosZ + v * sinZ * sinY + w * cosY;
}

Extended D3View::distance(Extended u, Extended v, Extended w) const {
    return viewDist - depth(u, v, w);
}

Corner3 D3View::farCorner() const {
    Corner3 answer;
    Extended maximum = 0;
    for (int a = -1; a <= 1; a += 2) {
        for (int b = -1; b <= 1; b += 2) {
            for (int c = -1; c <= 1; c += 2) {
                const Extended d = distance(a, b, c);
                maximum = std::max(maximum, d);
                // Equal distance: the later corner wins.
                if (d == maximum) {
                    answer = {a, b, c};
                }
            }
        }
    }
    return answer;
}

// ---- Stored settings -----------------------------------------------------------------------------------

std::string formatExact(Extended v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::optional<Extended> parseExact(std::string_view text) {
    // strtold in the C locale, because from_chars refuses subnormal values and the user's locale may
    // want a decimal comma.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    const std::string copy(text);
    if (copy.empty() || std::isspace(static_cast<unsigned char>(copy.front()))) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const Extended v = strtold_l(copy.c_str(), &end, cLocale);
    const bool overflow = errno == ERANGE && std::isinf(v);
    if (end != copy.c_str() + copy.size() || overflow) {
        return std::nullopt;
    }
    return v;
}

} // namespace kestrane
