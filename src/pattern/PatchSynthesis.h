#pragma once

#include "RGBAImage.h"

// The envelope radius R in pixels of a W x H patch: half the shorter side times
// radiusScale clamped to [0.01, 1], so the Gaussian window always fits the tile.
// Every generator that takes a radius scale uses this one.
double envelopeRadius(int W, int H, double radiusScale);

// The reference Gabor patch: grey, opaque, computed in double precision with one
// exp and one cos per pixel, bytes truncated. Nothing when the buffer cannot be had.
std::optional<RGBAImage> synthesizePatchCPU(double width, double height, double frequency,
                                            double orientation, double phase, double sigma,
                                            double contrast, double radiusScale);
