#include "TonemappingCurve.h"

#include "Parallel.h"
#include "TexelMaths.h"
#include "lightfield/Rgbe.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace {

// The display spans 0.3 to 300 cd/m², a contrast of 1000:1.
const float lnDisplayMinimum = float(std::log(0.3));
const float lnDisplayMaximum = float(std::log(300.0));
const float lnDisplayContrast = float(std::log(1000.0));
constexpr double worldToCandela = 300.0;

// Float-to-integer conversion of a value outside the target's range is undefined, so every
// truncation goes through here; NaN takes the caller's choice.
std::int64_t saturatingTruncate(float value, std::int64_t highest, std::int64_t ifNaN)
{
    if (std::isnan(value))
        return ifNaN;
    if (value <= 0.0f)
        return 0;
    if (double(value) >= double(highest))
        return highest;
    return std::int64_t(value);
}

// The part of a ceiling that depends on the bin alone: its world luminance Lw (scaled to cd/m²)
// and tvi(Lw). Neither changes between passes, so they are computed once.
struct BinLuminances
{
    std::array<float, curveBins> world;
    std::array<float, curveBins> worldThreshold;
};

BinLuminances binLuminances(float lnMinimum, float range)
{
    BinLuminances bins;
    for (int j = 0; j < curveBins; ++j) {
        const double lnWorld = (j + 0.5) / curveBins * double(range) + double(lnMinimum);
        bins.world[j] = float(std::exp(lnWorld) * worldToCandela);
        bins.worldThreshold[j] = thresholdVersusIntensity(bins.world[j]);
    }
    return bins;
}

// The display luminance Ld of each curve byte and tvi(Ld).
struct DisplayLuminances
{
    std::array<float, 256> display;
    std::array<float, 256> displayThreshold;
};

DisplayLuminances displayLuminances()
{
    DisplayLuminances bytes;
    for (int value = 0; value < 256; ++value) {
        const double lnDisplay =
            value / 255.0 * double(lnDisplayMaximum - lnDisplayMinimum) + double(lnDisplayMinimum);
        bytes.display[value] = float(std::exp(lnDisplay));
        bytes.displayThreshold[value] = thresholdVersusIntensity(bytes.display[value]);
    }
    return bytes;
}

// One trimming pass: caps each bin at the count beyond which the curve's slope there would make
// steps visible on the display that are invisible in the world. Returns the counts removed.
std::int64_t trimPass(LuminanceHistogram &histogram, const ToneCurve &curve,
                      std::int64_t ceilingBase, const BinLuminances &bins,
                      const DisplayLuminances &bytes)
{
    std::int64_t trimmed = 0;
    for (int j = 0; j < curveBins; ++j) {
        const int value = curve[j];
        const float ceiling = float(ceilingBase) * bytes.displayThreshold[value] * bins.world[j]
            / (bins.worldThreshold[j] * bytes.display[value]);
        // A NaN ceiling (∞/∞ at the float range's top) cannot be computed; it imposes no cap
        // rather than discarding counts on no evidence.
        const std::int64_t cap =
            saturatingTruncate(ceiling, std::numeric_limits<std::int32_t>::max(),
                               std::numeric_limits<std::int32_t>::max());
        if (histogram[j] > cap) {
            trimmed += histogram[j] - cap;
            histogram[j] = std::int32_t(cap);
        }
    }
    return trimmed;
}

bool isDegenerateRange(float minimumLuminance, float maximumLuminance, float lnMinimum,
                       float lnMaximum)
{
    const float range = lnMaximum - lnMinimum;
    return !(maximumLuminance > luminanceFloor) || !(minimumLuminance < maximumLuminance)
        || !std::isfinite(lnMinimum) || !std::isfinite(lnMaximum) || !std::isfinite(range)
        || !(range > 0.0f);
}

} // namespace

double log10Threshold(double x)
{
    if (x >= 1.9)
        return x - 1.255;
    if (x >= -0.0184)
        return std::pow(0.249 * x + 0.65, 2.7) - 0.72;
    if (x >= -1.44)
        return x - 0.395;
    if (x >= -3.94)
        return std::pow(0.405 * x + 1.6, 2.18) - 2.86;
    return -2.86; // also NaN, which fails every comparison above
}

float thresholdVersusIntensity(float adaptationLuminance)
{
    const float x = std::log10(adaptationLuminance);
    const float exponent = float(log10Threshold(double(x)));
    return float(std::pow(10.0, double(exponent)));
}

float texelLuminance(const std::uint8_t texel[4])
{
    return texelLuminanceWith(texel, rgbeSingleScales());
}

int luminanceBin(float luminance, float lnMinimum, float range)
{
    // A zero range puts every texel at ±∞ or NaN, which all land in bin 0; answering before the
    // division keeps it out of floating-point exception traps.
    if (range == 0.0f)
        return 0;
    const float position = (std::log(luminance) - lnMinimum) / range * float(curveBins);
    // A non-finite position has no place on the axis; like black (ln 0 = −∞) it counts as the
    // darkest bin. Only an unusable range, which gets no trimming, produces one in practice.
    if (!std::isfinite(position) || position <= 0.0f)
        return 0;
    if (position >= float(curveBins - 1))
        return curveBins - 1;
    return int(position);
}

namespace {

// luminanceBin's clamp of a position to a bin, written without branches so that the loop that
// takes it vectorises; a position that is not finite gets `unknown`.
inline std::int32_t binOfPosition(float position, std::int32_t unknown)
{
    const bool finite = std::fabs(position) <= FLT_MAX;
    const float clamped = std::min(std::max(finite ? position : 0.0f, 0.0f), float(curveBins - 1));
    return finite ? std::int32_t(clamped) : unknown;
}

// The histogram in runs of texels: vectorised loops decode a run's luminances and take their
// logarithms with naturalLog and the bins at both ends of its error bound, and one loop counts. The
// library's logarithm, which the bins are defined by, lies within that bound; the position is a
// chain of subtraction, division and multiplication, each of which keeps the order of its operands,
// so the ends' positions enclose the true one. Where both ends fall in one bin that is the bin;
// only texels within the bound of a bin's edge, and subnormal luminances, which naturalLog does not
// take, are binned the slow way.
WIDE_VECTOR_CLONES
void countTexels(const std::uint8_t *rgbeTexels, std::int64_t texelCount, float lnMinimum,
                 float range, LuminanceHistogram &histogram)
{
    const std::array<float, 256> &scales = rgbeSingleScales();
    const float bins = float(curveBins);
    constexpr int run = 256;
    float luminance[run], logarithmArgument[run];
    std::int32_t low[run], high[run];
    for (std::int64_t start = 0; start < texelCount; start += run) {
        const int n = int(std::min<std::int64_t>(run, texelCount - start));
        const std::uint8_t *texels = rgbeTexels + start * 4;
        for (int i = 0; i < n; ++i)
            luminance[i] = texelLuminanceWith(texels + i * 4, scales);
        // In a loop of its own: the selection ahead of naturalLog keeps the compiler from
        // vectorising the one below.
        for (int i = 0; i < n; ++i)
            logarithmArgument[i] = luminance[i] >= FLT_MIN ? luminance[i] : 1.0f;
        for (int i = 0; i < n; ++i) {
            const float logarithm = naturalLog(logarithmArgument[i]);
            const float bound = naturalLogErrorBound(logarithm);
            low[i] = binOfPosition((logarithm - bound - lnMinimum) / range * bins, -1);
            high[i] = binOfPosition((logarithm + bound - lnMinimum) / range * bins, -2);
        }
        for (int i = 0; i < n; ++i) {
            const float x = luminance[i];
            std::int32_t bin = low[i];
            if (x == 0.0f)
                bin = 0; // ln 0 = −∞ has no position: black counts in bin 0
            else if (bin != high[i] || x < FLT_MIN)
                bin = luminanceBin(x, lnMinimum, range);
            ++histogram[size_t(bin)];
        }
    }
}

} // namespace

LuminanceHistogram luminanceHistogram(const std::uint8_t *rgbeTexels, std::int64_t texelCount,
                                      float lnMinimum, float range)
{
    LuminanceHistogram histogram {};
    if (std::isfinite(lnMinimum) && std::isfinite(range) && range != 0.0f) {
        // Counts add up to the same whichever parts the texels are counted in.
        const auto parts =
            partResults(texelCount, parallelTexels, [&](std::int64_t begin, std::int64_t end) {
                LuminanceHistogram part {};
                countTexels(rgbeTexels + begin * 4, end - begin, lnMinimum, range, part);
                return part;
            });
        for (const LuminanceHistogram &part : parts) {
            for (size_t bin = 0; bin < histogram.size(); ++bin)
                histogram[bin] += part[bin];
        }
        return histogram;
    }
    // An unusable axis, which no trimming follows: every texel the slow way.
    for (std::int64_t i = 0; i < texelCount; ++i)
        ++histogram[luminanceBin(texelLuminance(rgbeTexels + 4 * i), lnMinimum, range)];
    return histogram;
}

ToneCurve rampCurve()
{
    ToneCurve curve;
    for (int j = 0; j < curveBins; ++j)
        curve[j] = std::uint8_t(std::round((j + 1) * 255.0 / curveBins));
    return curve;
}

ToneCurve curveFromHistogram(const LuminanceHistogram &histogram, std::int64_t total)
{
    // Everything trimmed away (or an empty view) leaves no distribution to follow; the flat
    // histogram's ramp is what trimming tends to anyway, and it keeps the lookup monotonic.
    if (total <= 0)
        return rampCurve();
    ToneCurve curve;
    const double denominator = double(float(total));
    std::int64_t cumulative = 0;
    for (int j = 0; j < curveBins; ++j) {
        cumulative += histogram[j];
        const double value = std::round(double(float(cumulative)) * 255.0 / denominator);
        curve[j] = std::uint8_t(std::clamp(value, 0.0, 255.0));
    }
    return curve;
}

CurveResult computeTonemappingCurve(const std::uint8_t *rgbeTexels, int width, int height,
                                    float minimumLuminance, float maximumLuminance,
                                    int trimPassLimit)
{
    CurveResult result;
    const float lnMinimum = std::log(minimumLuminance);
    const float lnMaximum = std::log(maximumLuminance);
    const float range = lnMaximum - lnMinimum;
    const std::int64_t texelCount =
        (width > 0 && height > 0 && rgbeTexels) ? std::int64_t(width) * height : 0;

    result.histogram = luminanceHistogram(rgbeTexels, texelCount, lnMinimum, range);
    result.remainingTotal = texelCount;
    result.tolerance = std::int64_t(double(texelCount) * 0.025);

    if (isDegenerateRange(minimumLuminance, maximumLuminance, lnMinimum, lnMaximum)) {
        result.degenerate = true;
        result.stop = CurveStop::DegenerateRange;
        result.curve.fill(maximumLuminance <= luminanceFloor ? 0 : 128);
        return result;
    }

    const bool fixedPasses = trimPassLimit > 0;
    const int passLimit = fixedPasses ? std::min(trimPassLimit, maxTrimPasses) : maxTrimPasses;
    const BinLuminances bins = binLuminances(lnMinimum, range);
    const DisplayLuminances bytes = displayLuminances();
    const std::int64_t tolerance = result.tolerance;
    std::int64_t &total = result.remainingTotal;

    for (int pass = 0;; ++pass) {
        const ToneCurve curve = curveFromHistogram(result.histogram, total);
        const std::int64_t ceilingBase =
            saturatingTruncate(float(total) * range / (float(curveBins) * lnDisplayContrast),
                               std::numeric_limits<std::int32_t>::max(), 0);

        if (pass == passLimit) {
            result.stop = fixedPasses ? CurveStop::PassLimit : CurveStop::PassCap;
            break;
        }
        if (!fixedPasses && total < tolerance) {
            result.stop = CurveStop::RemainingBelowTolerance;
            break;
        }

        const std::int64_t trimmed = trimPass(result.histogram, curve, ceilingBase, bins, bytes);
        total -= trimmed;
        result.trimPasses = pass + 1;

        if (!fixedPasses && trimmed < tolerance) {
            result.stop = CurveStop::TrimBelowTolerance;
            break;
        }
        if (!fixedPasses && trimmed == 0) {
            result.stop = CurveStop::NothingTrimmed;
            break;
        }
    }

    result.curve = curveFromHistogram(result.histogram, total);
    return result;
}
