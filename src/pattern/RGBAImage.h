#pragma once

#include <QImage>
#include <optional>

// The CPU-side image everywhere: bytes R, G, B, A per pixel, alpha premultiplied,
// rows top to bottom, exactly 4 x width bytes per row
// (QImage::Format_RGBA8888_Premultiplied).
using RGBAImage = QImage;

// Largest side accepted for any image made here; bounds every allocation that
// sizes come from outside (window, settings file, command line).
inline constexpr int kMaxImageSide = 16384;

// A zero-filled (transparent black) width x height image; nothing when a side is
// below 1 or above kMaxImageSide, or the memory cannot be had.
std::optional<RGBAImage> makeRGBAImage(int width, int height);

// The integer part of max(value, 1), limited to kMaxImageSide; non-finite values
// count as 1. The "W = integer part of max(width, 1)" of every image operation.
int imageSide(double value);
