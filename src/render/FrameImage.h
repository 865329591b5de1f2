#pragma once

#include "AppModel.h"
#include "Autostereogram.h"
#include "RenderPass.h"

#include <QImage>
#include <cstdint>
#include <optional>

// One frame as a picture, at the pass's full pixel size: one canvas, or the two
// eyes in the snapshot's stereo layout (composeStereoFrame), before the display's own
// correction (inversion, gamma, black lift, illuminant tint). The command-line
// renderer and the window's image export both make their pictures here, so the
// same state gives the same bytes.
struct FrameImage {
    enum class Failure { none, noTileSet, noPatch, noCanvas, noRightEye, noMemory };
    QImage image; // its PNG text "Seed" names the pattern seed, in hex
    Failure failure = Failure::none;
};

// What went wrong, in one Japanese line.
QString failureText(FrameImage::Failure failure);

FrameImage renderFrameImage(const RenderSnapshot& snapshot, std::uint64_t patternSeed,
                            AppModel::RenderingMode renderingMode, double animationRenderScale,
                            SIRDSShiftCache& sirdsShiftCache);
// The picture of a pass's outcome (the snapshot and render scale it was made from).
FrameImage frameImageOf(RenderOutcome outcome, const RenderSnapshot& snapshot,
                        double animationRenderScale, std::uint64_t patternSeed);

// The frame's size in pixels as asked for, before any limit, against the
// largest side the generator can make (the GPU's largest texture, or
// kMaxImageSide for the CPU routes). Beyond it a frame would come out clamped,
// smaller than asked.
struct FrameSize {
    double width = 0;
    double height = 0;
    int largestSide = 0;
    bool fits() const {
        return width >= 1 && height >= 1 && width <= largestSide && height <= largestSide;
    }
};
FrameSize frameSize(const RenderSnapshot& snapshot, double animationRenderScale, int largestSide);
// One line naming the size, the scale, the pixels and the limit (the GPU's
// largest texture when onGpu) when the frame does not fit; empty when it does.
QString frameSizeRefusal(const RenderSnapshot& snapshot, double animationRenderScale,
                         int largestSide, bool onGpu);

// The seed as the image's text holds it: "0x" and sixteen hex digits.
QString seedText(std::uint64_t patternSeed);
// A seed written as a whole decimal number or as "0x" and hex digits, 0 to
// 2^64 - 1, nothing around it; anything else is nothing.
std::optional<std::uint64_t> parseSeed(const QString& text);
