#version 430 core
// "sirdsExpand": the centred autostereogram, the pixels of a row in parallel.
//
// Within a row, the recurrence of expandRowCentred copies every pixel from
// another one of the same row, so each output pixel ends as a copy of one strip
// pixel, or keeps the 0x80 fill. Which strip column that is depends only on the
// pixel's column and its depth-cell row (y mod cell): the caller runs the row
// recurrence once on column numbers and hands the result over as a column map.
// Every pixel is then independent of the others.
//
// Bindings (both textures are RGBA8, bound as r32ui views: a pixel is copied as
// one 32-bit word, so the picture equals the CPU's byte for byte):
//   image unit 0      strip, stripW x stripH (read)
//   image unit 1      output, outW x outH (written)
//   location 0..5     SIRDSKernelParams, one int each: 0 outW, 1 outH, 2 stripH,
//                     3 stripW, 4 cell, 5 offset (first output column of the strip)
//   SSBO binding 1    column map, cell x outW ints, row-major: the strip column
//                     each output column shows in that depth-cell row, or -1 for
//                     the 0x80 fill
//   local size        64 x 1; dispatch outH groups, one per output row, whose
//                     invocations take every 64th pixel of the row

layout(local_size_x = 64) in;

layout(binding = 0, r32ui) uniform restrict readonly uimage2D stripImage;
layout(binding = 1, r32ui) uniform restrict writeonly uimage2D outImage;

layout(location = 0) uniform int outW;
layout(location = 1) uniform int outH;
layout(location = 2) uniform int stripH;
layout(location = 3) uniform int stripW;
layout(location = 4) uniform int cell;
layout(location = 5) uniform int offset;

layout(std430, binding = 1) restrict readonly buffer ColumnMap {
    int columns[];
};

void main() {
    int y = int(gl_WorkGroupID.x);
    int cellRow = (y % cell) * outW;
    int ty = y % stripH;
    for (int x = int(gl_LocalInvocationID.x); x < outW; x += int(gl_WorkGroupSize.x)) {
        int column = columns[cellRow + x];
        uvec4 texel = uvec4(0x80808080u);
        if (column >= 0) {
            texel = imageLoad(stripImage, ivec2(column, ty));
        }
        imageStore(outImage, ivec2(x, y), texel);
    }
}
