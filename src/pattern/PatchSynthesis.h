#pragma once

#include "RGBAImage.h"

// The reference Gabor patch: grey, opaque, computed in double precision with one
// exp and one cos per pixel, bytes truncated. Nothing when the buffer cannot be had.
std::optional<RGBAImage> synthesizePatchCPU(double width, double height, double frequency,
                                            double orientation, double phase, double sigma,
                                            double contrast, double radiusScale);
