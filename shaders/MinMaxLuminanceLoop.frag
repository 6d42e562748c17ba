#version 330 compatibility

// One halving step of the luminance range reduction: the target texel (x, y) takes the smallest
// minimum (red) and the largest maximum (green) of source texels 2x and 2x + 1 by 2y and 2y + 1.
// At an odd size the block reaches one texel past the source's last column or row; that read is
// mirrored back onto the last one, so nothing from outside the image enters the range.

uniform sampler2D textureImage;
uniform int hRes; // size of the source level
uniform int vRes;

layout(location = 0) out vec4 range;

// The index of a texel past the last one, reflected the way a mirrored-repeat read reflects it:
// last + 1 reads last, last + 2 reads last - 1.
int mirrored(int index, int last)
{
    return index > last ? 2 * last + 1 - index : index;
}

vec2 rangeAt(ivec2 texel)
{
    ivec2 inside = ivec2(mirrored(texel.x, hRes - 1), mirrored(texel.y, vRes - 1));
    return texelFetch(textureImage, inside, 0).rg;
}

void main()
{
    ivec2 corner = 2 * ivec2(gl_FragCoord.xy);
    vec2 a = rangeAt(corner);
    vec2 b = rangeAt(corner + ivec2(1, 0));
    vec2 c = rangeAt(corner + ivec2(0, 1));
    vec2 d = rangeAt(corner + ivec2(1, 1));
    range = vec4(min(min(a.x, b.x), min(c.x, d.x)), max(max(a.y, b.y), max(c.y, d.y)), 0.0, 1.0);
}
