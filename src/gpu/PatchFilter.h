#pragma once

#include "RGBAImage.h"

#include <optional>

// The image-filter generator: the fragment program "gaborPatch" drawn offscreen
// over (0, 0, W, H) and read back. The envelope radius is always 0.96 of half the
// smaller side (breathing does not reach it). Nothing when the program is missing.
std::optional<RGBAImage> generatePatchFilter(double width, double height, double frequency,
                                             double orientation, double phase, double sigma,
                                             double contrast);
