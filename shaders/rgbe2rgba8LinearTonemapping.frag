#version 330 compatibility

// Decodes an RGBE view to linear colour, divides it by the white point and applies the gamma
// curve channel^(1 / gamma). The target is half-float, so values above 1 survive; those beyond
// the largest half float are held there rather than turning into infinity.

uniform sampler2D textureImage;
uniform float whitePoint;
uniform float gamma;
// m^(1 / gamma) for every mantissa byte m: a channel's power is then its mantissa's times that of
// the exponent its texel shares, one exp2 a texel instead of a power a channel.
uniform float mantissaPower[256];

in vec2 uv;
layout(location = 0) out vec4 colour;

const float largestHalf = 65504.0;

void main()
{
    ivec4 rgbe = ivec4(texture(textureImage, uv) * 255.0 + 0.5);
    vec3 curved;
    if (gamma == 1.0) {
        // A plain decode, exact.
        curved = vec3(rgbe.rgb) * exp2(float(rgbe.a) - 136.0) / whitePoint;
    } else {
        // (m × 2^(E − 136) / whitePoint)^(1 / gamma) = m^(1 / gamma) × 2^((E − 136 − log2
        // whitePoint) / gamma).
        float shared = exp2((float(rgbe.a) - 136.0 - log2(whitePoint)) / gamma);
        curved = vec3(mantissaPower[rgbe.r], mantissaPower[rgbe.g], mantissaPower[rgbe.b]) * shared;
    }
    colour = vec4(min(curved, vec3(largestHalf)), 1.0);
}
