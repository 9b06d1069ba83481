// The legend pictures beside the three maps: colour ramp, scale values and the objective's scale bar.
#pragma once

#include "analysis/MapKind.h"
#include "analysis/Tables.h"
#include "imaging/Numeric.h"

#include <QImage>
#include <QString>

constexpr int kLegendWidth = 50;
constexpr int kLegendHeight = 240;

// The static artwork of a legend picture: a 24-bit 50 × 240 image with frame, title, bar outline, scale bar
// and, for the extinction legend, the angle drawing.
QImage legendArtwork(kestrane::MapKind kind);

// The palette index shown in ramp row y (47..137): 255 − (y − 48) / 90 × 255 rounded half to even, low byte.
int legendRampIndex(int y);

// The texts at the top and in the middle of the |sin δ| ramp for a display scale.
QString fullScaleText(kestrane::Extended maxSin);
QString halfScaleText(kestrane::Extended maxSin);

// The scale bar's label for an objective of 4, 10 or 40 times.
QString scaleLabel(int objective);

// What a legend shows besides its kind.
struct LegendSettings {
    const kestrane::Tables* tables = nullptr;
    kestrane::Extended maxSin = 1.0L;
    int objective = 4;
};

// Paints ramp and texts onto a legend picture in place, over whatever it holds (normally its artwork).
void paintLegend(QImage& picture, kestrane::MapKind kind, const LegendSettings& settings);
