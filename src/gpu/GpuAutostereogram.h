#pragma once

#include "Autostereogram.h"
#include "GpuTexture.h"

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
// The CPU route alone: the strip read back, makeAutostereogramCentred, the
// picture uploaded.
GpuTextureRef makeAutostereogramCPU(const GpuTextureRef& strip, int outW, int outH, int columns,
                                    SIRDSShiftCache& cache);
