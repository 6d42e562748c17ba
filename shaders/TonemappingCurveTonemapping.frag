#version 330 compatibility

// Histogram adjustment (Ward Larson, Rushmeier and Piatko 1997): the view's tone curve, built on
// the CPU, gives each world luminance a position P (0 to 1) on the display's log-luminance scale
// from 0.3 to 300 cd/m². The colour is then restored around the new luminance with the
// saturation exponent: channel_out = (channel_in / L_in)^colourCorrection · L_out.
// Compiled with RGBE_INPUT, the input is the view's RGBE texture, decoded here exactly as the
// linear pass would decode it, so that the plane stage spends no pass on the decode.

uniform sampler2D textureImage; // linear colour decoded from RGBE, or with RGBE_INPUT the RGBE
uniform sampler2D tonemappingCurve; // 4096 × 1: the display position of each log-luminance bin
uniform float minimumLuminance; // the ends of the curve's axis, in the view's units
uniform float maximumLuminance;
uniform float colourCorrection;

in vec2 uv;
// From the vertex stage ("TonemappingCurveTonemapping.vert"): ln minimumLuminance and the
// length of the curve's log-luminance axis.
flat in vec2 curveAxis;
layout(location = 0) out vec4 colour;

const vec3 luminanceWeights = vec3(0.2126, 0.7152, 0.0722);
const float curveBins = 4096.0;
const float lnDisplayContrast = log(1000.0);
const float displayGamma = 2.2;

// Where a luminance sits on the curve's axis, kept in [0, 1]: luminances outside the view's range
// take the curve's ends rather than the texture's wrap, which would mirror them back onto the
// curve. A range that is empty or not finite (a black or flat view) gets a constant curve, which
// any position reads alike; 0 keeps the lookup itself finite.
float curvePosition(float luminance)
{
    float lnMinimum = curveAxis.x;
    float range = curveAxis.y;
    if (!(range > 0.0) || isinf(range))
        return 0.0;
    float position = (log(luminance) - lnMinimum) / range;
    return isnan(position) ? 0.0 : clamp(position, 0.0, 1.0);
}

// The curve between bin centres, so that position 0 reads bin 0 and position 1 the last bin
// exactly, and the 256 display steps are interpolated smoothly in between.
float displayPosition(float position)
{
    float coordinate = (position * (curveBins - 1.0) + 0.5) / curveBins;
    return texture(tonemappingCurve, vec2(coordinate, 0.5)).r;
}

// base^exponent for base > 0, from the float's exponent bits and two short polynomials: log2 of
// the mantissa within 1e-4, exp2 of the fraction within 1.1e-4 relative: the two of this pass
// move a result by less than a tenth of an 8-bit level, and a software driver takes a third less
// time over them than over pow(). Results are clamped to 2^-126 ... 2^127.
// (ReinhardTonemapping.frag, DynamicReinhardTonemapping.frag and TonemappingCurveTonemapping.frag
// carry the same function.)
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

// What the display is asked for. The curve was trimmed for a display that shows position P at
// Ld = exp(ln 0.3 + P·ln 1000) cd/m²: its ceilings compare visible steps at exactly those
// luminances. So P is turned into that luminance and then into the value that makes a display of
// 0.3 to 300 cd/m² with gamma 2.2 show it: Ld = 0.3 + 299.7·v^2.2. This keeps the scene's depth:
// dusk stays dusk, a lamp-lit room stays dark around its lamps, with both ends readable. Writing P
// itself as the 8-bit value instead lifts the middle of the range about sevenfold (a hazy, flat
// picture) and, with the colour restored on encoded values, oversaturates (s·2.2 > 1). Subtracting
// the display's own black level makes P = 0 the value 0, so the darkest lit texels meet black
// texels instead of sitting on a pedestal of 11.
const float displayBlack = 0.001; // 0.3 / 300, the display's black relative to its white

// Linear display luminance of a position, relative to the display's white (0.001 to 1).
float relativeDisplayLuminance(float position)
{
    return exp((position - 1.0) * lnDisplayContrast);
}

vec3 displayValue(vec3 relative)
{
    // Black (0) comes out as 1e-30^(1 / 2.2), which the 8-bit target writes as 0.
    vec3 aboveBlack = max((relative - displayBlack) / (1.0 - displayBlack), 1e-30);
    return fastPow(aboveBlack, 1.0 / displayGamma);
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
    return max(texture(textureImage, uv).rgb, 0.0);
}
#endif

void main()
{
    vec3 linear = linearColour();
    float luminance = dot(linear, luminanceWeights);
    // Black has no position on a log axis and no hue to restore: it stays black.
    if (!(luminance > 0.0)) {
        colour = vec4(0.0, 0.0, 0.0, 1.0);
        return;
    }
    float displayed = relativeDisplayLuminance(displayPosition(curvePosition(luminance)));
    // The colour is restored in linear light, where the saturation exponent has its meaning; the
    // 8-bit target clamps what it pushes past white.
    // A channel of 0 stays as good as 0: 1e-30^0.6 times at most 1.
    vec3 restored = fastPow(max(linear / luminance, 1e-30), colourCorrection) * displayed;
    colour = vec4(displayValue(restored), 1.0);
}
