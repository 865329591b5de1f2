#version 430 core
// "sirdsExpand": the centred autostereogram, one invocation per output row.
//
// Bindings (both textures are RGBA8, bound as r32ui views: a pixel is copied as
// one 32-bit word, so the picture equals the CPU's byte for byte):
//   image unit 0      strip, stripW x stripH (read)
//   image unit 1      output, outW x outH (written, and read back within the
//                     row: propagation copies pixels this row already wrote)
//   location 0..5     SIRDSKernelParams, one int each: 0 outW, 1 outH, 2 stripH,
//                     3 stripW, 4 cell, 5 offset (first output column of the strip)
//   SSBO binding 1    shift table, cell x cell ints, row-major
//   local size        64 x 1; dispatch ceil(outH / 64) groups, surplus threads idle
//
// Each invocation computes its row exactly as the CPU's expandRowCentred.

layout(local_size_x = 64) in;

layout(binding = 0, r32ui) uniform restrict readonly uimage2D stripImage;
layout(binding = 1, r32ui) uniform restrict uimage2D outImage;

layout(location = 0) uniform int outW;
layout(location = 1) uniform int outH;
layout(location = 2) uniform int stripH;
layout(location = 3) uniform int stripW;
layout(location = 4) uniform int cell;
layout(location = 5) uniform int offset;

layout(std430, binding = 1) restrict readonly buffer ShiftTable {
    int shifts[];
};

void main() {
    int y = int(gl_GlobalInvocationID.x);
    if (y >= outH) {
        return;
    }
    int ty = y % stripH;
    int rowBase = (y % cell) * cell;
    int end = min(offset + stripW, outW);

    // Strips narrower than the largest shift (3) can read pixels not yet
    // written; the CPU route leaves those at 0x80, so start the row from it.
    if (stripW <= 3) {
        for (int x = 0; x < outW; ++x) {
            imageStore(outImage, ivec2(x, y), uvec4(0x80808080u));
        }
    }

    for (int x = offset; x < end; ++x) {
        imageStore(outImage, ivec2(x, y), imageLoad(stripImage, ivec2(x - offset, ty)));
    }
    for (int x = end; x < outW; ++x) {
        int src = x - stripW + shifts[rowBase + x % cell];
        if (src >= 0 && src < outW) {
            imageStore(outImage, ivec2(x, y), imageLoad(outImage, ivec2(src, y)));
        }
    }
    for (int x = offset - 1; x >= 0; --x) {
        int src = x + stripW - shifts[rowBase + x % cell];
        if (src >= 0 && src < outW) {
            imageStore(outImage, ivec2(x, y), imageLoad(outImage, ivec2(src, y)));
        }
    }
}
