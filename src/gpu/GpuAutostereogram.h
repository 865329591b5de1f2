#pragma once

#include "Autostereogram.h"
#include "GpuTexture.h"

#include <cstdint>
#include <vector>

// The centred autostereogram, from the faster of its two routes: the kernel
// "sirdsExpand", or, when that is missing or the GPU is the CPU itself, the
// CPU route, which makes the same bytes (and, on a software rasterizer, makes
// them sooner). The result is one of the sirdsOutputPool's textures. Nothing on
// failure.
GpuTextureRef makeAutostereogramGPU(const GpuTextureRef& strip, int outW, int outH, int columns,
                                    SIRDSShiftCache& cache);
// The kernel route alone; nothing without the kernel.
GpuTextureRef makeAutostereogramKernel(const GpuTextureRef& strip, int outW, int outH, int columns,
                                       SIRDSShiftCache& cache);
// The CPU route alone: the strip read back, expandRowCentred over rows in
// parallel, the picture uploaded.
GpuTextureRef makeAutostereogramCPU(const GpuTextureRef& strip, int outW, int outH, int columns,
                                    SIRDSShiftCache& cache);

// Fills output row y: the strip in the centre, propagated rightwards and then
// leftwards with one depth cone per cell x cell square. Pixels are RGBA words.
void expandRowCentred(int y, const std::uint32_t* strip, std::uint32_t* out,
                      const std::vector<int>& table, int cell, int offset, int end, int stripW,
                      int stripH, int outW);
