#version 330 compatibility
// Core since OpenGL 4.0; an older driver without it stops the program with the compiler's message.
#extension GL_ARB_texture_gather : require

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
// The search skips the stretches of a ray that cannot hold a surface: a ray stops only at a
// disparity no larger than the largest one of the tile it crosses there, and each view's tiles
// know theirs. What it finds is what a search of every step finds.
//
// Compiled with NEAREST_VIEW, for light fields without disparity, it shows the first view as it
// is: the camera then names the nearest stored view for every sampler.

uniform sampler2D input1[4]; // colour of the views base, right, diagonal, below
uniform sampler2D disparity[4]; // their disparity, pixels per view step
uniform sampler2D disparityTiles[4]; // the largest disparity of each tile of their texels
uniform int tileSize; // the side of those tiles in texels
uniform float searchvectorX; // camera offset right of the base view, in views
uniform float searchvectorY; // camera offset below the base view, negated, in views
uniform int horizontalResolution; // view size in pixels
uniform int verticalResolution;
uniform int maxDisparity; // search range in pixels per view step; 0 without disparity

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
    vec4 colour;
    float depth; // disparity of the surface seen, or -1 when none agrees with itself
    bool clean; // no nearer surface is close enough to have bled into the colour
    vec4 farthest; // without a surface: the colour where the ray met the farthest one
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

// The colour at a texture position. Inside the view a filtered read never reaches past the
// outermost texel centres, so the view's edge is not darkened by the transparent border; outside
// the view it is that border.
vec4 colourAt(sampler2D colourMap, vec2 position)
{
    vec2 size = vec2(horizontalResolution, verticalResolution);
    if (any(lessThan(position, vec2(0.0))) || any(greaterThan(position, vec2(1.0))))
        return texture(colourMap, position);
    return texture(colourMap, clamp(position, 0.5 / size, 1.0 - 0.5 / size));
}

// No disparity in a tile of the view exceeds this: the tile's largest, made a little larger to
// cover the rounding of the half-float map; 0 for a tile outside the view.
float tileBound(sampler2D tiles, ivec2 tile)
{
    ivec2 tileCount = (ivec2(horizontalResolution, verticalResolution) + tileSize - 1) / tileSize;
    if (any(lessThan(tile, ivec2(0))) || any(greaterThanEqual(tile, tileCount)))
        return 0.0;
    return texelFetch(tiles, tile, 0).r * (1.0 + 1.0 / 1024.0);
}

// Where the ray at disparity d lies in a view's tiles: the bound of its tile and the disparity
// below which the ray has left that tile.
struct TileSpan
{
    float bound;
    float exitAt;
};

TileSpan tileAlongRay(sampler2D tiles, vec2 offset, float d)
{
    ivec2 size = ivec2(horizontalResolution, verticalResolution);
    // In texels, as disparityAt finds them.
    vec2 position = (uv + d * offset / vec2(size)) * vec2(size);
    ivec2 tile = ivec2(floor(position / float(tileSize)));

    TileSpan span;
    span.bound = tileBound(tiles, tile);
    // As d falls the ray moves by -offset texels per unit.
    vec2 low = vec2(tile * tileSize);
    vec2 exits = vec2(-1e30);
    for (int axis = 0; axis < 2; ++axis) {
        if (offset[axis] > 0.0)
            exits[axis] = d - (position[axis] - low[axis]) / offset[axis];
        else if (offset[axis] < 0.0)
            exits[axis] = d - (low[axis] + float(tileSize) - position[axis]) / -offset[axis];
    }
    span.exitAt = max(exits.x, exits.y);
    return span;
}

// Whether a surface nearer than d lies within the texels a filtered colour read at position
// draws from, or next to them: a view's texels along an outline mix both surfaces' colours, so a
// surface seen just behind an occluder's outline comes out tinted by the occluder.
bool nearerSurfaceAround(sampler2D disparityMap, vec2 position, float d)
{
    vec2 size = vec2(horizontalResolution, verticalResolution);
    // The texels from base - 1 to base + 2 in four gathers of 2 x 2, each at the corner that the
    // texels of one of them share, where no rounding can pick other texels; beyond the view's
    // edge the border reads 0, as disparityAt does. Four gathers cost less than asking the tiles
    // whether the texels need reading at all.
    vec2 base = floor(position * size - 0.5);
    vec4 a = textureGather(disparityMap, (base + vec2(0.0, 0.0)) / size);
    vec4 b = textureGather(disparityMap, (base + vec2(2.0, 0.0)) / size);
    vec4 c = textureGather(disparityMap, (base + vec2(0.0, 2.0)) / size);
    vec4 e = textureGather(disparityMap, (base + vec2(2.0, 2.0)) / size);
    vec4 m = max(max(a, b), max(c, e));
    return max(max(m.x, m.y), max(m.z, m.w)) > d + sameSurface;
}

float residual(sampler2D disparityMap, vec2 direction, float d)
{
    return disparityAt(disparityMap, uv + d * direction) - d;
}

// The front-most self-consistent surface along the ray of one source view. offset is the
// camera's offset from that view in pixels per unit of disparity, in texture directions.
Sample search(sampler2D colourMap, sampler2D disparityMap, sampler2D tiles, vec2 offset)
{
    vec2 texel = 1.0 / vec2(horizontalResolution, verticalResolution);
    vec2 direction = offset * texel;
    float reach = max(abs(offset.x), abs(offset.y));
    // Nothing moves farther than across the whole view between neighbouring views; whatever the
    // uniform says, the search stays within that, and so does its number of steps.
    float range = min(float(maxDisparity), float(max(horizontalResolution, verticalResolution)));

    Sample found;
    found.colour = vec4(0.0);
    found.depth = -1.0;
    found.clean = true;
    found.farthest = vec4(0.0);

    // A view at the camera position sees exactly what the camera sees.
    if (reach == 0.0 || range == 0.0) {
        found.colour = texture(colourMap, uv);
        found.depth = disparityAt(disparityMap, uv);
        return found;
    }

    // Half a pixel of travel along the ray per step, so that no surface is stepped over. Step k
    // lies at d = range - k × delta; upper is the step before the one examined.
    int steps = int(min(ceil(2.0 * range * reach), float(maxSteps)));
    float delta = range / float(steps);
    int k = 0;
    float upper = range;
    float gUpper = residual(disparityMap, direction, upper);
    float farthestDisparity = gUpper + upper;
    float farthestAt = upper;
    while (k < steps) {
        // A step can end a bracket only where the residual is not negative, that is where d is
        // at most the largest disparity of the tile the ray is in: the steps above that within
        // the tile are passed over, up to the last one, which begins the next bracket.
        TileSpan span = tileAlongRay(tiles, offset, upper);
        int last = int(ceil((range - max(span.exitAt, span.bound) - 0.001) / delta)) - 1;
        if (last > k) {
            k = min(last, steps);
            upper = range - float(k) * delta;
            gUpper = residual(disparityMap, direction, upper);
            if (gUpper + upper < farthestDisparity) {
                farthestDisparity = gUpper + upper;
                farthestAt = upper;
            }
            continue;
        }
        // Every step to the first one outside the tile.
        int end = clamp(int(ceil((range - span.exitAt) / delta)), k + 1, steps);
        for (; k < end; ++k) {
            float lower = range - float(k + 1) * delta;
            float gLower = residual(disparityMap, direction, lower);
            if (gLower + lower < farthestDisparity) {
                farthestDisparity = gLower + lower;
                farthestAt = lower;
            }
            // The residual grows as d falls on a surface, so a root lies where it turns from
            // negative to positive.
            if (gUpper <= 0.0 && gLower >= 0.0) {
                // On a surface of one disparity the residual is linear in d, and the secant
                // through the bracket's ends meets the root exactly; elsewhere, bisection.
                float rise = gLower - gUpper;
                float d = rise > 0.0 ? lower + gLower * (upper - lower) / rise : lower;
                float gRoot = residual(disparityMap, direction, d);
                if (abs(gRoot) > agreement) {
                    float a = lower;
                    float b = upper;
                    for (int i = 0; i < refinements; ++i) {
                        float middle = 0.5 * (a + b);
                        if (residual(disparityMap, direction, middle) >= 0.0)
                            a = middle;
                        else
                            b = middle;
                    }
                    d = 0.5 * (a + b);
                    gRoot = residual(disparityMap, direction, d);
                }
                if (abs(gRoot) <= agreement) {
                    found.colour = colourAt(colourMap, uv + d * direction);
                    found.depth = d;
                    found.clean = !nearerSurfaceAround(disparityMap, uv + d * direction, d);
                    return found;
                }
            }
            upper = lower;
            gUpper = gLower;
        }
    }
    // Beyond the view's edge the ray met nothing but the transparent border; the edge texel is
    // the nearest thing the view saw there.
    vec2 size = vec2(horizontalResolution, verticalResolution);
    found.farthest =
        texture(colourMap, clamp(uv + farthestAt * direction, 0.5 / size, 1.0 - 0.5 / size));
    return found;
}

void main()
{
#ifdef NEAREST_VIEW
    colour = texture(input1[0], uv);
#else
    vec2 fraction = clamp(vec2(searchvectorX, -searchvectorY), 0.0, 1.0);
    float weight[4];
    weight[0] = (1.0 - fraction.x) * (1.0 - fraction.y);
    weight[1] = fraction.x * (1.0 - fraction.y);
    weight[2] = fraction.x * fraction.y;
    weight[3] = (1.0 - fraction.x) * fraction.y;

    // Nothing moves between the views: they blend where they are.
    if (maxDisparity == 0) {
        colour = weight[0] * texture(input1[0], uv) + weight[1] * texture(input1[1], uv)
            + weight[2] * texture(input1[2], uv) + weight[3] * texture(input1[3], uv);
        return;
    }

    // Offsets of the camera from each view: right of base is +x, below base is -t.
    vec2 camera = vec2(searchvectorX, searchvectorY);
    // A view without weight plays no part; on a grid line half of them have none.
    Sample views[4];
    Sample none;
    none.colour = vec4(0.0);
    none.depth = -1.0;
    none.clean = false;
    none.farthest = vec4(0.0);
    views[0] = weight[0] > 0.0 ? search(input1[0], disparity[0], disparityTiles[0], camera) : none;
    views[1] = weight[1] > 0.0
        ? search(input1[1], disparity[1], disparityTiles[1], camera + vec2(-1.0, 0.0))
        : none;
    views[2] = weight[2] > 0.0
        ? search(input1[2], disparity[2], disparityTiles[2], camera + vec2(-1.0, 1.0))
        : none;
    views[3] = weight[3] > 0.0
        ? search(input1[3], disparity[3], disparityTiles[3], camera + vec2(0.0, 1.0))
        : none;

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
    }
    // A point that no view sees, uncovered between them: filled from what lies farthest back
    // along each view's ray, usually the background next to the occluder.
    if (total == 0.0) {
        for (int i = 0; i < 4; ++i) {
            sum += weight[i] * views[i].farthest;
            total += weight[i];
        }
    }
    colour = sum / total;
#endif
}
