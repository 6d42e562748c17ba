#version 330 compatibility
// Core since OpenGL 4.0; an older driver without it stops the program with the compiler's message.
#extension GL_ARB_texture_gather : require
#ifdef REFOCUS
// Core since OpenGL 4.0: samplers chosen by an index that is the same for every pixel of a draw.
#extension GL_ARB_gpu_shader5 : require
#endif

// Synthesises the view at the camera position from the four stored views of its grid cell.
//
// A scene point with disparity D seen at pixel p of a view appears at p - D * (dc, dr) (picture
// directions, y down) in the view (dc, dr) steps away. In texture space, where t grows upward,
// the output pixel q therefore shows what a source view sees at q + d * v, with v the camera's
// offset from that source (x right, y up) and d the disparity of the point: d is found by
// searching along that ray for a disparity that agrees with itself. The search runs from the
// largest disparity down, so the nearest surface wins, as it occludes the rest.
//
// Each source view contributes with its bilinear weight if it sees the front-most surface that
// any weighted view found at this pixel; a view in which the point is hidden (it finds a surface
// further back, or none) is left out, and the others make up its share.
//
// The search skips the steps of a ray that cannot end at a surface: a pass of its own, compiled
// with SEARCH_BOUNDS, finds for each block of output pixels the first step at which any of them
// can meet one, from the largest disparity of each tile of the views' texels. What a search
// finds is what a search of every step finds.
//
// Whether a nearer surface lies around the point a view is read at comes from a map of the view
// made once for it, in a pass compiled with NEARBY_DISPARITY: four gathers a view and pixel
// otherwise, the largest cost of a frame after the search itself.
//
// A pixel is synthesised at its centre. Compiled with SAMPLED_OUTLINES, a pixel where the views
// disagree (one of them sees another surface, or sees this one only next to a nearer one) is the
// mean of a grid of edgeSamples x edgeSamples points over its area instead, as a camera's pixel on
// an outline mixes both sides.
//
// Compiled with NEAREST_VIEW, for light fields without disparity, it shows the first view as it
// is: the camera then names the nearest stored view for every sampler.
//
// The software driver runs both sides of every branch for a group of pixels, but leaves a loop
// once none of them has a step left; the search is laid out so that what only some pixels need
// costs the others little.

uniform sampler2D input1[4]; // colour of the views base, right, diagonal, below
uniform sampler2D disparity[4]; // their disparity, pixels per view step
// For each view, at texel t + 2, the largest disparity of its texels from t - 1 to t + 2 each way,
// with 0 for those beyond its edge: a map of (view size + 3) texels each way.
uniform sampler2D nearbyDisparity[4];
uniform float searchvectorX; // camera offset right of the base view, in views
uniform float searchvectorY; // camera offset below the base view, negated, in views
uniform int horizontalResolution; // view size in pixels
uniform int verticalResolution;
uniform int maxDisparity; // search range in pixels per view step; 0 without disparity
// Per block of boundsBlockSize x boundsBlockSize output pixels, for each view (base, right,
// diagonal, below in r, g, b, a): the first step of the search at which a surface can be met.
uniform sampler2D searchBounds;
uniform int boundsBlockSize;
uniform int boundedSearch; // 0 when the bounds are unknown: every search starts at the top
// Sub-samples each way of a pixel on an outline, where the views do not all see the surface in
// front; 1 or less: the pixel centre only. A camera's pixel there mixes both sides of the outline,
// as every stored view's does; the centre alone shows one side, in colours that another viewpoint
// mixed.
uniform int edgeSamples;
#ifdef SEARCH_BOUNDS
uniform sampler2D disparityTiles[4]; // the largest disparity of each tile of the views' texels
uniform int tileSize; // the side of those tiles in texels
// The texture coordinate at output point (x, y) is uvAtOrigin + x * uvPerPixelX + y * uvPerPixelY.
uniform vec2 uvAtOrigin;
uniform vec2 uvPerPixelX;
uniform vec2 uvPerPixelY;
#endif

in vec2 uv;
layout(location = 0) out vec4 colour;

// Disparities that agree within this many pixels name the same surface.
const float sameSurface = 1.0;
// A root of the search is accepted if the disparity found there differs from the one searched
// for by at most this much.
const float agreement = 0.25;
const int refinements = 6;
// The search's step count stays an int and a frame stays finite on any view size the reader takes.
const int maxSteps = 65536;

struct Sample
{
    // The colour of the surface seen, or without one the colour where the ray met the farthest
    // surface.
    vec4 colour;
    float depth; // disparity of the surface seen, or -1 when none agrees with itself
    float farthest; // the smallest disparity the ray met: of what lies farthest back along it
    bool clean; // no nearer surface is close enough to have bled into the colour
};

// The disparity of the texel at a texture position, 0 outside the view. Read unfiltered: a
// filtered read would blend a near and a far disparity at an outline into one that belongs to no
// surface, and the search would take it for a surface.
float disparityAt(sampler2D disparityMap, vec2 position)
{
    ivec2 size = ivec2(horizontalResolution, verticalResolution);
    ivec2 texel = ivec2(floor(position * vec2(size)));
    if (any(lessThan(texel, ivec2(0))) || any(greaterThanEqual(texel, size)))
        return 0.0;
    return texelFetch(disparityMap, texel, 0).r;
}

// The largest disparity of the texels from base - 1 to base + 2 each way, in four gathers of
// 2 x 2, each at the corner that the texels of one of them share, where no rounding can pick
// other texels; beyond the view's edge the border reads 0, as disparityAt does.
float largestAround(sampler2D disparityMap, vec2 base)
{
    vec2 size = vec2(horizontalResolution, verticalResolution);
    vec4 a = textureGather(disparityMap, (base + vec2(0.0, 0.0)) / size);
    vec4 b = textureGather(disparityMap, (base + vec2(2.0, 0.0)) / size);
    vec4 c = textureGather(disparityMap, (base + vec2(0.0, 2.0)) / size);
    vec4 e = textureGather(disparityMap, (base + vec2(2.0, 2.0)) / size);
    vec4 m = max(max(a, b), max(c, e));
    return max(max(m.x, m.y), max(m.z, m.w));
}

// Whether a surface nearer than d lies within the texels a filtered colour read at position
// draws from (base and base + 1 each way), or next to them: a view's texels along an outline mix
// both surfaces' colours, so a surface seen just behind an occluder's outline comes out tinted by
// the occluder. nearby is the view's map of largestAround.
bool nearerSurfaceAround(sampler2D nearby, vec2 position, float d)
{
    ivec2 size = ivec2(horizontalResolution, verticalResolution);
    ivec2 texel = ivec2(floor(position * vec2(size) - 0.5)) + 2;
    bool mapped = all(greaterThanEqual(texel, ivec2(0))) && all(lessThan(texel, size + 3));
    float largest = mapped ? texelFetch(nearby, texel, 0).r : 0.0;
    return largest > d + sameSurface;
}

// The steps of the search along one view's ray: step k lies at d = range - k * delta. offset is
// the camera's offset from that view in pixels per unit of disparity.
struct Steps
{
    float range;
    int count;
    float delta;
};

Steps stepsAlong(vec2 offset)
{
    float reach = max(abs(offset.x), abs(offset.y));
    Steps steps;
    // Nothing moves farther than across the whole view between neighbouring views; whatever the
    // uniform says, the search stays within that, and so does its number of steps. Half a pixel
    // of travel along the ray per step, so that no surface is stepped over.
    steps.range = min(float(maxDisparity), float(max(horizontalResolution, verticalResolution)));
    steps.count = int(min(ceil(2.0 * steps.range * reach), float(maxSteps)));
    steps.delta = steps.count > 0 ? steps.range / float(steps.count) : 0.0;
    return steps;
}

float residual(sampler2D disparityMap, vec2 position, vec2 direction, float d)
{
    return disparityAt(disparityMap, position + d * direction) - d;
}

// The front-most self-consistent surface along the ray of one source view through the output
// point at texture position `position`. offset is the camera's offset from that view in pixels per
// unit of disparity, in texture directions. Steps before firstStep are known to meet no surface.
Sample search(vec2 position, sampler2D colourMap, sampler2D disparityMap, sampler2D nearby,
              vec2 offset, int firstStep)
{
    vec2 texel = 1.0 / vec2(horizontalResolution, verticalResolution);
    vec2 direction = offset * texel;
    float reach = max(abs(offset.x), abs(offset.y));
    Steps grid = stepsAlong(offset);
    float range = grid.range;

    // upper is the step before the one examined.
    int steps = grid.count;
    float delta = grid.delta;
    int k = clamp(firstStep - 1, 0, steps);
    float upper = range - float(k) * delta;
    float gUpper = residual(disparityMap, position, direction, upper);
    float farthestDisparity = gUpper + upper;
    float farthestAt = upper;
    bool accepted = false;
    float d = 0.0;
    // A bracket is found by a loop that reads one texel a step, and is examined outside it: the
    // software driver runs every branch of a loop's body for a group of pixels when any of them
    // takes it, so the examination inside would cost every step as much as a root.
    while (k < steps) {
        float lower = upper;
        float gLower = gUpper;
        bool bracket = false;
        for (; k < steps && !bracket; ++k) {
            upper = lower;
            gUpper = gLower;
            lower = range - float(k + 1) * delta;
            gLower = residual(disparityMap, position, direction, lower);
            if (gLower + lower < farthestDisparity) {
                farthestDisparity = gLower + lower;
                farthestAt = lower;
            }
            // The residual grows as d falls on a surface, so a root lies where it turns from
            // negative to positive.
            bracket = gUpper <= 0.0 && gLower >= 0.0;
        }
        if (!bracket)
            break;
        // On a surface of one disparity the residual is linear in d, and the secant through the
        // bracket's ends meets the root exactly; elsewhere, bisection. The bisection's loop runs
        // no step where the secant met the root: the software driver leaves a loop when none of
        // its group's pixels has a step left, where a branch would cost all of them every step.
        float rise = gLower - gUpper;
        d = rise > 0.0 ? lower + gLower * (upper - lower) / rise : lower;
        float gRoot = residual(disparityMap, position, direction, d);
        int reads = abs(gRoot) > agreement ? refinements + 1 : 0;
        float a = lower;
        float b = upper;
        for (int i = 0; i < reads; ++i) {
            float middle = 0.5 * (a + b);
            float g = residual(disparityMap, position, direction, middle);
            if (i == refinements) {
                d = middle;
                gRoot = g;
            } else if (g >= 0.0) {
                a = middle;
            } else {
                b = middle;
            }
        }
        accepted = abs(gRoot) <= agreement;
        if (accepted)
            break;
        // Not a surface: the search goes on from the bracket's lower end.
        upper = lower;
        gUpper = gLower;
    }

    // A view at the camera position sees exactly what the camera sees, and with no range to
    // search every view shows what it has where it is; the one read above is its disparity there.
    bool inPlace = reach == 0.0 || range == 0.0;
    Sample found;
    found.depth = inPlace ? max(farthestDisparity, 0.0) : accepted ? d : -1.0;
    found.farthest = max(farthestDisparity, 0.0);
    found.clean = inPlace || !nearerSurfaceAround(nearby, position + d * direction, d);
    // One colour read serves every outcome. A surface found inside the view is read between the
    // outermost texel centres, so the view's edge is not darkened by the transparent border;
    // beyond the view's edge the ray met nothing but that border, and the edge texel is the
    // nearest thing the view saw there. Without a surface, the colour is the farthest one's.
    // The border is what a point beyond the view's edge shows; a point inside that finds it, no
    // further than the agreement of a root from the edge, finds the edge texel.
    vec2 size = vec2(horizontalResolution, verticalResolution);
    vec2 at = inPlace ? position : position + (accepted ? d : farthestAt) * direction;
    bool outside = (any(lessThan(at, vec2(0.0))) || any(greaterThan(at, vec2(1.0))))
        && (any(lessThan(position, vec2(0.0))) || any(greaterThan(position, vec2(1.0))));
    found.colour = texture(colourMap, inPlace || (accepted && outside)
                                          ? at
                                          : clamp(at, 0.5 / size, 1.0 - 0.5 / size));
    return found;
}

// Where the four views lie from the base view, in the camera's offset directions.
const vec2 viewOffset[4] = vec2[4](vec2(0.0), vec2(-1.0, 0.0), vec2(-1.0, 1.0), vec2(0.0, 1.0));

// The bilinear weights of the four views.
void cellWeights(out float weight[4])
{
    vec2 fraction = clamp(vec2(searchvectorX, -searchvectorY), 0.0, 1.0);
    weight[0] = (1.0 - fraction.x) * (1.0 - fraction.y);
    weight[1] = fraction.x * (1.0 - fraction.y);
    weight[2] = fraction.x * fraction.y;
    weight[3] = (1.0 - fraction.x) * fraction.y;
}

#ifdef SEARCH_BOUNDS
// Stretches of the ray that the bounds test at once, in texels of travel: a block's pixel centres
// and a stretch of four span under 8 texels each way, at most two tiles of 8, one gather. Stretches
// of two skipped as many steps on the synthetic scenes, within a tenth of a percent either way
// (SynthesisGLTest), and made the pass half as costly again (`lfbench pipeline --passes`).
const float stretchTravel = 4.0;
// Room for the rounding of texture coordinates, in texels.
const float roundingMargin = 0.01;

// No disparity in the tiles from first to last exceeds this: their largest, made a little larger
// to cover the rounding of the half-float maps. The tiles are read 2 x 2 in a gather at the
// corner they share, where no rounding can pick others; beyond the view the border reads 0, as
// no surface lies there.
float tilesBound(sampler2D tiles, ivec2 first, ivec2 last)
{
    vec2 count = vec2((ivec2(horizontalResolution, verticalResolution) + tileSize - 1) / tileSize);
    float bound = 0.0;
    for (int y = first.y; y <= last.y; y += 2) {
        for (int x = first.x; x <= last.x; x += 2) {
            vec4 m = textureGather(tiles, vec2(x + 1, y + 1) / count);
            bound = max(bound, max(max(m.x, m.y), max(m.z, m.w)));
        }
    }
    return bound * (1.0 + 1.0 / 1024.0);
}

// The first step at which the search of one view, for any pixel whose texel position lies in the
// rectangle from low to high, can end a bracket: one needs a disparity at least as large as the
// ray's, and the tiles bound the disparities the ray can meet in a stretch of its travel.
float firstStepOfBlock(sampler2D tiles, vec2 offset, vec2 low, vec2 high)
{
    float reach = max(abs(offset.x), abs(offset.y));
    Steps steps = stepsAlong(offset);
    if (reach == 0.0 || steps.count == 0)
        return 0.0;
    // Every step at a disparity from clearAbove up to the range is known to be passed.
    float clearAbove = steps.range;
    float stretch = stretchTravel / reach;
    while (clearAbove > 0.0) {
        float lower = max(clearAbove - stretch, 0.0);
        vec2 a = min(low + lower * offset, low + clearAbove * offset) - roundingMargin;
        vec2 b = max(high + lower * offset, high + clearAbove * offset) + roundingMargin;
        ivec2 firstTile = ivec2(floor(floor(a) / float(tileSize)));
        ivec2 lastTile = ivec2(floor(floor(b) / float(tileSize)));
        // The stretch may end at a surface, but not above the largest disparity its tiles hold.
        float bound = tilesBound(tiles, firstTile, lastTile);
        if (bound >= lower) {
            clearAbove = min(clearAbove, bound);
            break;
        }
        clearAbove = lower;
    }
    // The first step below clearAbove, or one above it where rounding could tell otherwise.
    return max(floor((steps.range - clearAbove) / steps.delta - 0.01) + 1.0, 0.0);
}

void main()
{
    float weight[4];
    cellWeights(weight);
    // The texel positions of the pixel centres at the block's corners.
    vec2 size = vec2(horizontalResolution, verticalResolution);
    vec2 origin = floor(gl_FragCoord.xy) * float(boundsBlockSize) + 0.5;
    vec2 far = origin + float(boundsBlockSize - 1);
    vec2 corner[4] = vec2[4](
        uvAtOrigin + origin.x * uvPerPixelX + origin.y * uvPerPixelY,
        uvAtOrigin + far.x * uvPerPixelX + origin.y * uvPerPixelY,
        uvAtOrigin + origin.x * uvPerPixelX + far.y * uvPerPixelY,
        uvAtOrigin + far.x * uvPerPixelX + far.y * uvPerPixelY);
    vec2 low = min(min(corner[0], corner[1]), min(corner[2], corner[3])) * size;
    vec2 high = max(max(corner[0], corner[1]), max(corner[2], corner[3])) * size;
    // The sub-samples of a pixel on an outline lie within half a pixel of its centre each way.
    if (edgeSamples > 1) {
        vec2 halfPixel = 0.5 * (abs(uvPerPixelX) + abs(uvPerPixelY)) * size;
        low -= halfPixel;
        high += halfPixel;
    }
    vec2 camera = vec2(searchvectorX, searchvectorY);
    // A view without weight is not searched.
    colour = vec4(0.0);
    if (weight[0] > 0.0)
        colour.r = firstStepOfBlock(disparityTiles[0], camera + viewOffset[0], low, high);
    if (weight[1] > 0.0)
        colour.g = firstStepOfBlock(disparityTiles[1], camera + viewOffset[1], low, high);
    if (weight[2] > 0.0)
        colour.b = firstStepOfBlock(disparityTiles[2], camera + viewOffset[2], low, high);
    if (weight[3] > 0.0)
        colour.a = firstStepOfBlock(disparityTiles[3], camera + viewOffset[3], low, high);
}
#elif defined(NEARBY_DISPARITY)
// Output texel o holds largestAround for the view's texel o - 2, of the first view's disparity.
void main()
{
    colour = vec4(largestAround(disparity[0], floor(gl_FragCoord.xy) - 2.0), 0.0, 0.0, 1.0);
}
#elif defined(NEAREST_VIEW)
// The lens averages radiance, not the gamma-compressed values the per-frame tone mappers' views
// hold: it reads copies raised to this power.
uniform float decodeGamma = 1.0;

void main()
{
    colour = texture(input1[0], uv);
    if (decodeGamma != 1.0)
        colour.rgb = pow(max(colour.rgb, vec3(0.0)), vec3(decodeGamma));
}
#elif defined(REFOCUS)
// A thin lens of radius R views centred on the camera position c and focused at disparity f
// records the mean, over camera positions p within R of c, of the view from p shifted by
// f * (p - c): a surface at disparity f stays where it is, one at disparity d spreads over a disc
// of radius |d - f| * R pixels. The lens takes a spiral of positions p over its disc, and a pass
// adds those of them whose views it reads to the sum of the passes before it.
//
// What p sees at output point s comes from the stored view v nearest to p: the surface at
// disparity d that v sees at s - f * (p - c) + d * (p - v). The rays of all positions meet at
// disparity f in v's pixel s - f * (v - c); the disparity there is the first guess of d, and one
// step of the fixed point d = disparity at (that place for d) refines it. The place the refined d
// names must hold that disparity again, or the ray passed an outline of v's view, where v may not
// see what p sees: then the next nearest view answers, refining the nearest one's disparity in
// its own view, if what it finds holds, and also where it sees a surface in front of the nearest
// one's. Five reads a position, with no search: the software driver runs every step that any
// pixel of a group takes for all of them.
//
// The positions lie apart, and a point that blurs over many pixels would come out as that many
// copies of itself: each position's colour is read from the view's mipmaps over a footprint of
// half the distance its neighbours' copies lie apart.
//
// The camera takes the warp where the aperture is 0.

// Views a pass reads: each with its colour and disparity, and the sum of the passes before, within
// the driver's texture units (15 where there are 32, 7 with the 16 every driver has).
const int maxLensViews = min(15, (gl_MaxTextureImageUnits - 1) / 2);
const int maxLensSamples = 64;
// The disparity a refined guess names holds where it reads the same within this much: half a
// pixel, the steps between the texels of a slanted surface.
const float lensAgreement = 0.5;
uniform sampler2D lensColour[maxLensViews]; // the views, mipmapped, their edges extended
uniform sampler2D lensDisparity[maxLensViews];
uniform vec2 lensViewPosition[maxLensViews]; // v - c in views, x right and y down
uniform vec2 lensSample[maxLensSamples]; // p - c of the pass's positions
// The pass's views nearest to each position and next nearest in its grid cell.
uniform ivec2 lensSampleViews[maxLensSamples];
uniform int lensSampleCount;
uniform float focus; // f, pixels per view step
// Views between neighbouring positions: a surface at disparity d shows copies |d - f| times this
// many pixels apart.
uniform float sampleSpacing;
// The mipmap level no read goes below: of the output's own pixels where they span several texels.
uniform float minimumLod;
// 0: every view taken as a whole and shifted so that disparity f lines up (shift-and-sum, for
// views without disparity).
uniform int searchesDisparity;
uniform float sampleWeight; // each position's share of the picture
uniform sampler2D partialSum; // what the passes before added
uniform int addsToPartialSum;
// The last pass compresses the sum by 1 / this power again, where the views were gamma-compressed
// radiance that the lens read decoded; 1 elsewhere.
uniform float outputGamma;

// Texture directions (y up) of a vector in views (x right, y down), in texture units per pixel of
// disparity.
vec2 textureDirection(vec2 views)
{
    return vec2(views.x, -views.y) / vec2(horizontalResolution, verticalResolution);
}

float lensDisparityAt(int view, vec2 position)
{
    ivec2 size = ivec2(horizontalResolution, verticalResolution);
    ivec2 texel = ivec2(floor(position * vec2(size)));
    if (any(lessThan(texel, ivec2(0))) || any(greaterThanEqual(texel, size)))
        return 0.0;
    return texelFetch(lensDisparity[view], texel, 0).r;
}

// What position p (minus c) sees at the output point whose ray from c reads `shifted`, through
// one view.
struct LensLook
{
    vec4 colour;
    float d; // the disparity of the surface seen
    bool holds; // the view sees it there
};

// What the view sees where its ray meets a surface at disparity guess: the disparity there, and
// whether the ray meets that surface, which holds its disparity where the ray is at it.
LensLook lookFrom(int view, vec2 p, vec2 shifted, float guess)
{
    vec2 direction = textureDirection(p - lensViewPosition[view]);
    LensLook look;
    look.d = lensDisparityAt(view, shifted + guess * direction);
    look.holds = abs(lensDisparityAt(view, shifted + look.d * direction) - look.d) <= lensAgreement;
    float lod = max(log2(max(abs(look.d - focus) * sampleSpacing, 1e-6)) - 1.0, minimumLod);
    look.colour = textureLod(lensColour[view], shifted + look.d * direction, lod);
    return look;
}

vec4 lensSampleColour(int k, vec2 position)
{
    vec2 p = lensSample[k];
    ivec2 views = lensSampleViews[k];
    vec2 shifted = position - focus * textureDirection(p);
    if (searchesDisparity == 0) {
        vec2 direction = textureDirection(p - lensViewPosition[views.x]);
        return textureLod(lensColour[views.x], shifted + focus * direction, minimumLod);
    }
    // Every ray of the nearest view meets disparity f in one place, whose disparity is the first
    // guess; what the nearest view finds is the next view's.
    float guess =
        lensDisparityAt(views.x, position - focus * textureDirection(lensViewPosition[views.x]));
    LensLook nearest = lookFrom(views.x, p, shifted, guess);
    LensLook next = lookFrom(views.y, p, shifted, nearest.d);
    bool takesNext = next.holds && (!nearest.holds || next.d > nearest.d + sameSurface);
    return takesNext ? next.colour : nearest.colour;
}

void main()
{
    vec4 sum = addsToPartialSum != 0 ? texelFetch(partialSum, ivec2(gl_FragCoord.xy), 0)
                                     : vec4(0.0);
    // The lens pictures what the view's frame holds; beyond it, as beyond a view, nothing.
    if (all(greaterThanEqual(uv, vec2(0.0))) && all(lessThanEqual(uv, vec2(1.0)))) {
        for (int k = 0; k < lensSampleCount; ++k)
            sum += sampleWeight * lensSampleColour(k, uv);
    }
    colour = sum;
    if (outputGamma != 1.0)
        colour.rgb = pow(max(sum.rgb, vec3(0.0)), vec3(1.0 / outputGamma));
}
#else
// The colour of the output point at texture position `position`, and whether it lies on an
// outline: some view with a weight does not see the front-most surface there, or sees it only in
// colours that a nearer surface may have tinted. first: the bounds of the point's block. surface:
// the disparity of what the point shows, of the front-most surface a view sees, or where no view
// sees one, of what lies farthest back.
vec4 synthesise(vec2 position, ivec4 first, out bool outline, out float surface)
{
    float weight[4];
    cellWeights(weight);

    // Offsets of the camera from each view: right of base is +x, below base is -t.
    vec2 camera = vec2(searchvectorX, searchvectorY);
    // A view without weight plays no part; on a grid line half of them have none.
    Sample views[4];
    Sample none;
    none.colour = vec4(0.0);
    none.depth = -1.0;
    none.farthest = 0.0;
    none.clean = false;
    views[0] = weight[0] > 0.0 ? search(position, input1[0], disparity[0], nearbyDisparity[0],
                                        camera + viewOffset[0], first[0])
                               : none;
    views[1] = weight[1] > 0.0 ? search(position, input1[1], disparity[1], nearbyDisparity[1],
                                        camera + viewOffset[1], first[1])
                               : none;
    views[2] = weight[2] > 0.0 ? search(position, input1[2], disparity[2], nearbyDisparity[2],
                                        camera + viewOffset[2], first[2])
                               : none;
    views[3] = weight[3] > 0.0 ? search(position, input1[3], disparity[3], nearbyDisparity[3],
                                        camera + viewOffset[3], first[3])
                               : none;

    // Nothing moves between the views: they blend where they are.
    outline = false;
    surface = 0.0;
    if (maxDisparity == 0) {
        return weight[0] * views[0].colour + weight[1] * views[1].colour
            + weight[2] * views[2].colour + weight[3] * views[3].colour;
    }

    // The front-most surface any view with a weight sees.
    float front = -1.0;
    for (int i = 0; i < 4; ++i) {
        if (weight[i] > 0.0)
            front = max(front, views[i].depth);
    }

    // Of the views that see the front-most surface, those whose colour no nearer surface has
    // tinted are preferred; only when there are none do the others count.
    bool anyClean = false;
    for (int i = 0; i < 4; ++i) {
        if (weight[i] > 0.0 && views[i].depth >= 0.0 && views[i].depth >= front - sameSurface)
            anyClean = anyClean || views[i].clean;
    }
    vec4 sum = vec4(0.0);
    float total = 0.0;
    for (int i = 0; i < 4; ++i) {
        bool sees = views[i].depth >= 0.0 && views[i].depth >= front - sameSurface;
        if (weight[i] > 0.0 && sees && (views[i].clean || !anyClean)) {
            sum += weight[i] * views[i].colour;
            total += weight[i];
        }
        outline = outline || (weight[i] > 0.0 && !(sees && views[i].clean));
    }
    surface = front;
    // A point that no view sees, uncovered between them: filled from what lies farthest back
    // along each view's ray, usually the background next to the occluder.
    if (total == 0.0) {
        surface = 0.0;
        for (int i = 0; i < 4; ++i) {
            sum += weight[i] * views[i].colour;
            total += weight[i];
            if (weight[i] > 0.0)
                surface = max(surface, views[i].farthest);
        }
    }
    return sum / total;
}

#ifdef SYNTHESISED_DISPARITY
// 1: the disparity in a colour map over 0 .. maxDisparity, to be looked at; 0: the disparity
// itself in the red channel.
uniform int colourMapped;

// A perceptually uniform colour map, dark blue-violet for far (0) through green to yellow for
// near (1): the sRGB colours at nine evenly spaced points, joined linearly. Lightness grows all
// the way, so a grey-scale print still orders the depths.
vec3 disparityColour(float t)
{
    const vec3 anchors[9] = vec3[9](vec3(68.0, 1.0, 84.0), vec3(71.0, 45.0, 123.0),
                                    vec3(59.0, 82.0, 139.0), vec3(44.0, 114.0, 142.0),
                                    vec3(33.0, 144.0, 140.0), vec3(39.0, 173.0, 129.0),
                                    vec3(93.0, 200.0, 99.0), vec3(170.0, 220.0, 50.0),
                                    vec3(253.0, 231.0, 37.0));
    float at = clamp(t, 0.0, 1.0) * 8.0;
    int below = min(int(floor(at)), 7);
    return mix(anchors[below], anchors[below + 1], at - float(below)) / 255.0;
}

void main()
{
    ivec4 first = boundedSearch != 0
        ? ivec4(texelFetch(searchBounds, ivec2(gl_FragCoord.xy) / boundsBlockSize, 0))
        : ivec4(0);
    bool outline;
    float surface;
    synthesise(uv, first, outline, surface);
    // Beyond the view's frame the picture shows nothing, and so this shows nothing there.
    if (any(lessThan(uv, vec2(0.0))) || any(greaterThan(uv, vec2(1.0))))
        colour = vec4(0.0);
    else if (colourMapped != 0)
        colour = vec4(disparityColour(surface / float(max(maxDisparity, 1))), 1.0);
    else
        colour = vec4(surface, 0.0, 0.0, 1.0);
}
#else

void main()
{
#ifdef SAMPLED_OUTLINES
    // The texture coordinates a pixel spans, across and up; taken here, where every pixel of a
    // group takes them.
    vec2 across = dFdx(uv);
    vec2 up = dFdy(uv);
#endif
    ivec4 first = boundedSearch != 0
        ? ivec4(texelFetch(searchBounds, ivec2(gl_FragCoord.xy) / boundsBlockSize, 0))
        : ivec4(0);
    bool outline;
    float surface;
    colour = synthesise(uv, first, outline, surface);
#ifdef SAMPLED_OUTLINES
    // On an outline, the mean of a grid of points over the pixel's area. A variant of its own: in
    // the plain warp's program this loop, though it took no step, made the software driver's
    // frames half as costly again.
    int samples = outline && edgeSamples > 1 ? edgeSamples * edgeSamples : 0;
    vec4 sum = vec4(0.0);
    for (int k = 0; k < samples; ++k) {
        vec2 at = (vec2(k % edgeSamples, k / edgeSamples) + 0.5) / float(edgeSamples) - 0.5;
        bool sampleOutline;
        float sampleSurface;
        sum += synthesise(uv + at.x * across + at.y * up, first, sampleOutline, sampleSurface);
    }
    if (samples > 0)
        colour = sum / float(samples);
#endif
}
#endif
#endif
