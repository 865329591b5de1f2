#version 430 core
// "stereoFragment": what a stereo pair shows besides plain blits of its halves
// and their surround, in one draw over the window (or over the squares of the
// fusion marks the scissor leaves), then "blitFragment"'s display correction
// and the illuminant tint. Drawn with "blitVertex"; works in whole window
// pixels, rows counted from the window's top.
//
// Bindings:
//   sampler binding 0   the left eye's texture (rgba8)
//   sampler binding 1   the right eye's texture
//   location 0..3       displayGamma, inversionFlag, displayBlackLift, illuminantTint
//                       (as "blitFragment")
//   location 4          layoutKind: 0 the marks of a side-by-side pair, 1 anaglyph,
//                       2 row-interleaved
//   location 5          frameSize (ivec2): the window in pixels
//   location 8          marks (ivec4): the two fusion marks' centre columns, their
//                       centre row, and the limit of dx*dx + dy*dy (negative: no marks)
//   location 9          surround (vec3): the grey around and between the halves
//   location 12         anaglyphLeft (mat3), location 16 anaglyphRight (mat3):
//                       colour = clamp(left matrix * left + right matrix * right)
//   location 20         corrects: 0 skips the display correction (it would change nothing)
//
// A pair's marks: black within the marks, the surround grey elsewhere.
// Anaglyph: both eyes over the whole window, mixed. Rows: even rows from the
// top show the left eye, odd rows the right, both over the whole window.

layout(binding = 0) uniform sampler2D leftTexture;
layout(binding = 1) uniform sampler2D rightTexture;
layout(location = 0) uniform float displayGamma;
layout(location = 1) uniform float inversionFlag;
layout(location = 2) uniform float displayBlackLift;
layout(location = 3) uniform vec3 illuminantTint;
layout(location = 4) uniform int layoutKind;
layout(location = 5) uniform ivec2 frameSize;
layout(location = 8) uniform ivec4 marks;
layout(location = 9) uniform vec3 surround;
layout(location = 12) uniform mat3 anaglyphLeft;
layout(location = 16) uniform mat3 anaglyphRight;
layout(location = 20) uniform int corrects;

layout(location = 0) out vec4 fragColor;

vec3 markSquare(ivec2 p) {
    int dy = p.y - marks.z;
    int dx0 = p.x - marks.x;
    int dx1 = p.x - marks.y;
    if (dx0 * dx0 + dy * dy <= marks.w || dx1 * dx1 + dy * dy <= marks.w) {
        return vec3(0.0);
    }
    return surround;
}

void main() {
    ivec2 p = ivec2(int(gl_FragCoord.x), frameSize.y - 1 - int(gl_FragCoord.y));
    vec3 c;
    if (layoutKind == 0) {
        c = markSquare(p);
    } else {
        vec2 uv = (vec2(p) + 0.5) / vec2(frameSize);
        if (layoutKind == 1) {
            vec3 l = texture(leftTexture, uv).rgb;
            vec3 r = texture(rightTexture, uv).rgb;
            c = clamp(anaglyphLeft * l + anaglyphRight * r, 0.0, 1.0);
        } else if ((p.y & 1) == 0) {
            c = texture(leftTexture, uv).rgb;
        } else {
            c = texture(rightTexture, uv).rgb;
        }
    }
    if (corrects != 0) {
        if (inversionFlag > 0.5) {
            c = 1.0 - c;
        }
        c = pow(c, vec3(1.0 / displayGamma));
        c = displayBlackLift + (1.0 - displayBlackLift) * c;
    }
    c *= illuminantTint;
    fragColor = vec4(c, 1.0);
}
