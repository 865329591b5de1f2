#pragma once

#include "RGBAImage.h"
#include "StereoLayout.h"

#include <array>
#include <optional>

// A side-by-side pair as asked for, in points: the width of each half (0 or
// less: as wide as the frame allows) and the gap between the halves; and whether
// the two fusion marks show.
struct StereoPairSize {
    double halfWidth = 0;
    double gap = 0;
    bool marks = false;
    bool operator==(const StereoPairSize&) const = default;
};

// Points per centimetre where the screen's size is not known: the desktop's
// reference pixel of 1/96 inch.
inline constexpr double kReferencePointsPerCentimetre = 96.0 / 2.54;

// Where a side-by-side pair lies in a frame, in whole pixels, rows from the top:
// two halves of halfWidth x halfHeight, the first at leftX and the second at
// rightX, both from row `top`, the pair centred in the frame. With marks, one
// dot centred above each half, in a band as tall above the halves as below.
struct PairPlacement {
    int halfWidth = 1;
    int halfHeight = 1;
    int leftX = 0;
    int rightX = 0;
    int top = 0;
    int markRadius = 0; // 0: no marks
    int markRow = 0;    // the marks' centre row

    int markColumn(int half) const { return (half == 0 ? leftX : rightX) + halfWidth / 2; }
    // A mark covers the pixels whose whole-pixel offsets (dx, dy) from its centre
    // pixel have dx^2 + dy^2 <= markRadius x (markRadius + 1): a round dot, with
    // no pixel on the edge of a float comparison.
    int markLimit() const { return markRadius * (markRadius + 1); }
    bool isMark(int x, int y) const;
    bool operator==(const PairPlacement&) const = default;
};

// The placement in a frameW x frameH frame whose scale is `scale` pixels per
// point. The gap leaves at least one pixel per half; a half is never wider than
// half of what the gap leaves; marks show only where the frame is tall enough.
PairPlacement placePair(int frameW, int frameH, double scale, const StereoPairSize& pair);

// What fills a side-by-side frame around and between the halves: the field's
// mean grey, the background byte of every patch.
inline constexpr int kPairSurroundGrey = 127;

// Dubois' least-squares red-cyan anaglyph: output R, G, B (rows) from each eye's
// R, G, B (columns), all in [0, 1].
using ColorMatrix = std::array<std::array<double, 3>, 3>;
inline constexpr ColorMatrix kAnaglyphLeft{
    {{0.437, 0.449, 0.164}, {-0.062, -0.062, -0.024}, {-0.048, -0.050, -0.017}}};
inline constexpr ColorMatrix kAnaglyphRight{
    {{-0.011, -0.032, -0.007}, {0.377, 0.761, 0.009}, {-0.026, -0.093, 1.234}}};

// The frame a stereo layout shows, frameW x frameH and opaque, from the two eyes'
// canvases:
// - parallel: the left eye in the first half, the right eye in the second; cross:
//   the other way round; the eyes as large as a half of `pair`; the rest of the
//   frame kPairSurroundGrey, the marks black;
// - anaglyph: each byte the rounded, clamped sum of the two matrices applied to
//   the eyes' pixels there; interleaved: the left eye's rows at even rows, the
//   right eye's at odd rows; the eyes as large as the frame.
// Nothing when an eye's size does not fit or the memory cannot be had.
std::optional<RGBAImage> composeStereoFrame(StereoLayout layout, const RGBAImage& leftEye,
                                            const RGBAImage& rightEye, int frameW, int frameH,
                                            const PairPlacement& pair);
