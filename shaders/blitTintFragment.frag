#version 430 core
// "blitTintFragment": "blitFragment" for a display correction that changes
// nothing (gamma 1, no inversion, no black lift): the texel times the
// illuminant tint, opaque. The same picture for a fraction of the work where
// the GPU is the CPU (a shader this plain takes the software rasterizer's fast
// path).
//
// Bindings as "blitFragment":
//   sampler binding 0   frame texture (rgba8)
//   location 3          illuminantTint (vec3; white = no change)

in vec2 texCoord;

layout(binding = 0) uniform sampler2D frameTexture;
layout(location = 3) uniform vec3 illuminantTint;

layout(location = 0) out vec4 fragColor;

void main() {
    fragColor = vec4(texture(frameTexture, texCoord).rgb * illuminantTint, 1.0);
}
