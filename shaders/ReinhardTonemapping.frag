#version 330 compatibility

// The photoreceptor operator of Reinhard and Devlin (2005) with one set of view statistics.
// Each channel x of the linear colour becomes x / (x + (f·Ia)^m), where the adaptation level Ia
// mixes the pixel (local) with the view's averages (global), per channel and in luminance; f is
// exp(-brightness) and m the contrast exponent, derived from the statistics when "m" is 0.
// Compiled with GIVEN_CONTRAST, "m" is always the contrast. Compiled with RGBE_INPUT, the input is
// the view's RGBE texture, decoded here as the linear pass would decode it (white point 1, gamma
// 1, held at the largest half float), so that a plane stage spends no pass and no half-float
// texture on the decode; "preGamma" is not applied to linear colour. Compiled with FIXED_STRETCH
// as well, the result is stretched in the same pass as "NormalizeLuminance.frag" would stretch it,
// from the bytes [stretchMinimum, stretchMaximum] onto 0 to 1.

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
#ifdef FIXED_STRETCH
uniform int stretchMinimum; // 0 to 255
uniform int stretchMaximum;
#endif

in vec2 uv;
// From the vertex stage ("ReinhardTonemapping.vert"): the adaptation level at a pixel is
// localAdaptation.x · x + localAdaptation.y · luminance(x) + globalAdaptation, and the contrast
// exponent is m or, where m is 0, the one the statistics give.
flat in vec2 localAdaptation;
flat in vec3 globalAdaptation;
flat in float contrast;
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

#ifdef RGBE_INPUT
const float largestHalf = 65504.0;

// An 8-bit mantissa times 2^(E − 136) is exact in a half float for every exponent byte E from 112
// up, so but for the faintest texels this is bit for bit the colour the linear pass stores.
vec3 linearColour()
{
    ivec4 rgbe = ivec4(texture(textureImage, uv) * 255.0 + 0.5);
    return min(vec3(rgbe.rgb) * exp2(float(rgbe.a) - 136.0), vec3(largestHalf));
}
#else
vec3 linearColour()
{
    return fastPow(max(texture(textureImage, uv).rgb, 1e-30), preGamma);
}
#endif

// Black stays black: a channel of 0 maps to 0 under any adaptation, and the adaptation level is
// kept above 0 so that the response is finite.
void main()
{
    vec3 x = linearColour();
    vec3 adaptation =
        localAdaptation.x * x + localAdaptation.y * dot(x, luminanceWeights) + globalAdaptation;
#ifdef GIVEN_CONTRAST
    float exponent = m;
#else
    float exponent = contrast;
#endif
    vec3 response = x / (x + fastPow(max(adaptation, 1e-30), exponent));
#ifdef FIXED_STRETCH
    if (stretchMaximum > stretchMinimum) {
        response = (response - float(stretchMinimum) / 255.0)
            / (float(stretchMaximum - stretchMinimum) / 255.0);
    }
#endif
    colour = vec4(response, 1.0);
}
