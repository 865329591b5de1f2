#version 430 core
// "stereoFragment": a stereo pair in one pass, laid out as the presenter asks,
// then "blitFragment"'s display correction and the illuminant tint. Drawn over
// the whole window with "blitVertex"; works in whole window pixels, rows counted
// from the window's top.
//
// Bindings:
//   sampler binding 0   the first eye's texture (rgba8): the first half, or the left eye
//   sampler binding 1   the second eye's texture: the second half, or the right eye
//   location 0..3       displayGamma, inversionFlag, displayBlackLift, illuminantTint
//                       (as "blitFragment")
//   location 4          layoutKind: 0 side by side, 1 anaglyph, 2 row-interleaved
//   location 5          frameSize (ivec2): the window in pixels
//   location 6          halfRect (ivec4): x of the first half, its top row, width, height
//   location 7          secondHalfX: x of the second half
//   location 8          marks (ivec4): the two marks' centre columns, their centre row,
//                       and the limit of dx*dx + dy*dy (negative: no marks)
//   location 9          surround (vec3): around and between the halves
//   location 12         anaglyphLeft (mat3), location 16 anaglyphRight (mat3):
//                       output colour = clamp(left matrix * left + right matrix * right)
//   location 20         corrects: 0 skips the display correction (it would change nothing)
//
// Side by side: marks black, the halves stretched from their textures, the rest
// the surround. Anaglyph: both textures over the whole window, mixed. Rows: even
// rows from the top show the left eye, odd rows the right, both over the whole
// window.

layout(binding = 0) uniform sampler2D firstTexture;
layout(binding = 1) uniform sampler2D secondTexture;
layout(location = 0) uniform float displayGamma;
layout(location = 1) uniform float inversionFlag;
layout(location = 2) uniform float displayBlackLift;
layout(location = 3) uniform vec3 illuminantTint;
layout(location = 4) uniform int layoutKind;
layout(location = 5) uniform ivec2 frameSize;
layout(location = 6) uniform ivec4 halfRect;
layout(location = 7) uniform int secondHalfX;
layout(location = 8) uniform ivec4 marks;
layout(location = 9) uniform vec3 surround;
layout(location = 12) uniform mat3 anaglyphLeft;
layout(location = 16) uniform mat3 anaglyphRight;
layout(location = 20) uniform int corrects;

layout(location = 0) out vec4 fragColor;

vec3 sideBySide(ivec2 p) {
    int dy = p.y - marks.z;
    int dx0 = p.x - marks.x;
    int dx1 = p.x - marks.y;
    if (dx0 * dx0 + dy * dy <= marks.w || dx1 * dx1 + dy * dy <= marks.w) {
        return vec3(0.0);
    }
    int row = p.y - halfRect.y;
    if (row < 0 || row >= halfRect.w) {
        return surround;
    }
    float v = (float(row) + 0.5) / float(halfRect.w);
    int column = p.x - halfRect.x;
    if (column >= 0 && column < halfRect.z) {
        return texture(firstTexture, vec2((float(column) + 0.5) / float(halfRect.z), v)).rgb;
    }
    column = p.x - secondHalfX;
    if (column >= 0 && column < halfRect.z) {
        return texture(secondTexture, vec2((float(column) + 0.5) / float(halfRect.z), v)).rgb;
    }
    return surround;
}

void main() {
    ivec2 p = ivec2(int(gl_FragCoord.x), frameSize.y - 1 - int(gl_FragCoord.y));
    vec3 c;
    if (layoutKind == 0) {
        c = sideBySide(p);
    } else {
        vec2 uv = (vec2(p) + 0.5) / vec2(frameSize);
        if (layoutKind == 1) {
            vec3 l = texture(firstTexture, uv).rgb;
            vec3 r = texture(secondTexture, uv).rgb;
            c = clamp(anaglyphLeft * l + anaglyphRight * r, 0.0, 1.0);
        } else if ((p.y & 1) == 0) {
            c = texture(firstTexture, uv).rgb;
        } else {
            c = texture(secondTexture, uv).rgb;
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
