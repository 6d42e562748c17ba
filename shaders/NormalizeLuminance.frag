#version 330 compatibility

// Stretches the measured luminance range [minLuminance, maxLuminance] (bytes) onto 0 to 1; the
// 8-bit target clamps what lies outside. An empty or reversed range (a flat or black picture)
// has nothing to stretch, and the picture passes unchanged.

uniform sampler2D textureImage;
uniform int minLuminance; // 0 to 255
uniform int maxLuminance;

in vec2 uv;
layout(location = 0) out vec4 colour;

void main()
{
    vec4 texel = texture(textureImage, uv);
    if (maxLuminance <= minLuminance) {
        colour = texel;
        return;
    }
    float low = float(minLuminance) / 255.0;
    float span = float(maxLuminance - minLuminance) / 255.0;
    colour = vec4((texel.rgb - low) / span, texel.a);
}
