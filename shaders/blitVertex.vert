#version 430 core
// "blitVertex": a full-viewport quad without vertex buffers.
//
// Draw 4 vertices as a triangle strip (an empty VAO bound); the quad is made
// from gl_VertexID. Texel row 0 (t = 0) is shown at the TOP of the viewport,
// because texel row 0 holds the image's top row everywhere.

out vec2 texCoord;

void main() {
    // 0: bottom-left, 1: bottom-right, 2: top-left, 3: top-right.
    vec2 corner = vec2(float(gl_VertexID & 1), float((gl_VertexID >> 1) & 1));
    texCoord = vec2(corner.x, 1.0 - corner.y);
    gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
}
