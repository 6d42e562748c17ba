#version 330 compatibility

// The photoreceptor operator of Reinhard and Devlin (2005), evaluated with the statistics of each
// of the four stored views the camera's view was made from (base, right, diagonal, below) and
// blended with their bilinear weights, so the tone mapping follows the camera smoothly across a
// grid cell. Each channel x of the linear colour becomes x / (x + (f·Ia)^m[i]), where the
// adaptation level Ia mixes the pixel (local) with view i's averages (global), per channel and in
// luminance, and f is exp(-brightness).

uniform sampler2D textureImage;
uniform float brightness;
uniform float chromaticAdaptation; // c: 1 adapts each channel on its own, 0 to luminance only
uniform float lightAdaptation; // a: 1 adapts to the pixel, 0 to the whole view
uniform float preGamma; // undoes the gamma the linear plane stage applied
uniform float m[4]; // contrast exponent of each view
uniform float weight[4]; // bilinear weight of each view; they sum to 1
uniform float averageRed[4];
uniform float averageGreen[4];
uniform float averageBlue[4];
uniform float averageLuminance[4];
// Handed over for every view, though each view's contrast already comes in m.
uniform float averageLogLuminance[4];
uniform float minLuminance[4];
uniform float maxLuminance[4];

in vec2 uv;
layout(location = 0) out vec4 colour;

const vec3 luminanceWeights = vec3(0.2126, 0.7152, 0.0722);

// A black channel under a black adaptation level is 0/0; it stays black.
vec3 photoreceptor(vec3 x, vec3 average, float averageL, float f, float contrast)
{
    float c = chromaticAdaptation;
    float a = lightAdaptation;
    float luminance = dot(x, luminanceWeights);
    vec3 local = c * x + (1.0 - c) * luminance;
    vec3 global = c * average + (1.0 - c) * averageL;
    vec3 adaptation = max(a * local + (1.0 - a) * global, 0.0);
    vec3 response = vec3(0.0);
    for (int i = 0; i < 3; ++i)
        response[i] = adaptation[i] > 0.0 ? pow(f * adaptation[i], contrast) : 0.0;
    // x and the response are never negative: the denominator is 0 only where x is.
    return x / max(x + response, 1e-30);
}

void main()
{
    vec3 x = pow(max(texture(textureImage, uv).rgb, 0.0), vec3(preGamma));
    float f = exp(-brightness);
    vec3 mapped = vec3(0.0);
    for (int i = 0; i < 4; ++i) {
        // A view without weight plays no part, whatever its statistics.
        if (weight[i] > 0.0) {
            vec3 average = vec3(averageRed[i], averageGreen[i], averageBlue[i]);
            mapped += weight[i] * photoreceptor(x, average, averageLuminance[i], f, m[i]);
        }
    }
    colour = vec4(mapped, 1.0);
}
