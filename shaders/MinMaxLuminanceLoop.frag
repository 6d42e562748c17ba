#version 330 compatibility

// One step of the luminance range reduction: the target texel (x, y) takes the smallest minimum
// (red) and the largest maximum (green) of the source's block of 8 × 8 texels from (8x, 8y). At a
// size that is not a whole number of blocks, reads past the source's last column or row are
// clamped onto them, so nothing from outside the level enters the range.

uniform sampler2D textureImage;
uniform int hRes; // size of the source level
uniform int vRes;

layout(location = 0) out vec4 range;

const int block = 8;

void main()
{
    ivec2 corner = block * ivec2(gl_FragCoord.xy);
    ivec2 last = ivec2(hRes, vRes) - 1;
    vec2 lowest = vec2(1.0);
    vec2 highest = vec2(0.0);
    for (int y = 0; y < block; ++y) {
        for (int x = 0; x < block; ++x) {
            vec2 texel = texelFetch(textureImage, min(corner + ivec2(x, y), last), 0).rg;
            lowest = min(lowest, texel);
            highest = max(highest, texel);
        }
    }
    range = vec4(lowest.x, highest.y, 0.0, 1.0);
}
