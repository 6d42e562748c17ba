#version 330 compatibility

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

uniform sampler2D input1[4]; // colour of the views base, right, diagonal, below
uniform sampler2D disparity[4]; // their disparity, pixels per view step
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

struct Sample
{
    vec4 colour;
    float depth; // disparity of the surface seen, or -1 when none agrees with itself
};

float residual(sampler2D disparityMap, vec2 direction, float d)
{
    return texture(disparityMap, uv + d * direction).r - d;
}

// The front-most self-consistent surface along the ray of one source view. offset is the
// camera's offset from that view in pixels per unit of disparity, in texture directions.
Sample search(sampler2D colourMap, sampler2D disparityMap, vec2 offset)
{
    vec2 texel = 1.0 / vec2(horizontalResolution, verticalResolution);
    vec2 direction = offset * texel;
    float reach = max(abs(offset.x), abs(offset.y));
    float range = float(maxDisparity);

    Sample found;
    found.colour = vec4(0.0);
    found.depth = -1.0;

    // A view at the camera position sees exactly what the camera sees.
    if (reach == 0.0 || range == 0.0) {
        found.colour = texture(colourMap, uv);
        found.depth = texture(disparityMap, uv).r;
        return found;
    }

    // Half a pixel of travel along the ray per step, so that no surface is stepped over.
    int steps = int(ceil(2.0 * range * reach));
    float delta = range / float(steps);
    float upper = range;
    float gUpper = residual(disparityMap, direction, upper);
    for (int k = 1; k <= steps; ++k) {
        float lower = range - float(k) * delta;
        float gLower = residual(disparityMap, direction, lower);
        // The residual grows as d falls on a surface, so a root lies where it turns from
        // negative to positive.
        if (gUpper <= 0.0 && gLower >= 0.0) {
            float a = lower;
            float b = upper;
            for (int i = 0; i < refinements; ++i) {
                float middle = 0.5 * (a + b);
                if (residual(disparityMap, direction, middle) >= 0.0)
                    a = middle;
                else
                    b = middle;
            }
            float d = 0.5 * (a + b);
            if (abs(residual(disparityMap, direction, d)) <= agreement) {
                found.colour = texture(colourMap, uv + d * direction);
                found.depth = d;
                return found;
            }
        }
        upper = lower;
        gUpper = gLower;
    }
    return found;
}

void main()
{
    // The nearest stored view when there is no disparity: then every sampler names it.
    vec2 fraction = clamp(vec2(searchvectorX, -searchvectorY), 0.0, 1.0);
    float weight[4];
    weight[0] = (1.0 - fraction.x) * (1.0 - fraction.y);
    weight[1] = fraction.x * (1.0 - fraction.y);
    weight[2] = fraction.x * fraction.y;
    weight[3] = (1.0 - fraction.x) * fraction.y;

    // Offsets of the camera from each view: right of base is +x, below base is -t.
    vec2 camera = vec2(searchvectorX, searchvectorY);
    Sample views[4];
    views[0] = search(input1[0], disparity[0], camera);
    views[1] = search(input1[1], disparity[1], camera + vec2(-1.0, 0.0));
    views[2] = search(input1[2], disparity[2], camera + vec2(-1.0, 1.0));
    views[3] = search(input1[3], disparity[3], camera + vec2(0.0, 1.0));

    // Front-most surface among the views that count; if none of them sees one, any view that does.
    float front = -1.0;
    for (int i = 0; i < 4; ++i) {
        if (weight[i] > 0.0)
            front = max(front, views[i].depth);
    }
    bool weighted = front >= 0.0;
    if (!weighted) {
        for (int i = 0; i < 4; ++i)
            front = max(front, views[i].depth);
    }

    vec4 sum = vec4(0.0);
    float total = 0.0;
    if (front >= 0.0) {
        for (int i = 0; i < 4; ++i) {
            float share = weighted ? weight[i] : max(weight[i], 1e-3);
            if (views[i].depth >= front - sameSurface && share > 0.0) {
                sum += share * views[i].colour;
                total += share;
            }
        }
    }
    // A point none of the four views sees (a disocclusion in all of them) takes the base view's
    // colour at the same place, usually background.
    colour = total > 0.0 ? sum / total : texture(input1[0], uv);
}
