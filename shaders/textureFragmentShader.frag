#version 330 core

// Samples the frame texture bound at unit 0; the sampler settings (linear filtering, clamp to
// edge) are the preview's own, not the texture's.
in vec2 textureCoordinate;
uniform sampler2D frameTexture;
out vec4 colour;

void main() {
    // The drawable is opaque: the frame's alpha does not show through.
    colour = vec4(texture(frameTexture, textureCoordinate).rgb, 1.0);
}
