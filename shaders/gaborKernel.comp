#version 430 core
// "gaborKernel": one Gabor patch per dispatch, optionally tinted.
//
// Bindings:
//   image unit 0      output, rgba8, W x H (texel row 0 = top row of the patch)
//   location 0..11    PatchKernelParams, one float each:
//                     0 frequency, 1 orientation (degrees), 2 phase, 3 sigma,
//                     4 contrast, 5 centre x, 6 centre y, 7 envelope radius R
//                     (pixels, at most half the shorter side, so the window fits
//                     the patch), 8 hue, 9 tint saturation (0 = grey),
//                     10 black level, 11 inversion flag (always 0 here: the presenter
//                     inverts); phase and orientation arrive reduced to one turn
//   local size        16 x 16; dispatch ceil(W / 16) x ceil(H / 16) groups
//
// Stored bytes are truncated like the CPU reference: the kernel writes
// floor(value) / 255, which the unorm store maps back to exactly that byte.

layout(local_size_x = 16, local_size_y = 16) in;

layout(binding = 0, rgba8) uniform restrict writeonly image2D outImage;

layout(location = 0) uniform float frequency;
layout(location = 1) uniform float orientation;
layout(location = 2) uniform float phase;
layout(location = 3) uniform float sigma;
layout(location = 4) uniform float contrast;
layout(location = 5) uniform float centreX;
layout(location = 6) uniform float centreY;
layout(location = 7) uniform float radius;
layout(location = 8) uniform float hue;
layout(location = 9) uniform float tintSaturation;
layout(location = 10) uniform float blackLevel;
layout(location = 11) uniform float inversionFlag;

const float PI = 3.14159265358979323846;

float hueChannel(float t, float p, float q) {
    if (t < 0.0) {
        t += 1.0;
    } else if (t > 1.0) {
        t -= 1.0;
    }
    if (t < 1.0 / 6.0) {
        return p + (q - p) * 6.0 * t;
    }
    if (t < 0.5) {
        return q;
    }
    if (t < 2.0 / 3.0) {
        return p + (q - p) * 6.0 * (2.0 / 3.0 - t);
    }
    return p;
}

// HSL to RGB at lightness 0.5; whole turns of the hue drop out first.
vec3 hueToTint(float hue, float saturation) {
    float h = hue - floor(hue);
    float q = 0.5 * (1.0 + saturation);
    float p = 1.0 - q;
    return vec3(hueChannel(h + 1.0 / 3.0, p, q), hueChannel(h, p, q),
                hueChannel(h - 1.0 / 3.0, p, q));
}

void main() {
    ivec2 size = imageSize(outImage);
    ivec2 pos = ivec2(gl_GlobalInvocationID.xy);
    if (pos.x >= size.x || pos.y >= size.y) {
        return;
    }

    float theta = orientation * PI / 180.0;
    float s = sin(theta);
    float c = cos(theta);
    float sig = max(sigma * radius, 1e-6);

    float dx = float(pos.x) + 0.5 - centreX;
    float dy = float(pos.y) + 0.5 - centreY;
    float u = c * dx + s * dy;
    float v = c * dy - s * dx;
    float envelope = exp(-0.5 * (u * u + v * v) / (sig * sig));
    float carrier = cos(phase + 2.0 * PI * frequency * u / (2.0 * radius));
    float value = (contrast * carrier * envelope * 0.5 + 0.5) * 255.0;
    value = isnan(value) ? 255.0 : floor(clamp(value, 0.0, 255.0));

    vec3 rgb = vec3(value);
    if (tintSaturation > 0.0) {
        // The CPU tint's steps on 8-bit channels, each rounded to the nearest
        // byte: Overlay with the black-level grey, then Multiply with the hue.
        if (blackLevel > 0.001) {
            float b = value / 255.0;
            float g = (1.0 - blackLevel) * 0.5;
            float overlay = (b <= 0.5) ? 2.0 * g * b : 1.0 - 2.0 * (1.0 - g) * (1.0 - b);
            rgb = vec3(floor(clamp(overlay, 0.0, 1.0) * 255.0 + 0.5));
        }
        vec3 tint = hueToTint(hue, tintSaturation);
        rgb = floor(clamp(rgb / 255.0 * tint, 0.0, 1.0) * 255.0 + 0.5);
    }
    if (inversionFlag > 0.5) {
        rgb = 255.0 - rgb;
    }
    imageStore(outImage, pos, vec4(rgb / 255.0, 1.0));
}
