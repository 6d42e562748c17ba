#version 330 compatibility

// Decodes a stored RGBE disparity image into one float channel. Disparity is written grey, so
// the red mantissa carries it: value = mantissa × 2^(E − 136), with the bytes read as 0 to 255.

uniform sampler2D textureImage;

in vec2 uv;
layout(location = 0) out vec4 disparity;

float decode(vec4 stored)
{
    vec4 rgbe = floor(stored * 255.0 + 0.5);
    return rgbe.r * exp2(rgbe.a - 136.0);
}

void main()
{
    // The output has the input's size: each output texel takes the input texel it covers.
    disparity = vec4(decode(texelFetch(textureImage, ivec2(gl_FragCoord.xy), 0)), 0.0, 0.0, 1.0);
}
