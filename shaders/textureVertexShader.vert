#version 330 core

// The four corners of a quad covering the whole drawable, from the vertex index alone (no vertex
// data is bound). Strip order: bottom left, bottom right, top left, top right.
out vec2 textureCoordinate;

void main() {
    vec2 corner = vec2(float(gl_VertexID & 1), float((gl_VertexID >> 1) & 1));
    gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
    // Texture row 0 is the first row the host wrote: it belongs at the top of the picture.
    textureCoordinate = vec2(corner.x, 1.0 - corner.y);
}
