#pragma once

#include "Autostereogram.h"
#include "GpuTexture.h"

#include <cstdint>
#include <vector>

// The centred autostereogram: "sirdsExpand" on the GPU, or expandRowCentred over
// rows in parallel when that pipeline is missing. Nothing on failure.
GpuTextureRef makeAutostereogramGPU(const GpuTextureRef& strip, int outW, int outH, int columns,
                                    SIRDSShiftCache& cache);

// Fills output row y: the strip in the centre, propagated rightwards and then
// leftwards with one depth cone per cell x cell square. Pixels are RGBA words.
void expandRowCentred(int y, const std::uint32_t* strip, std::uint32_t* out,
                      const std::vector<int>& table, int cell, int offset, int end, int stripW,
                      int stripH, int outW);
