#pragma once

#include "RGBAImage.h"

#include <map>
#include <vector>

// Lays patch images out on the tile grid anchored at the bottom-left corner
// (tile index = row x cols + col, row 0 at the bottom; partial tiles only at the
// top and right). A null image in patches, like an out-of-range variant index,
// leaves its cells untouched (transparent black).
std::optional<RGBAImage> composeCanvas(double width, double height, double patchSize,
                                       const std::vector<RGBAImage>& patches,
                                       const std::vector<int>& variantIndices,
                                       const std::map<int, RGBAImage>& tileImageOverrides);

struct TintColor {
    double r = 0, g = 0, b = 0;
    bool operator==(const TintColor&) const = default;
};

// HSL to RGB with saturation 0.85 and lightness 0.5; the hue wraps into [0, 1].
TintColor hueToTint(double hue);

// Overlay with the black-level grey (when colorModeBlackLevel > 0.001), then
// Multiply with hueToTint(hue). Returns the input when it cannot draw.
RGBAImage tintPatch(const RGBAImage& image, double hue, double colorModeBlackLevel);

// What tintPatch makes of an opaque pixel: the byte of channel c (R, G, B) for
// each input byte, as byte[c][input].
struct TintTable {
    uchar byte[3][256];
};
TintTable tintTable(double hue, double colorModeBlackLevel);

// The placeholder of a failed frame: dark red with a light diagonal cross.
std::optional<RGBAImage> makeErrorImage(double width, double height);
