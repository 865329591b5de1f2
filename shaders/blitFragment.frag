#version 430 core
// "blitFragment": shows the frame texture with the display correction.
//
// Bindings:
//   sampler binding 0   frame texture (rgba8)
//   location 0          displayGamma (> 0)
//   location 1          inversionFlag (1.0 inverts, 0.0 not)
//   location 2          displayBlackLift (0 = none)
//   location 3          illuminantTint (vec3; white = no change)
//
// Display correction, in this order:
//   c = texel.rgb
//   if inversionFlag > 0.5: c = 1 - c
//   c = pow(c, 1 / displayGamma)
//   c = displayBlackLift + (1 - displayBlackLift) * c
//   c *= illuminantTint
//   alpha = 1

in vec2 texCoord;

layout(binding = 0) uniform sampler2D frameTexture;
layout(location = 0) uniform float displayGamma;
layout(location = 1) uniform float inversionFlag;
layout(location = 2) uniform float displayBlackLift;
layout(location = 3) uniform vec3 illuminantTint;

layout(location = 0) out vec4 fragColor;

void main() {
    vec3 c = texture(frameTexture, texCoord).rgb;
    if (inversionFlag > 0.5) {
        c = 1.0 - c;
    }
    c = pow(c, vec3(1.0 / displayGamma));
    c = displayBlackLift + (1.0 - displayBlackLift) * c;
    c *= illuminantTint;
    fragColor = vec4(c, 1.0);
}
