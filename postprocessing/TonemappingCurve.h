#pragma once

#include <array>
#include <cstdint>

// The CPU half of the histogram-adjustment tone mapper: a histogram of a view's log luminance,
// trimmed where it would stretch contrast beyond what the eye can see at that luminance, becomes
// a cumulative curve from log luminance to display byte. The GL post-processor reads the view
// back as RGBE texels, calls computeTonemappingCurve() and uploads the curve as a curveBins × 1
// single-channel texture; the shader looks a texel up at (ln L − ln min) / (ln max − ln min).
//
// Precision is part of the contract (other implementations must match byte for byte), so each
// step below names whether it runs in single or double precision.

constexpr int curveBins = 4096;

// The caller floors the view's minimum luminance here before computing a curve: black texels
// have ln 0 = −∞ and would otherwise set the bottom of the range.
constexpr float luminanceFloor = 1e-7f;

// Trimming passes run in the tolerance mode always end within about 80 passes (each pass that
// does not stop removes at least one count, or at least 2.5 % of the view); this cap only guards
// against a future change breaking that. Fixed pass counts are clamped to it too.
constexpr int maxTrimPasses = 128;

using ToneCurve = std::array<std::uint8_t, curveBins>;
using LuminanceHistogram = std::array<std::int32_t, curveBins>;

// Why the trimming loop ended.
enum class CurveStop
{
    PassLimit, // the caller's fixed number of passes ran
    RemainingBelowTolerance, // fewer counts than the tolerance are left
    TrimBelowTolerance, // the last pass trimmed fewer counts than the tolerance
    NothingTrimmed, // the last pass trimmed nothing: the histogram is a fixed point
    PassCap, // maxTrimPasses ran without another rule stopping the loop
    DegenerateRange, // no trimming: the luminance range is empty or not finite
};

struct CurveResult
{
    ToneCurve curve {}; // display byte per log-luminance bin
    LuminanceHistogram histogram {}; // the counts after the last trimming pass
    std::int64_t remainingTotal = 0; // sum of histogram: the texels minus everything trimmed
    std::int64_t tolerance = 0; // trunc(texels × 0.025)
    int trimPasses = 0; // trimming passes that ran
    CurveStop stop = CurveStop::PassLimit;
    bool degenerate = false; // the range was unusable; curve is a constant (see below)
};

// Threshold versus intensity: the smallest visible luminance step at adaptation luminance La
// (both in cd/m²). x = log10(La) is taken in single precision, then log10Threshold(x) in double,
// narrowed to float, and 10^that narrowed to float. Because x is a float, the float nearest each
// table boundary (1.9, −0.0184, −1.44, −3.94) lies just below it and takes the lower row.
float thresholdVersusIntensity(float adaptationLuminance);

// log10 of the threshold for x = log10(La), piecewise; each row includes its lower boundary.
// x below −3.94 or NaN (La zero or negative) gives the absolute floor, −2.86.
double log10Threshold(double x);

// The luminance of one RGBE texel: channels scaled by 2^(E − 136) in single precision, weighted
// 0.7152 G + 0.2126 R + 0.0722 B in that order in double, narrowed to float.
float texelLuminance(const std::uint8_t texel[4]);

// The histogram bin of a luminance: trunc((ln L − lnMinimum) / range × curveBins), in single
// precision, clamped to [0, curveBins − 1]. A NaN or infinite position (either sign) lands in
// bin 0.
int luminanceBin(float luminance, float lnMinimum, float range);

LuminanceHistogram luminanceHistogram(const std::uint8_t *rgbeTexels, std::int64_t texelCount,
                                      float lnMinimum, float range);

// The cumulative curve: byte j = round(c_j × 255 / total), c_j the sum of bins 0..j, halves away
// from zero (c_j and total as floats, the arithmetic in double). A total of zero or less gives
// rampCurve().
ToneCurve curveFromHistogram(const LuminanceHistogram &histogram, std::int64_t total);

// The curve of a flat histogram, one count per bin: log luminance mapped linearly onto the
// display bytes.
ToneCurve rampCurve();

// The whole computation for a width × height view of RGBE texels (R, G, B, E bytes each) whose
// luminance lies in [minimumLuminance, maximumLuminance].
//
// trimPassLimit > 0 runs exactly that many trimming passes (at most maxTrimPasses). Zero or less
// trims until fewer than the tolerance counts remain or a pass trims fewer than the tolerance;
// views under 40 texels have a tolerance of 0, so there a pass that trims nothing also ends the
// loop. That pass left the histogram, hence the curve and the ceilings, as they were: every later
// pass would repeat it, so stopping changes no result.
//
// A range that is empty, negative or not finite (maximum at or below luminanceFloor, minimum at
// or above maximum, NaN or infinite bounds) cannot place texels on the curve's axis, and the
// shader's lookup coordinate for such a view is itself NaN or infinite. Such a view gets a
// constant curve, which maps every coordinate alike: 0 when the maximum is at or below the floor
// (nothing in the view is lit), mid-grey 128 otherwise (a flat view sits at the middle of the
// display range, where the histogram would put its single luminance).
CurveResult computeTonemappingCurve(const std::uint8_t *rgbeTexels, int width, int height,
                                    float minimumLuminance, float maximumLuminance,
                                    int trimPassLimit);
