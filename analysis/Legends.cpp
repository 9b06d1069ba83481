// The legend pictures beside the three maps: colour ramp, scale values and the objective's scale bar.
#include "analysis/Legends.h"
#include "ui/DecimalSeparator.h"

#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <algorithm>

using kestrane::Extended;

namespace {

constexpr int kRampTop = 47;
constexpr int kRampBottom = 137;
constexpr int kRampLeft = 12;
constexpr int kRampRight = 23; // exclusive
constexpr QRgb kMidGrey = 0xff808080;
constexpr QRgb kLightGrey = 0xffc5c5c5;
constexpr QRgb kBarGrey = 0xff808080;

// "Times" at 7 points on a 96-dpi canvas: 9 whole pixels, as the text of a 7-point font is laid out there.
QFont valueFont() {
    QFont font("Times");
    font.setPixelSize(9);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

QFont titleFont() {
    QFont font("Times");
    font.setPixelSize(13);
    font.setItalic(true);
    return font;
}

// Text with an opaque white cell behind it, its cell's top-left corner at (x, y).
void drawCellText(QPainter& painter, int x, int y, const QString& text) {
    const QFontMetrics metrics(painter.font());
    painter.fillRect(x, y, metrics.horizontalAdvance(text), metrics.height(), Qt::white);
    painter.drawText(x, y + metrics.ascent(), text);
}

void fill(QImage& image, int left, int top, int right, int bottom, QRgb colour) {
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            image.setPixel(x, y, colour);
        }
    }
}

void drawTitle(QPainter& painter, kestrane::MapKind kind) {
    painter.setFont(titleFont());
    const QFontMetrics metrics(painter.font());
    const int baseline = 25;
    auto centred = [](int width) { return (kLegendWidth - width) / 2; };
    if (kind == kestrane::MapKind::SinD) {
        const QString text = QString::fromUtf8("|sin \u03b4|");
        painter.drawText(centred(metrics.horizontalAdvance(text)), baseline, text);
    } else if (kind == kestrane::MapKind::Extinction) {
        const QString text = QString::fromUtf8("\u03c6");
        painter.drawText(centred(metrics.horizontalAdvance(text)), baseline, text);
    } else {
        const QString main = "I/I";
        QFont subscriptFont = painter.font();
        subscriptFont.setPixelSize(9);
        const int subscriptWidth = QFontMetrics(subscriptFont).horizontalAdvance("0");
        const int left = centred(metrics.horizontalAdvance(main) + subscriptWidth);
        painter.drawText(left, baseline - 2, main);
        painter.setFont(subscriptFont);
        painter.drawText(left + metrics.horizontalAdvance(main), baseline + 1, "0");
    }
}

// The slow axis drawn at an angle to the base line, labelled n with γ as subscript.
void drawAngle(QImage& image, QPainter& painter) {
    fill(image, 8, 214, 39, 215, 0xff000000);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawLine(8, 213, 32, 199);
    painter.drawLine(9, 213, 33, 199);
    painter.drawArc(QRect(2, 203, 22, 22), 0, 30 * 16);
    QFont font("Times");
    font.setPixelSize(10);
    font.setItalic(true);
    painter.setFont(font);
    painter.drawText(30, 227, "n");
    font.setPixelSize(8);
    painter.setFont(font);
    painter.drawText(36, 230, QString::fromUtf8("\u03b3"));
}

} // namespace

QImage legendArtwork(kestrane::MapKind kind) {
    QImage image(kLegendWidth, kLegendHeight, QImage::Format_BGR888);
    image.fill(Qt::white);
    fill(image, 0, 0, kLegendWidth - 1, kLegendHeight - 1, kMidGrey);
    fill(image, 1, 1, kLegendWidth - 2, kLegendHeight - 2, kLightGrey);
    fill(image, 2, 2, kLegendWidth - 3, kLegendHeight - 3, 0xffffffff);

    // Outline of the colour bar, with the end ticks of the scale and the black middle tick.
    fill(image, 9, 44, 11, 140, kBarGrey);
    fill(image, 23, 44, 23, 140, kBarGrey);
    fill(image, 9, 44, 29, 46, kBarGrey);
    fill(image, 9, 137, 29, 140, kBarGrey);
    fill(image, 24, 92, 29, 92, 0xff000000);

    // Scale bar with its end posts; its length is the same for every objective.
    fill(image, 7, 162, 40, 163, 0xff000000);
    fill(image, 7, 156, 8, 168, 0xff000000);
    fill(image, 39, 156, 40, 168, 0xff000000);

    QPainter painter(&image);
    painter.setPen(Qt::black);
    drawTitle(painter, kind);
    if (kind == kestrane::MapKind::Extinction) {
        drawAngle(image, painter);
    }
    return image;
}

int legendRampIndex(int y) {
    // Exact rational arithmetic: the ties fall exactly on halves and go to the even neighbour.
    const int numerator = 255 * 90 - 255 * (y - 48);
    int v = numerator / 90;
    const int twiceRemainder = 2 * (numerator % 90);
    if (twiceRemainder > 90 || (twiceRemainder == 90 && v % 2 != 0)) {
        ++v;
    }
    return v & 0xff;
}

QString fullScaleText(Extended maxSin) {
    return QString::fromStdString(kestrane::generalFormat(kestrane::roundHalfEven(maxSin * 10.0L) / 10.0L,
                                                          kestrane::localeDecimalSeparator()));
}

QString halfScaleText(Extended maxSin) {
    return QString::fromStdString(kestrane::generalFormat(
        kestrane::roundHalfEven(maxSin * 10.0L / 2.0L) / 10.0L, kestrane::localeDecimalSeparator()));
}

QString scaleLabel(int objective) {
    switch (objective) {
    case 10:
        return "0.02mm";
    case 40:
        return "0.005mm";
    default:
        return "0.05mm";
    }
}

void paintLegend(QImage& picture, kestrane::MapKind kind, const LegendSettings& settings) {
    for (int y = kRampTop; y <= kRampBottom; ++y) {
        const int i = legendRampIndex(y);
        QRgb colour = qRgb(i, i, i);
        if (kind != kestrane::MapKind::Transmission && settings.tables != nullptr) {
            const auto& palette = settings.tables->palette;
            colour = qRgb(palette[kestrane::kPaletteRed][i], palette[kestrane::kPaletteGreen][i],
                          palette[kestrane::kPaletteBlue][i]);
        }
        for (int x = kRampLeft; x < kRampRight; ++x) {
            picture.setPixel(x, y, colour);
        }
    }

    QPainter painter(&picture);
    painter.setPen(Qt::black);
    painter.setFont(valueFont());
    switch (kind) {
    case kestrane::MapKind::SinD:
        drawCellText(painter, 32, 129, "0.0");
        drawCellText(painter, 32, 46, "0.0");
        // Drawn over the "0.0" just placed there: a bare "1" covers only its first cell and reads "1.0".
        drawCellText(painter, 32, 46, fullScaleText(settings.maxSin));
        drawCellText(painter, 32, 87, halfScaleText(settings.maxSin));
        break;
    case kestrane::MapKind::Extinction:
        drawCellText(painter, 30, 129, " 0.0");
        drawCellText(painter, 30, 46, "180");
        drawCellText(painter, 30, 87, "  90");
        break;
    case kestrane::MapKind::Transmission:
        drawCellText(painter, 32, 129, "0.0");
        drawCellText(painter, 32, 46, "1.0");
        drawCellText(painter, 32, 87, "0.5");
        break;
    }
    // The label's cell is cleared first so that a shorter label leaves nothing of a longer one behind.
    const QFontMetrics metrics(painter.font());
    int widest = 0;
    for (int objective : {4, 10, 40}) {
        widest = std::max(widest, metrics.horizontalAdvance(scaleLabel(objective)));
    }
    painter.fillRect(8, 175, widest, metrics.height(), Qt::white);
    drawCellText(painter, 8, 175, scaleLabel(settings.objective));
}
