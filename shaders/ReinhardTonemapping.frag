#version 330 compatibility

// The photoreceptor operator of Reinhard and Devlin (2005) with one set of view statistics.
// Each channel x of the linear colour becomes x / (x + (f·Ia)^m), where the adaptation level Ia
// mixes the pixel (local) with the view's averages (global), per channel and in luminance; f is
// exp(-brightness) and m the contrast exponent, derived from the statistics when "m" is 0.

uniform sampler2D textureImage;
uniform float brightness;
uniform float chromaticAdaptation; // c: 1 adapts each channel on its own, 0 to luminance only
uniform float lightAdaptation; // a: 1 adapts to the pixel, 0 to the whole view
uniform float preGamma; // undoes the gamma the linear plane stage applied
uniform float m; // contrast exponent; 0 derives it from the statistics
uniform float averageRed;
uniform float averageGreen;
uniform float averageBlue;
uniform float averageLuminance;
uniform float averageLogLuminance; // mean of ln(L + 0.00001)
uniform float minLuminance;
uniform float maxLuminance;

in vec2 uv;
layout(location = 0) out vec4 colour;

const vec3 luminanceWeights = vec3(0.2126, 0.7152, 0.0722);

// m = 0.3 + 0.7·k^1.4 with the key k = (ln max − avgLog) / (ln max − ln min), kept in [0, 1]. A
// view with a black texel (ln 0), a flat view (0/0) and a black one have no key and get 0.3.
float derivedContrast()
{
    if (!(minLuminance > 0.0 && maxLuminance > minLuminance))
        return 0.3;
    float logMax = log(maxLuminance);
    float key = clamp((logMax - averageLogLuminance) / (logMax - log(minLuminance)), 0.0, 1.0);
    return 0.3 + 0.7 * (key > 0.0 ? pow(key, 1.4) : 0.0);
}

// A black channel under a black adaptation level is 0/0; it stays black.
vec3 photoreceptor(vec3 x, vec3 average, float f, float contrast)
{
    float c = chromaticAdaptation;
    float a = lightAdaptation;
    float luminance = dot(x, luminanceWeights);
    vec3 local = c * x + (1.0 - c) * luminance;
    vec3 global = c * average + (1.0 - c) * averageLuminance;
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
    float contrast = m > 0.0 ? m : derivedContrast();
    vec3 average = vec3(averageRed, averageGreen, averageBlue);
    colour = vec4(photoreceptor(x, average, exp(-brightness), contrast), 1.0);
}
