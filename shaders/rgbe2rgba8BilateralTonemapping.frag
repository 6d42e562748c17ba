#version 330 compatibility

// Tone-maps an RGBE view by splitting its log luminance into a base layer (an edge-preserving
// blur) and a detail layer, compressing only the base, and putting the colour back on top.
//
// Log luminance is taken in base 2: absoluteScale then counts stops, and subtracting 5.5 maps a
// base luminance of 2^11 = 2048, about the brightest light of real photographs, to display
// white under the compression factor 0.5. The output is display-encoded with gamma 2.2, like the
// colours of 8-bit light fields; linear values would leave every shadow black.
//
// The blur is a bilateral filter over a window of radius filterSize (2 filterSize + 1 texels
// square; filterSize 16 with a position sigma of 8 keeps the spatial weight down to e^-2 at the
// window's edges). Its weight falls with distance, with the log-luminance difference and, with
// useDisparity, with the disparity difference, so that surfaces at different depths keep their
// own base layers even where they are equally bright.
//
// The program runs twice per view. With writeLogLuminance it writes every texel's log luminance
// and disparity to a half-float texture, so that each of the filter's taps reads one texel instead
// of decoding RGBE and taking a logarithm (twice as fast on a software renderer). The second run
// filters and tone-maps.
//
// The window is sampled in square cells of cellSize texels a side: one tap at the middle of each
// cell, weighted by the number of the cell's texels that lie inside the window. cellSize 1 takes
// every texel, 1,089 taps for the full window; 5 takes 49. The spatial weight hardly changes
// across a cell (sigma 8), so the base layer differs from the full window's only where a few
// texels unlike their surroundings (a thin line, a point light, an antialiased border) decide it.

uniform sampler2D textureImage; // RGBE
uniform sampler2D disparityImage;
uniform float absoluteScale;
uniform float compressionFactor;
uniform float disparityEdgeCompressionFactor;
uniform int filterSize; // radius of the window in texels
uniform float gaussSigmaPosition; // texels
uniform float gaussSigmaIntensity; // stops of luminance
uniform float gaussSigmaDisparity; // pixels per view step
uniform int horizontalResolution;
uniform int verticalResolution;
uniform float colourCorrection;
uniform bool useDisparity; // false: no disparity term and no disparity edges
uniform bool writeLogLuminance; // the first run
uniform sampler2D logLuminanceImage; // the first run's output: log2 luminance, disparity
uniform int cellSize; // odd; 1 takes every texel of the window

in vec2 uv;
layout(location = 0) out vec4 colour;

const vec3 luminanceWeights = vec3(0.2126, 0.7152, 0.0722);
// Luminances below this are black. Their logarithm is held here instead of reaching -infinity,
// which keeps every weight and the base layers of their neighbours finite; 2^-32 lies over twenty
// stops below anything the compressed picture can show.
const float blackLuminance = 2.3283064e-10; // 2^-32
// exp(-x) as exp2(-x log2(e)), folded into the inverse variances.
const float log2e = 1.4426950;
const float displayGamma = 2.2;

vec3 decodeRgbe(vec2 at)
{
    vec4 rgbe = floor(texture(textureImage, at) * 255.0 + 0.5);
    return rgbe.rgb * exp2(rgbe.a - 136.0);
}

float disparityAt(vec2 at)
{
    return texture(disparityImage, at).r;
}

// A texel lies on a disparity edge when a direct neighbour is more than one disparity sigma away:
// there the disparity weight has already fallen below e^-1/2, so the filter treats the two sides
// as different surfaces.
bool onDisparityEdge(float centre, vec2 texel)
{
    float jump = max(max(abs(disparityAt(uv + vec2(texel.x, 0.0)) - centre),
                         abs(disparityAt(uv - vec2(texel.x, 0.0)) - centre)),
                     max(abs(disparityAt(uv + vec2(0.0, texel.y)) - centre),
                         abs(disparityAt(uv - vec2(0.0, texel.y)) - centre)));
    return jump > gaussSigmaDisparity;
}

// How many texels of the cell whose middle lies at offset fall inside the window, along one axis.
float cellSpan(int offset, int cellRadius)
{
    return float(min(offset + cellRadius, filterSize) - max(offset - cellRadius, -filterSize) + 1);
}

void main()
{
    vec3 rgb = decodeRgbe(uv);
    float luminance = dot(rgb, luminanceWeights);
    if (writeLogLuminance) {
        colour = vec4(log2(max(luminance, blackLuminance)), useDisparity ? disparityAt(uv) : 0.0,
                      0.0, 1.0);
        return;
    }
    if (luminance < blackLuminance) {
        colour = vec4(0.0, 0.0, 0.0, 1.0);
        return;
    }
    vec2 texel = 1.0 / vec2(horizontalResolution, verticalResolution);
    // The centre from the RGBE texel itself: the detail layer keeps full precision.
    float centre = log2(luminance);
    float centreDisparity = useDisparity ? disparityAt(uv) : 0.0;

    // Every weight is one exp2 of the sum of the three exponents.
    float positionFactor = log2e / (2.0 * gaussSigmaPosition * gaussSigmaPosition);
    float intensityFactor = log2e / (2.0 * gaussSigmaIntensity * gaussSigmaIntensity);
    float disparityFactor =
        useDisparity ? log2e / (2.0 * gaussSigmaDisparity * gaussSigmaDisparity) : 0.0;

    int cellRadius = cellSize / 2;
    int reach = (filterSize + cellRadius) / cellSize * cellSize; // the outermost cells' middles
    float weightedSum = 0.0;
    float weights = 0.0;
    for (int y = -reach; y <= reach; y += cellSize) {
        float rowArea = cellSpan(y, cellRadius);
        for (int x = -reach; x <= reach; x += cellSize) {
            vec2 tap = texture(logLuminanceImage, uv + vec2(x, y) * texel).rg;
            float exponent = float(x * x + y * y) * positionFactor
                + (tap.r - centre) * (tap.r - centre) * intensityFactor
                + (tap.g - centreDisparity) * (tap.g - centreDisparity) * disparityFactor;
            float weight = rowArea * cellSpan(x, cellRadius) * exp2(-exponent);
            weightedSum += weight * tap.r;
            weights += weight;
        }
    }
    // The pixel's own tap has a weight of about its cell's area, so the sum never vanishes.
    float base = weightedSum / weights;
    float detail = centre - base;

    bool edge = useDisparity && onDisparityEdge(centreDisparity, texel);
    float compression = edge ? disparityEdgeCompressionFactor : compressionFactor;
    float mappedLuminance = exp2(base * compression + detail - absoluteScale);
    vec3 mapped = pow(rgb / luminance, vec3(colourCorrection)) * mappedLuminance;
    // The target holds display values, as the 8-bit light fields do.
    colour = vec4(pow(mapped, vec3(1.0 / displayGamma)), 1.0);
}
