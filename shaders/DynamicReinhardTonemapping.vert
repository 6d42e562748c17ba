#version 330 compatibility

// The vertex stage of "DynamicReinhardTonemapping.frag": what its operator takes from the
// uniforms alone, worked out once a corner here rather than once a pixel there, where a software
// driver spends a third of the pass on it. The corners all agree, so flat outputs carry it.

uniform float brightness;
uniform float chromaticAdaptation; // c
uniform float lightAdaptation; // a
uniform float averageRed[4];
uniform float averageGreen[4];
uniform float averageBlue[4];
uniform float averageLuminance[4];

out vec2 uv;
// f·a·c and f·a·(1 − c), with f = exp(-brightness): the pixel's own channel and its luminance in
// the adaptation level.
flat out vec2 localAdaptation;
// f·(1 − a)·(c·average + (1 − c)·average luminance) of each view: the view's part of it.
flat out vec3 globalAdaptation[4];

void main()
{
    gl_Position = gl_Vertex;
    uv = gl_MultiTexCoord0.st;
    float f = exp(-brightness);
    float c = chromaticAdaptation;
    float a = lightAdaptation;
    localAdaptation = f * a * vec2(c, 1.0 - c);
    for (int i = 0; i < 4; ++i) {
        vec3 average = vec3(averageRed[i], averageGreen[i], averageBlue[i]);
        globalAdaptation[i] = f * (1.0 - a) * (c * average + (1.0 - c) * averageLuminance[i]);
    }
}
