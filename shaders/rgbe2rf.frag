#version 330 compatibility

// Decodes a stored RGBE disparity image into one float channel. Disparity is written grey, so
// the red mantissa carries it: value = mantissa × 2^(E − 136), with the bytes read as 0 to 255.
//
// Compiled with DISPARITY_TILES it writes instead, for each tile of 8 × 8 texels, the largest
// disparity in it: one output texel per tile, in the same order as the texels.

uniform sampler2D textureImage;

in vec2 uv;
layout(location = 0) out vec4 disparity;

float decode(vec4 stored)
{
    vec4 rgbe = floor(stored * 255.0 + 0.5);
    return rgbe.r * exp2(rgbe.a - 136.0);
}

#ifdef DISPARITY_TILES
uniform int horizontalResolution; // of the view
uniform int verticalResolution;

// The side of a tile (the viewer's disparityTileSize). A constant, so that the loops over a tile
// have constant bounds, which a software driver unrolls; reads past the view's last column or row
// are clamped onto it, and a texel read twice changes no maximum.
const int tileSize = 8;

void main()
{
    ivec2 first = ivec2(gl_FragCoord.xy) * tileSize;
    ivec2 last = min(first + tileSize, ivec2(horizontalResolution, verticalResolution)) - 1;
    float largest = 0.0;
    for (int y = 0; y < tileSize; ++y) {
        for (int x = 0; x < tileSize; ++x) {
            ivec2 texel = min(first + ivec2(x, y), last);
            largest = max(largest, decode(texelFetch(textureImage, texel, 0)));
        }
    }
    disparity = vec4(largest, 0.0, 0.0, 1.0);
}
#else
void main()
{
    // The output has the input's size: each output texel takes the input texel it covers.
    disparity = vec4(decode(texelFetch(textureImage, ivec2(gl_FragCoord.xy), 0)), 0.0, 0.0, 1.0);
}
#endif
