#version 330 compatibility

// Decodes an RGBE view to linear colour, divides it by the white point and applies the gamma
// curve channel^(1 / gamma). The target is half-float, so values above 1 survive; those beyond
// the largest half float are held there rather than turning into infinity.

uniform sampler2D textureImage;
uniform float whitePoint;
uniform float gamma;

in vec2 uv;
layout(location = 0) out vec4 colour;

const float largestHalf = 65504.0;

void main()
{
    vec4 rgbe = floor(texture(textureImage, uv) * 255.0 + 0.5);
    vec3 linear = rgbe.rgb * exp2(rgbe.a - 136.0) / whitePoint;
    // A gamma of 1 is a plain decode; pow would cost it a few units in the last place.
    vec3 curved = gamma == 1.0 ? linear : pow(linear, vec3(1.0 / gamma));
    colour = vec4(min(curved, vec3(largestHalf)), 1.0);
}
