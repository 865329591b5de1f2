#version 430 core
// "gaborKernel": one Gabor patch per dispatch, optionally tinted, in single
// precision; "gaborKernelExact" finishes it.
//
// Bindings:
//   image unit 0      output, rgba8, W x H (texel row 0 = top row of the patch)
//   buffer 0          per patch slot: the indirect dispatch of "gaborKernelExact"
//                     (groups x, y, z) and the number of pixels listed for it
//   buffer 1          the listed pixels, x | y << 16, from listBase on (room for W x H)
//   location 8        tinted
//   location 10       the patch's slot
//   location 11       inversion flag, always 0 here: the presenter inverts
//   location 12       listBase
//   locations 14..19  the patch, computed in double on the CPU, then rounded: the
//                     centre (W / 2, H / 2), the orientation's cosine and sine,
//                     0.5 / (sigma R)^2, 2 pi frequency / 2R (R the envelope radius
//                     in pixels), phase (reduced to one turn), contrast
//   locations 20..83  the tint: the CPU tint's pixel for each grey byte, RGBA8 in a word
//   local size        16 x 16; dispatch ceil(W / 16) x ceil(H / 16) groups
//
// Every byte is the CPU reference's, which truncates a double-precision value.
// Each pixel is computed in single precision with its error bound; a pixel whose
// value lies within that bound of a whole byte (a small fraction) could truncate
// to the other side, so it is only listed, and "gaborKernelExact" computes just
// those in double precision. Nothing here uses double precision: consumer GPUs
// run it at 1/16 to 1/64 of single precision, and a software rasterizer runs
// both sides of a branch. The kernel writes floor(value) / 255, which the unorm
// store maps back to exactly that byte.

layout(local_size_x = 16, local_size_y = 16) in;

layout(binding = 0, rgba8) uniform restrict writeonly image2D outImage;

struct ExactCount {
    uint groupsX;
    uint groupsY;
    uint groupsZ;
    uint listed;
};
layout(std430, binding = 0) restrict buffer ExactCounts {
    ExactCount counts[];
};
layout(std430, binding = 1) restrict writeonly buffer ExactPixels {
    uint pixels[];
};

layout(location = 8) uniform bool tinted;
layout(location = 10) uniform uint slot;
layout(location = 11) uniform float inversionFlag;
layout(location = 12) uniform uint listBase;
layout(location = 14) uniform vec2 centreF;
layout(location = 15) uniform vec2 cosSinF;
layout(location = 16) uniform float envelopeScaleF;
layout(location = 17) uniform float carrierScaleF;
layout(location = 18) uniform float phaseF;
layout(location = 19) uniform float contrastF;
layout(location = 20) uniform uvec4 tintTable[64];

// ---- single precision ----
//
// GLSL guarantees correctly rounded +, - and *, but allows exp 3 + 2|x| ulp and
// cos an absolute 2^-11, far too coarse; so the range reductions and polynomials
// are our own and use only +, -, *, floor and ldexp (exact). Measured against
// double over dense grids: cosine within 1.4 u absolute (|x| <= 4096), e^-a
// within 1.4 u relative (0 <= a <= 87), u = 2^-24; the bound below takes 3 u
// for each. "precise" keeps the order of operations; a fused multiply-add, where
// a driver would still use one, only removes a rounding.

const float U = 5.9604645e-8; // 2^-24, the unit roundoff

// cos and sin of r in [-pi/4, pi/4] by minimax polynomials.
float cosPolyF(float r) {
    precise float z = r * r;
    precise float p = 2.443315711809948e-5;
    p = p * z - 1.388731625493765e-3;
    p = p * z + 4.166664568298827e-2;
    return p * z * z - 0.5 * z + 1.0;
}

float sinPolyF(float r) {
    precise float z = r * r;
    precise float p = -1.9515295891e-4;
    p = p * z + 8.3321608736e-3;
    p = p * z - 1.6666654611e-1;
    return p * z * r + r;
}

// cos x for |x| <= 4096: x = q pi/2 + r with pi/2 in three parts, the first two
// short enough that their products with |q| < 2^12 are exact.
float cosF(float x) {
    precise float q = floor(x * 0.63661977236758134 + 0.5);
    precise float r = x - q * 1.5703125;
    r = r - q * 4.8387050628662109e-4;
    r = r + q * 4.3711388286737929e-8;
    int quadrant = int(q - 4.0 * floor(q * 0.25));
    float value = (quadrant & 1) == 0 ? cosPolyF(r) : sinPolyF(r);
    // cos by quadrant: cos r, -sin r, -cos r, sin r.
    return ((quadrant + 1) & 2) == 0 ? value : -value;
}

// e^-a for 0 <= a <= 87 (below e^-87 a float is no longer normal: 0 is
// returned, and the bound counts what that drops): -a = k ln 2 + r with ln 2 in
// two parts, the first exact in any product with k.
float expNegF(float a) {
    if (!(a <= 87.0)) {
        return 0.0;
    }
    precise float k = floor(a * -1.4426950408889634 + 0.5);
    precise float r = -a - k * 0.693359375;
    r = r + k * 2.1219444170128554e-4;
    precise float p = 1.9875691500e-4;
    p = p * r + 1.3981999507e-3;
    p = p * r + 8.3334519073e-3;
    p = p * r + 4.1665795894e-2;
    p = p * r + 1.6666665459e-1;
    p = p * r + 5.0000001201e-1;
    p = p * r * r + r + 1.0;
    return ldexp(p, int(k));
}

// The value at pos in single precision; false when it may truncate to another
// byte than the reference's.
//
// The bound, to first order in u (every |error| below is against the reference's
// double value, whose own error, about 1e-13, is far inside the margin):
// - the constants are rounded once (u relative each); the offsets dx, dy are exact;
// - u = c dx + s dy and v: 3 u D, where D = |dx| + |dy|;
// - the carrier's argument phase + w u: u (2 pi + 5 |w| D + |arg|), its
//   reduction 3 u, the cosine 3 u: together below u (5 |w| D + |arg| + 13);
// - the envelope's exponent a = (u^2 + v^2) k: 16 u a, e^-a 3 u relative, and
//   E a <= 1/e, so E (16 u a + 3 u) < 9 u; the cut to 0 past a = 87 drops below
//   2e-38;
// - value = (contrast carrier E 0.5 + 0.5) 255: three roundings of the product
//   (3 u |t|) and two of the rest (2 u |value|).
// So |error| <= 127.5 u |contrast| (E (5 |w| D + |arg| + 25) + 2e-38) + 2 u |value|.
// The kernel allows twice that, plus 256 u for second-order terms; over 1.7e8
// pixels of random patches the largest error was 0.3 of what it allows.
bool singlePrecisionValue(ivec2 pos, out float value) {
    vec2 d = vec2(pos) + 0.5 - centreF;
    precise float u = cosSinF.x * d.x + cosSinF.y * d.y;
    precise float v = cosSinF.x * d.y - cosSinF.y * d.x;
    precise float envelope = expNegF((u * u + v * v) * envelopeScaleF);
    precise float argument = phaseF + carrierScaleF * u;
    if (!(abs(argument) <= 4096.0)) {
        return false;
    }
    precise float t = contrastF * cosF(argument) * envelope;
    precise float result = (t * 0.5 + 0.5) * 255.0;
    value = result;
    float spread = abs(carrierScaleF) * (abs(d.x) + abs(d.y));
    float bound = 2.0 * (127.5 * U * abs(contrastF) *
                             (envelope * (5.0 * spread + abs(argument) + 25.0) + 2e-38) +
                         2.0 * U * abs(value)) +
                  256.0 * U;
    float fraction = value - floor(value);
    return min(fraction, 1.0 - fraction) > bound; // false for NaN and infinity
}

// Writes the byte, through the tint's table when tinted.
void store(ivec2 pos, float value) {
    vec4 pixel = vec4(vec3(value / 255.0), 1.0);
    if (tinted) {
        uint grey = uint(value);
        pixel = unpackUnorm4x8(tintTable[grey >> 2u][grey & 3u]);
    }
    if (inversionFlag > 0.5) {
        pixel.rgb = 1.0 - pixel.rgb;
    }
    imageStore(outImage, pos, pixel);
}

void main() {
    ivec2 size = imageSize(outImage);
    ivec2 pos = ivec2(gl_GlobalInvocationID.xy);
    if (pos.x >= size.x || pos.y >= size.y) {
        return;
    }
    float value;
    if (singlePrecisionValue(pos, value)) {
        store(pos, floor(clamp(value, 0.0, 255.0)));
        return;
    }
    uint i = atomicAdd(counts[slot].listed, 1u);
    pixels[listBase + i] = uint(pos.x) | (uint(pos.y) << 16u);
    if (i % 64u == 0u) {
        atomicAdd(counts[slot].groupsX, 1u);
    }
}
