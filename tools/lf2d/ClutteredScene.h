#pragma once

#include "SyntheticScene.h"

#include <utility>
#include <vector>

// The cluttered synthetic scene, a harder test of view synthesis than the layered one: poles
// one, two and three pixels wide and a thin wire in front (disparities 15 to 20 at the bound of
// 24), four discs at as many depths, a wall turned away from the cameras (disparity 5 at its left
// edge to 10 at its right) and slanted ground (1.5 at the top to 6.5 at the lower right). The
// layer a ray sees is the one with the largest disparity along it, so slanted layers may cut
// through others. Disparities scale with the bound; shapes with the view size, except the thin
// occluders, which keep their width in pixels.
namespace synth {

// As SyntheticScene::renderView and disparityMap, for the cluttered scene.
FloatImage renderClutteredView(const SceneOptions &options, double x, double y);
std::vector<float> clutteredDisparityMap(const SceneOptions &options, double x, double y);

// As SyntheticScene's private addPointSamples, for the cluttered scene.
void addClutteredPointSamples(const SceneOptions &options, double x, double y, double u, double v,
                              int firstRow, int endRow, double *sums);

// The smallest and largest disparity of the cluttered scene's layers from the reference camera.
std::pair<double, double> clutteredDisparityRange(const SceneOptions &options);

} // namespace synth
