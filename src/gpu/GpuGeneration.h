#pragma once

#include "CanvasTexturePool.h"
#include "GpuTexture.h"
#include "RGBAImage.h"
#include "TileParams.h"

#include <map>
#include <optional>
#include <vector>

// Every function here makes the calling thread's GPU context current and encodes
// its work. Those returning images wait for it; those returning textures hand
// them over with a fence (GpuTexture::waitOnGpu) instead. Any thread.

// One patch from "gaborKernel", read back; the envelope radius is the CPU
// generator's (envelopeRadius), so both draw the same patch. Nothing without the kernel.
std::optional<RGBAImage> generatePatchGPU(double width, double height, double frequency,
                                          double orientation, double phase, double sigma,
                                          double contrast, double radiusScale);

// The texture's texels as an image (texel row 0 becomes the top row).
std::optional<RGBAImage> readbackTexture(const GpuTextureRef& texture);

// A CPU-made image as a new private texture (image row 0 to texel row 0).
GpuTextureRef uploadImageToTexture(const std::optional<RGBAImage>& image);
// The same into an existing texture of the image's size; false when it cannot.
bool uploadImageInto(GpuTexture& texture, const RGBAImage& image);

struct RenderCanvasResult {
    GpuTextureRef texture; // null when no canvas could be made
    int gpuGeneratedCount = 0;
    int cpuFallbackCount = 0;
};

// How a canvas gets its tiles: copied into it on the GPU; or composed by the
// processor into a texture in the window's texel order (TextureLayout::
// windowOrder), which a software rasterizer shows by copying it.
enum class CanvasTiles { copied, composedByProcessor };

// One patch texture per variant and per spinning tile (radius scale 0.96 x the
// variant's entry in radiusScales, or 0.96 without one), placed on the tile grid
// into a texture from pool. A variant the GPU cannot make is made on the CPU and
// uploaded into its slot (counted in cpuFallbackCount), so no later variant moves.
RenderCanvasResult
renderCanvasGPU(const std::vector<TileParams>& variants, const std::vector<int>& tileVariantIndices,
                const std::vector<TileSpin>& spinTiles, int patchSize,
                const std::vector<double>& radiusScales, const std::vector<double>& hues,
                bool colorMode, double width, double height, double phase, double saturation,
                double colorModeBlackLevel, StorageMode storageMode, CanvasTexturePool& pool,
                CanvasTiles delivery = CanvasTiles::copied);

// Of the pixels "gaborKernel" made in the calling thread's last generatePatchGPU
// or renderCanvasGPU, how many it recomputed in double precision (those within
// single precision's error of a whole byte). Waits for that work.
struct ExactPathCount {
    long long pixels = 0;
    long long exact = 0;
};
ExactPathCount lastExactPathCount();

// The tile grid of composeCanvas, made with texture copies. Skipped tiles keep
// whatever the pooled canvas held.
GpuTextureRef placeTilesGPU(double width, double height, const std::vector<GpuTextureRef>& patches,
                            const std::vector<int>& tileVariantIndices,
                            const std::map<int, GpuTextureRef>& overrides, int patchSize,
                            StorageMode storageMode, CanvasTexturePool& pool);
