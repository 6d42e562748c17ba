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
// From the vertex stage ("DynamicReinhardTonemapping.vert"): the adaptation level of view i at a
// pixel is localAdaptation.x · x + localAdaptation.y · luminance(x) + globalAdaptation[i].
flat in vec2 localAdaptation;
flat in vec3 globalAdaptation[4];
layout(location = 0) out vec4 colour;

const vec3 luminanceWeights = vec3(0.2126, 0.7152, 0.0722);

// base^exponent for base > 0, from the float's exponent bits and two short polynomials: log2 of
// the mantissa within 1e-4, exp2 of the fraction within 1.1e-4 relative, so a response is off by
// at most about 2e-4 of itself, a hundredth of an 8-bit level of the result. A software driver
// takes a third less time over it than over pow(), which is most of this pass. Results are
// clamped to 2^-126 ... 2^127. (ReinhardTonemapping.frag, DynamicReinhardTonemapping.frag and
// TonemappingCurveTonemapping.frag carry the same function.)
vec3 fastPow(vec3 base, float exponent)
{
    ivec3 bits = floatBitsToInt(base);
    vec3 t = intBitsToFloat((bits & 0x007FFFFF) | 0x3F800000) - 1.0;
    vec3 logBase = vec3((bits >> 23) - 127)
        + ((((-0.08001088 * t + 0.31546761) * t - 0.67293419) * t + 1.43730217) * t + 1.0019e-4);
    vec3 y = clamp(exponent * logBase, -126.0, 127.0);
    vec3 whole = floor(y);
    vec3 fraction = y - whole;
    vec3 scale = intBitsToFloat((ivec3(whole) + 127) << 23);
    return scale
        * (((0.07908570 * fraction + 0.22451634) * fraction + 0.69639055) * fraction + 0.99989669);
}

// Black stays black: a channel of 0 maps to 0 under any adaptation, and the adaptation level is
// kept above 0 so that the response, and with it every view's term, is finite.
vec3 photoreceptor(vec3 x, vec3 adaptation, float contrast)
{
    return x / (x + fastPow(max(adaptation, 1e-30), contrast));
}

void main()
{
    vec3 x = fastPow(max(texture(textureImage, uv).rgb, 1e-30), preGamma);
    // The pixel's part of the adaptation level, the same for every view.
    vec3 local = localAdaptation.x * x + localAdaptation.y * dot(x, luminanceWeights);
    // A view without weight plays no part, whatever its statistics: its term is finite. Weights
    // vanish in pairs, and the variants ON_BASE_COLUMN (right and diagonal without weight) and
    // ON_BASE_ROW (diagonal and below) leave those views out: a software driver evaluates both
    // sides of a branch, so skipping them at run time would save nothing.
    vec3 mapped = weight[0] * photoreceptor(x, local + globalAdaptation[0], m[0]);
#ifndef ON_BASE_COLUMN
    mapped += weight[1] * photoreceptor(x, local + globalAdaptation[1], m[1]);
#endif
#if !defined(ON_BASE_COLUMN) && !defined(ON_BASE_ROW)
    mapped += weight[2] * photoreceptor(x, local + globalAdaptation[2], m[2]);
#endif
#ifndef ON_BASE_ROW
    mapped += weight[3] * photoreceptor(x, local + globalAdaptation[3], m[3]);
#endif
    colour = vec4(mapped, 1.0);
}
