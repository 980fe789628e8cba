#version 330 core

// Samples the frame texture bound at unit 0; the sampler settings (linear filtering, clamp to
// edge) are the preview's own, not the texture's.
in vec2 textureCoordinate;
uniform sampler2D frameTexture;
out vec4 colour;

void main() {
    // The texel as it is. The drawable is shown opaque, so the frame's alpha never shows. (Forcing
    // alpha to 1 here sends Mesa 22's llvmpipe down a fast path that swaps red and blue.)
    colour = texture(frameTexture, textureCoordinate);
}
