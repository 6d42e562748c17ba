#version 330 compatibility

// The vertex stage of "ReinhardTonemapping.frag": what its operator takes from the uniforms
// alone, worked out once a corner here rather than once a pixel there, where a software driver
// spends a good part of the pass on it. The corners all agree, so flat outputs carry it.

uniform float brightness;
uniform float chromaticAdaptation; // c
uniform float lightAdaptation; // a
uniform float m; // contrast exponent; 0 derives it from the statistics
uniform float averageRed;
uniform float averageGreen;
uniform float averageBlue;
uniform float averageLuminance;
uniform float averageLogLuminance; // mean of ln(L + 0.00001)
uniform float minLuminance;
uniform float maxLuminance;

out vec2 uv;
// f·a·c and f·a·(1 − c), with f = exp(-brightness): the pixel's own channel and its luminance in
// the adaptation level.
flat out vec2 localAdaptation;
// f·(1 − a)·(c·average + (1 − c)·average luminance): the view's part of it.
flat out vec3 globalAdaptation;
flat out float contrast; // m, or derived from the statistics where m is 0

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

void main()
{
    gl_Position = gl_Vertex;
    uv = gl_MultiTexCoord0.st;
    float f = exp(-brightness);
    float c = chromaticAdaptation;
    float a = lightAdaptation;
    localAdaptation = f * a * vec2(c, 1.0 - c);
    vec3 average = vec3(averageRed, averageGreen, averageBlue);
    globalAdaptation = f * (1.0 - a) * (c * average + (1.0 - c) * averageLuminance);
    contrast = m > 0.0 ? m : derivedContrast();
}
