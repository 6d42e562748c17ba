#version 330 compatibility

// Decodes a stored RGBE disparity image into one float channel. Disparity is written grey, so
// the red mantissa carries it: value = mantissa × 2^(E − 136), with the bytes read as 0 to 255.
//
// Compiled with DISPARITY_TILES it writes instead, for each tile of tileSize × tileSize texels,
// the largest disparity in it: one output texel per tile, in the same order as the texels.

uniform sampler2D textureImage;

in vec2 uv;
layout(location = 0) out vec4 disparity;

float decode(vec4 stored)
{
    vec4 rgbe = floor(stored * 255.0 + 0.5);
    return rgbe.r * exp2(rgbe.a - 136.0);
}

#ifdef DISPARITY_TILES
uniform int tileSize;
uniform int horizontalResolution; // of the view
uniform int verticalResolution;

void main()
{
    ivec2 first = ivec2(gl_FragCoord.xy) * tileSize;
    ivec2 end = min(first + tileSize, ivec2(horizontalResolution, verticalResolution));
    float largest = 0.0;
    for (int y = first.y; y < end.y; ++y) {
        for (int x = first.x; x < end.x; ++x)
            largest = max(largest, decode(texelFetch(textureImage, ivec2(x, y), 0)));
    }
    disparity = vec4(largest, 0.0, 0.0, 1.0);
}
#else
void main()
{
    disparity = vec4(decode(texture(textureImage, uv)), 0.0, 0.0, 1.0);
}
#endif
