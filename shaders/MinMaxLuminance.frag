#version 330 compatibility

// First step of the luminance range reduction: the smallest (red) and largest (green) luminance
// of a block of 8 × 4 texels of the measured rectangle. The rectangle need not be a whole number
// of blocks: reads past its last column or row are clamped onto them, and a texel read twice
// changes neither extreme. Rounding to bytes keeps the order of values, so the extremes written as
// bytes are the extremes of the texels' luminances written as bytes.

uniform sampler2D textureImage;
// The measured rectangle: its lower-left texel and its size in texels.
uniform int left;
uniform int bottom;
uniform int measuredWidth;
uniform int measuredHeight;

layout(location = 0) out vec4 range;

// Half the rows of the later passes' blocks: a software driver draws a target in tiles of 64 × 64
// pixels, a thread each, and a 512 × 512 picture in blocks of 8 × 8 would make one tile.
const ivec2 block = ivec2(8, 4);
const vec3 luminanceWeights = vec3(0.2126, 0.7152, 0.0722);

void main()
{
    ivec2 corner = block * ivec2(gl_FragCoord.xy);
    ivec2 origin = ivec2(left, bottom);
    ivec2 last = ivec2(measuredWidth, measuredHeight) - 1;
    float lowest = 1.0;
    float highest = 0.0;
    for (int y = 0; y < block.y; ++y) {
        for (int x = 0; x < block.x; ++x) {
            ivec2 texel = origin + min(corner + ivec2(x, y), last);
            float luminance = dot(texelFetch(textureImage, texel, 0).rgb, luminanceWeights);
            lowest = min(lowest, luminance);
            highest = max(highest, luminance);
        }
    }
    range = vec4(lowest, highest, 0.0, 1.0);
}
