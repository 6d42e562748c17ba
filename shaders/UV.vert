#version 330 compatibility

// Shared by every pass: the quad's corners arrive in clip space as legacy vertex positions, and
// texture coordinate set 0 becomes the pass's UV coordinate.

out vec2 uv;

void main()
{
    gl_Position = gl_Vertex;
    uv = gl_MultiTexCoord0.st;
}
