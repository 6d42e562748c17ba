#version 330 compatibility

// Decodes a stored RGBE disparity image into one float channel. Disparity is written grey, so
// the red mantissa carries it: value = mantissa × 2^(E − 136), with the bytes read as 0 to 255.

uniform sampler2D textureImage;

in vec2 uv;
layout(location = 0) out vec4 disparity;

void main()
{
    vec4 rgbe = floor(texture(textureImage, uv) * 255.0 + 0.5);
    disparity = vec4(rgbe.r * exp2(rgbe.a - 136.0), 0.0, 0.0, 1.0);
}
