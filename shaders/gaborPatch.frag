#version 430 core
// "gaborPatch": the image-filter generator's kernel, drawn over a W x H
// framebuffer (viewport (0, 0, W, H), any primitive that covers it).
//
// Bindings:
//   location 0..7   one float each: 0 frequency, 1 orientation (degrees),
//                   2 phase, 3 sigma, 4 contrast, 5 centre x, 6 centre y,
//                   7 envelope radius (pixels)
//
// Framebuffer row r holds patch row r counted from the top, so reading the
// framebuffer back row by row (glReadPixels) gives the patch top row first,
// like the CPU reference. Bytes are truncated the same way: floor(value) / 255.

layout(location = 0) uniform float frequency;
layout(location = 1) uniform float orientation;
layout(location = 2) uniform float phase;
layout(location = 3) uniform float sigma;
layout(location = 4) uniform float contrast;
layout(location = 5) uniform float centreX;
layout(location = 6) uniform float centreY;
layout(location = 7) uniform float radius;

layout(location = 0) out vec4 fragColor;

const float PI = 3.14159265358979323846;

void main() {
    float theta = orientation * PI / 180.0;
    float s = sin(theta);
    float c = cos(theta);
    float sig = max(sigma * radius, 1e-6);

    // gl_FragCoord is the pixel centre (x + 0.5, r + 0.5).
    float dx = gl_FragCoord.x - centreX;
    float dy = gl_FragCoord.y - centreY;
    float u = c * dx + s * dy;
    float v = c * dy - s * dx;
    float envelope = exp(-0.5 * (u * u + v * v) / (sig * sig));
    float carrier = cos(phase + 2.0 * PI * frequency * u / (2.0 * radius));
    float value = (contrast * carrier * envelope * 0.5 + 0.5) * 255.0;
    value = isnan(value) ? 255.0 : floor(clamp(value, 0.0, 255.0));
    fragColor = vec4(vec3(value / 255.0), 1.0);
}
