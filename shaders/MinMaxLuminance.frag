#version 330 compatibility

// First step of the luminance range reduction: each texel's luminance, as the minimum (red) and
// the maximum (green) of a block of one texel.

uniform sampler2D textureImage;

in vec2 uv;
layout(location = 0) out vec4 range;

const vec3 luminanceWeights = vec3(0.2126, 0.7152, 0.0722);

void main()
{
    float luminance = dot(texture(textureImage, uv).rgb, luminanceWeights);
    range = vec4(luminance, luminance, 0.0, 1.0);
}
