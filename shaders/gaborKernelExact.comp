#version 430 core
// "gaborKernelExact": the pixels "gaborKernel" listed as too close to a whole
// byte to call in single precision, computed as the CPU reference computes them:
// in double precision, in the same order of operations. GLSL has no double exp
// or cos, so they are computed here.
//
// Bindings:
//   image unit 0      output, as "gaborKernel"'s
//   buffers 0, 1      the counts and the list "gaborKernel" wrote
//   locations 0..7    the patch in double precision: frequency, orientation
//                     (degrees), phase, sigma, contrast, centre x, centre y,
//                     envelope radius R (pixels, at most half the shorter side);
//                     phase and orientation arrive reduced to one turn
//   locations 8..12, 20..83   as "gaborKernel"'s
//   local size        64; dispatched indirectly from the slot's count record,
//                     one group per 64 listed pixels

layout(local_size_x = 64) in;

layout(binding = 0, rgba8) uniform restrict writeonly image2D outImage;

struct ExactCount {
    uint groupsX;
    uint groupsY;
    uint groupsZ;
    uint listed;
};
layout(std430, binding = 0) restrict readonly buffer ExactCounts {
    ExactCount counts[];
};
layout(std430, binding = 1) restrict readonly buffer ExactPixels {
    uint pixels[];
};

layout(location = 0) uniform double frequency;
layout(location = 1) uniform double orientation;
layout(location = 2) uniform double phase;
layout(location = 3) uniform double sigma;
layout(location = 4) uniform double contrast;
layout(location = 5) uniform double centreX;
layout(location = 6) uniform double centreY;
layout(location = 7) uniform double radius;
layout(location = 8) uniform bool tinted;
layout(location = 10) uniform uint slot;
layout(location = 11) uniform float inversionFlag;
layout(location = 12) uniform uint listBase;
layout(location = 20) uniform uvec4 tintTable[64];

const double PI_D = 3.141592653589793LF;

// e^x for the envelope (x <= 0): x = k ln 2 + r with |r| <= ln 2 / 2 (ln 2 in
// two parts, the first exact in any product with k), e^r by its Taylor series
// to r^13 (the next term is below 2^-56), scaled by 2^k.
double expD(double x) {
    if (!(x > -745.2LF)) {
        return isnan(x) ? x : 0.0LF; // below the smallest double
    }
    precise double k = floor(x * 1.4426950408889634LF + 0.5LF);
    precise double r = (x - k * 6.93147180369123816490e-01LF) - k * 1.90821492927058770002e-10LF;
    double p = 1.6059043836821613e-10LF;
    p = p * r + 2.08767569878681e-09LF;
    p = p * r + 2.505210838544172e-08LF;
    p = p * r + 2.755731922398589e-07LF;
    p = p * r + 2.7557319223985893e-06LF;
    p = p * r + 2.48015873015873e-05LF;
    p = p * r + 0.0001984126984126984LF;
    p = p * r + 0.001388888888888889LF;
    p = p * r + 0.008333333333333333LF;
    p = p * r + 0.041666666666666664LF;
    p = p * r + 0.16666666666666666LF;
    p = p * r + 0.5LF;
    p = p * r + 1.0LF;
    p = p * r + 1.0LF;
    return ldexp(p, int(k));
}

// sin and cos of r in [-pi/4, pi/4] by their Taylor series (to r^17 and r^16).
double sinPoly(double r) {
    double r2 = r * r;
    double p = 2.8114572543455206e-15LF;
    p = p * r2 - 7.647163731819816e-13LF;
    p = p * r2 + 1.6059043836821613e-10LF;
    p = p * r2 - 2.505210838544172e-08LF;
    p = p * r2 + 2.7557319223985893e-06LF;
    p = p * r2 - 0.0001984126984126984LF;
    p = p * r2 + 0.008333333333333333LF;
    p = p * r2 - 0.16666666666666666LF;
    return r + r * r2 * p;
}

double cosPoly(double r) {
    double r2 = r * r;
    double p = 4.779477332387385e-14LF;
    p = p * r2 - 1.1470745597729725e-11LF;
    p = p * r2 + 2.08767569878681e-09LF;
    p = p * r2 - 2.755731922398589e-07LF;
    p = p * r2 + 2.48015873015873e-05LF;
    p = p * r2 - 0.001388888888888889LF;
    p = p * r2 + 0.041666666666666664LF;
    return 1.0LF - 0.5LF * r2 + r2 * r2 * p;
}

// sin (wantSin) or cos of x: x = q pi/2 + r with pi/2 in three parts whose
// products with q are exact while |x| < 2^20 pi/2, which every argument here is.
double sinOrCosD(double x, bool wantSin) {
    if (isnan(x) || isinf(x)) {
        return x - x; // NaN, as the C library gives
    }
    precise double q = floor(x * 6.36619772367581382433e-01LF + 0.5LF);
    precise double r = x - q * 1.57079632673412561417e+00LF;
    r = r - q * 6.07710050630396597660e-11LF;
    r = r - q * 2.02226624871116645580e-21LF;
    r = r - q * 8.47842766036889956997e-32LF;
    int quadrant = int(q - 4.0LF * floor(q * 0.25LF)) + (wantSin ? 3 : 0);
    double value = (quadrant & 1) == 0 ? cosPoly(r) : sinPoly(r);
    // cos by quadrant: cos r, -sin r, -cos r, sin r; sin(x) = cos(x - pi/2).
    return ((quadrant + 1) & 2) == 0 ? value : -value;
}

// The reference's arithmetic, step by step.
float exactValue(ivec2 pos) {
    double theta = orientation * PI_D / 180.0LF;
    double s = sinOrCosD(theta, true);
    double c = sinOrCosD(theta, false);
    double sig = sigma * radius;
    if (sig < 1e-6LF) {
        sig = 1e-6LF;
    }
    double sig2 = sig * sig;
    double twoPi = 2.0LF * PI_D;
    double twoR = 2.0LF * radius;

    precise double dx = double(pos.x) + 0.5LF - centreX;
    precise double dy = double(pos.y) + 0.5LF - centreY;
    precise double u = c * dx + s * dy;
    precise double v = c * dy - s * dx;
    precise double envelope = expD(-0.5LF * (u * u + v * v) / sig2);
    precise double carrier = sinOrCosD(phase + twoPi * frequency * u / twoR, false);
    precise double exact = (contrast * carrier * envelope * 0.5LF + 0.5LF) * 255.0LF;
    return isnan(exact) ? 255.0 : float(floor(clamp(exact, 0.0LF, 255.0LF)));
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
    uint i = gl_GlobalInvocationID.x;
    if (i >= counts[slot].listed) {
        return;
    }
    uint entry = pixels[listBase + i];
    ivec2 pos = ivec2(entry & 0xffffu, entry >> 16u);
    store(pos, exactValue(pos));
}
