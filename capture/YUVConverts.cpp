// Driver formats by compression code, and the conversion of whole YUV frames into bottom-up 32-bit DIB
// pixels.
#include "capture/YUVConverts.h"

#include "capture/PackedPairs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace kestrane {

static_assert(std::endian::native == std::endian::little, "pixels are stored as little-endian words");

namespace {

// The coefficients of the conversion are decimals with at most eleven places, so in units of 1e-11 every
// channel value is an exact integer sum of one term per input byte. Each term is kept split into its whole
// part and its remainder, so a channel needs only additions. Only when the exact value is a whole number can
// the extended computation land on the other side of it; those few inputs take the extended formula itself.
constexpr std::int64_t kUnit = 100'000'000'000;
constexpr std::int64_t kLuma = 116'438'281'250;
constexpr std::int64_t kBlueU = 201'723'046'875;
constexpr std::int64_t kGreenU = -39'176'171'875;
constexpr std::int64_t kGreenV = -81'296'875'000;
constexpr std::int64_t kRedV = 159'602'734'375;

// value = whole + remainder / kUnit, with 0 <= remainder < kUnit.
struct Term {
    std::int32_t whole;
    std::int64_t remainder;
};

template <std::int64_t kFactor, int kOffset> constexpr std::array<Term, 256> termTable() {
    std::array<Term, 256> t{};
    for (int i = 0; i < 256; ++i) {
        const std::int64_t scaled = kFactor * (i - kOffset);
        std::int64_t whole = scaled / kUnit;
        if (whole * kUnit > scaled) {
            --whole;
        }
        t[static_cast<std::size_t>(i)] = Term{static_cast<std::int32_t>(whole), scaled - whole * kUnit};
    }
    return t;
}

constexpr auto kLumaTerm = termTable<kLuma, 16>();
constexpr auto kBlueUTerm = termTable<kBlueU, 128>();
constexpr auto kGreenUTerm = termTable<kGreenU, 128>();
constexpr auto kGreenVTerm = termTable<kGreenV, 128>();
constexpr auto kRedVTerm = termTable<kRedV, 128>();

// The truncated and clamped byte of a sum of terms; false when the sum is a whole number in 1..255, where
// only the extended formula knows the answer.
inline bool channelByte(std::int32_t whole, std::int64_t remainder, std::uint32_t& out) {
    // 0, 1 or 2: each remainder is below kUnit.
    const std::int64_t carry = static_cast<std::int64_t>(remainder >= kUnit) + (remainder >= 2 * kUnit);
    const auto value = static_cast<std::int32_t>(whole + carry);
    out = static_cast<std::uint32_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
    return remainder != carry * kUnit || value < 1 || value > 255;
}

// The chroma part of the three channels, shared by the pixels of a pair, group or block.
struct Chroma {
    std::uint8_t u, v;
    Term blue, green, red;
};

inline Chroma chromaOf(std::uint8_t u, std::uint8_t v) {
    const Term greenU = kGreenUTerm[u];
    const Term greenV = kGreenVTerm[v];
    return Chroma{u, v, kBlueUTerm[u], Term{greenU.whole + greenV.whole, greenU.remainder + greenV.remainder},
                  kRedVTerm[v]};
}

inline std::uint32_t pixelOf(std::uint8_t y, const Chroma& c) {
    const Term luma = kLumaTerm[y];
    std::uint32_t blue = 0;
    std::uint32_t green = 0;
    std::uint32_t red = 0;
    const bool inexact = channelByte(luma.whole + c.blue.whole, luma.remainder + c.blue.remainder, blue) &
                         channelByte(luma.whole + c.green.whole, luma.remainder + c.green.remainder, green) &
                         channelByte(luma.whole + c.red.whole, luma.remainder + c.red.remainder, red);
    if (!inexact) {
        return YuvToBgr(y, c.u, c.v);
    }
    return blue | (green << 8) | (red << 16);
}

inline void storePixel(std::uint8_t* out, std::uint32_t pixel) {
    std::memcpy(out, &pixel, 4);
}

inline void storeYuv(std::uint8_t* out, std::uint8_t y, const Chroma& chroma) {
    storePixel(out, pixelOf(y, chroma));
}

// Output row that source line `line` lands in: bottom-up like a DIB with positive height.
inline std::uint8_t* bottomUpRow(std::uint8_t* output, std::int32_t width, std::int32_t height,
                                 std::int32_t line) {
    return output + static_cast<std::ptrdiff_t>(height - 1 - line) * width * 4;
}

// Packed pairs: four bytes per two pixels with the positions of Y0, U, Y1, V given.
template <int kY0, int kU, int kY1, int kV>
void convertPairs(const std::uint8_t* source, std::uint8_t* output, std::int32_t w, std::int32_t h) {
    const std::ptrdiff_t stride = std::ptrdiff_t{w} * 2;
    for (std::int32_t line = 0; line < h; ++line) {
        const std::uint8_t* src = source + stride * line;
        std::uint8_t* dst = bottomUpRow(output, w, h, line);
        for (std::int32_t pair = 0; pair < w / 2; ++pair, src += 4, dst += 8) {
            const Chroma chroma = chromaOf(src[kU], src[kV]);
            storeYuv(dst, src[kY0], chroma);
            storeYuv(dst + 4, src[kY1], chroma);
        }
    }
}

// One line of pixels spelt out as Y, U and V bytes, one of each per pixel, so that every layout converts
// through the same vector kernel. The storage stays with the thread and only grows, so a camera loop
// allocates it once.
struct PixelLine {
    std::uint8_t* y;
    std::uint8_t* u;
    std::uint8_t* v;

    explicit PixelLine(std::int32_t width) {
        thread_local std::vector<std::uint8_t> storage;
        const std::size_t w = static_cast<std::size_t>(width);
        if (storage.size() < 3 * w) {
            storage.resize(3 * w);
        }
        y = storage.data();
        u = y + w;
        v = u + w;
    }

    // The first `count` pixels into `dst`.
    void convert(std::uint8_t* dst, std::int32_t count) const {
        for (std::int32_t x = convertPixelsVector(y, u, v, dst, count); x < count; ++x) {
            storeYuv(dst + 4 * x, y[x], chromaOf(u[x], v[x]));
        }
    }
};

void convertY41p(const std::uint8_t* source, std::uint8_t* output, std::int32_t w, std::int32_t h) {
    // Byte offsets of Y0..Y7 in a group, and of the chroma pair (U, V) each half of the group uses.
    static constexpr std::array<int, 8> kYAt = {1, 3, 5, 7, 8, 9, 10, 11};
    const std::ptrdiff_t stride = std::ptrdiff_t{(w + 7) / 8} * 12;
    const PixelLine pixels(w);
    for (std::int32_t line = 0; line < h; ++line) {
        const std::uint8_t* src = source + stride * line;
        for (std::int32_t x = 0; x < w; ++x) {
            const std::uint8_t* group = src + 12 * (x / 8);
            const int half = x % 8 < 4 ? 0 : 4;
            pixels.y[x] = group[kYAt[static_cast<std::size_t>(x % 8)]];
            pixels.u[x] = group[half];
            pixels.v[x] = group[half + 2];
        }
        pixels.convert(bottomUpRow(output, w, h, line), w);
    }
}

// Planar layouts: a Y plane of w × h bytes, then two chroma planes with one byte per block of kBlock × kBlock
// pixels. kVFirst says which chroma plane comes first. Pixels of blocks cut by the picture's edge are left.
template <int kBlock, bool kVFirst>
void convertPlanar(const std::uint8_t* source, std::uint8_t* output, std::int32_t w, std::int32_t h) {
    const std::ptrdiff_t chromaWidth = (w + kBlock - 1) / kBlock;
    const std::ptrdiff_t chromaHeight = (h + kBlock - 1) / kBlock;
    const std::uint8_t* first = source + std::ptrdiff_t{w} * h;
    const std::uint8_t* second = first + chromaWidth * chromaHeight;
    const std::uint8_t* planeU = kVFirst ? second : first;
    const std::uint8_t* planeV = kVFirst ? first : second;
    const std::int32_t count = (w / kBlock) * kBlock;
    const std::int32_t lines = (h / kBlock) * kBlock;
    const PixelLine pixels(w);
    for (std::int32_t line = 0; line < lines; ++line) {
        const std::uint8_t* luma = source + std::ptrdiff_t{line} * w;
        const std::ptrdiff_t chromaRow = (line / kBlock) * chromaWidth;
        std::copy_n(luma, count, pixels.y);
        for (std::int32_t x = 0; x < count; ++x) {
            pixels.u[x] = planeU[chromaRow + x / kBlock];
            pixels.v[x] = planeV[chromaRow + x / kBlock];
        }
        pixels.convert(bottomUpRow(output, w, h, line), count);
    }
}

void convertY8(const std::uint8_t* source, std::uint8_t* output, std::int32_t w, std::int32_t h) {
    for (std::int32_t line = 0; line < h; ++line) {
        const std::uint8_t* src = source + std::ptrdiff_t{line} * w;
        std::uint8_t* dst = bottomUpRow(output, w, h, line);
        for (std::int32_t x = 0; x < w; ++x, dst += 4) {
            const std::uint32_t grey = src[x];
            storePixel(dst, grey | (grey << 8) | (grey << 16));
        }
    }
}

void convertY211(const std::uint8_t* source, std::uint8_t* output, std::int32_t w, std::int32_t h) {
    // Groups of four bytes Y0 U Y2 V for four pixels, each Y shown twice.
    const std::ptrdiff_t stride = std::ptrdiff_t{(w + 3) / 4} * 4;
    const std::int32_t count = (w / 4) * 4;
    const PixelLine pixels(w);
    for (std::int32_t line = 0; line < h; ++line) {
        const std::uint8_t* src = source + stride * line;
        for (std::int32_t x = 0; x < count; ++x) {
            const std::uint8_t* group = src + 4 * (x / 4);
            pixels.y[x] = group[x % 4 < 2 ? 0 : 2];
            pixels.u[x] = group[1];
            pixels.v[x] = group[3];
        }
        pixels.convert(bottomUpRow(output, w, h, line), count);
    }
}

} // namespace

std::uint8_t FormatCodeOf(std::uint32_t compression) {
    switch (compression) {
    case kBiRgb:
    case kBiBitfields:
        return kFormatRgb;
    case kFourCcYuy2:
        return kFormatYuy2;
    case kFourCcUyvy:
        return kFormatUyvy;
    case kFourCcY41p:
        return kFormatY41p;
    case kFourCcYvu9:
        return kFormatYvu9;
    case kFourCcI420:
        return kFormatI420;
    case kFourCcY8:
        return kFormatY8;
    case kFourCcY211:
        return kFormatY211;
    default:
        return kFormatUnknown;
    }
}

std::uint32_t YuvToBgr(std::uint8_t y, std::uint8_t u, std::uint8_t v) {
    const long double ly = y - 16;
    const long double lu = u - 128;
    const long double lv = v - 128;
    const long double blue = 1.1643828125L * ly + 2.01723046875L * lu;
    const long double green = (1.1643828125L * ly + (-0.39176171875L) * lu) + (-0.81296875L) * lv;
    const long double red = 1.1643828125L * ly + 1.59602734375L * lv;
    const auto channel = [](long double value) {
        const auto truncated = static_cast<long long>(value);
        return static_cast<std::uint32_t>(truncated > 255 ? 255 : (truncated < 0 ? 0 : truncated));
    };
    return channel(blue) | (channel(green) << 8) | (channel(red) << 16);
}

std::uint32_t yuvToBgrFast(std::uint8_t y, std::uint8_t u, std::uint8_t v) {
    return pixelOf(y, chromaOf(u, v));
}

bool ConvertFrame(std::uint8_t code, const std::uint8_t* source, std::uint8_t* output, std::int32_t width,
                  std::int32_t height) {
    const std::uint8_t layout = code & 0x7F;
    if (layout < kFormatYuy2 || layout > kFormatY211) {
        return false;
    }
    if (width <= 0 || height <= 0) {
        return true;
    }
    switch (layout) {
    case kFormatYuy2:
        if (!convertPackedPairsVector(source, output, width, height, false)) {
            convertPairs<0, 1, 2, 3>(source, output, width, height);
        }
        break;
    case kFormatUyvy:
        if (!convertPackedPairsVector(source, output, width, height, true)) {
            convertPairs<1, 0, 3, 2>(source, output, width, height);
        }
        break;
    case kFormatY41p:
        convertY41p(source, output, width, height);
        break;
    case kFormatYvu9:
        convertPlanar<4, true>(source, output, width, height);
        break;
    case kFormatI420:
        convertPlanar<2, false>(source, output, width, height);
        break;
    case kFormatY8:
        convertY8(source, output, width, height);
        break;
    default:
        convertY211(source, output, width, height);
        break;
    }
    return true;
}

std::size_t yuvFrameBytes(std::uint8_t code, std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    switch (code & 0x7F) {
    case kFormatYuy2:
    case kFormatUyvy:
        return 2 * w * h;
    case kFormatY41p:
        return (w + 7) / 8 * 12 * h;
    case kFormatYvu9:
        return w * h + 2 * ((w + 3) / 4) * ((h + 3) / 4);
    case kFormatI420:
        return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
    case kFormatY8:
        return w * h;
    case kFormatY211:
        return (w + 3) / 4 * 4 * h;
    default:
        return 0;
    }
}

} // namespace kestrane
