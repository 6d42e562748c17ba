#pragma once

#include "lightfield/LightfieldPlane.h"

#include <memory>

class LightfieldReader;

// The linear pass's curve in this stage. The Reinhard post-processors undo the gamma with the same
// value, so the two change together.
constexpr float linearStageWhitePoint = 1.0f;
constexpr float linearStageGamma = 2.2f;

// The plane stage of the builds that tone-map every frame: each RGBE view is measured on the CPU
// (its eight statistics become the view's parameters AverageRed … Contrast) and converted by the
// linear pass, white point 1 and gamma 2.2, into a half-float TonemappedRgb layer; disparity
// becomes the Disparity layer. Needs the viewer's context current and the shader programs loaded.
std::unique_ptr<PlaneStage> makeLinearStage();
std::unique_ptr<LightfieldPlane> buildHdrPlane(LightfieldReader *reader,
                                               const PlaneProgressReport &progress = {});

// The linear pass ("rgbe2rgba8LinearTonemapping.frag"): an RGBE texture decoded, divided by the
// white point and raised to 1 / gamma, into a new GL_RGBA16F texture of width × height. Consumes
// the input. Runs inside FramebufferPasses.
OwnedTexture linearTonemap(OwnedTexture rgbe, int width, int height, float whitePoint, float gamma);
