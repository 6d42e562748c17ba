#pragma once

#include "TonemappingCurve.h"
#include "lightfield/LightfieldPlane.h"

#include <memory>

class LightfieldReader;

// The saturation exponent s of the colour restoration channel_out = (channel_in / L_in)^s · L_out.
// Below 1 it pulls colours towards grey, countering the oversaturation that compressing
// luminance alone brings to bright, strongly coloured light.
constexpr float curveColourCorrection = 0.6f;

// The plane stage of the histogram-adjustment builds: each RGBE view is tone-mapped once, while
// the plane is built, by its own tone curve (computeTonemappingCurve on the CPU, with
// trimPassLimit trimming passes, 0 for trimming until the tolerance is met) into an 8-bit LdrRgb
// layer; disparity becomes the Disparity layer. No parameters. Needs the viewer's context current
// and the shader programs loaded.
std::unique_ptr<PlaneStage> makeCurveStage(int trimPassLimit);
std::unique_ptr<LightfieldPlane> buildCurvePlane(LightfieldReader *reader, int trimPassLimit,
                                                 const PlaneProgressReport &progress = {});

// The tone curve of an RGBE texture of width × height texels whose luminance lies in
// [minimumLuminance, maximumLuminance] (the minimum already floored at luminanceFloor): the
// texture is read back, computeTonemappingCurve() runs on the CPU and its curve is uploaded by
// uploadToneCurve(). The RGBE texture is left as it is.
OwnedTexture computeTonemappingCurve(QOpenGLTexture &rgbe, int width, int height,
                                     float minimumLuminance, float maximumLuminance,
                                     int trimPassLimit);

// A curve as a curveBins × 1 texture of one 8-bit channel (GL_R8), filtered linearly so that the
// lookup interpolates between bins. Its wrap is mirrored repeat, which the curve pass never
// reaches: it clamps its lookups to the first and last bin centres.
OwnedTexture uploadToneCurve(const ToneCurve &curve);

// The curve pass ("TonemappingCurveTonemapping.frag"): linear colour (the RGBE view decoded by
// linearTonemap with white point and gamma 1) tone-mapped by a curve of computeTonemappingCurve
// for [minimumLuminance, maximumLuminance] into a new GL_RGBA8 texture of width × height.
// Consumes both inputs. Runs inside FramebufferPasses.
OwnedTexture tonemapWithCurve(OwnedTexture linear, OwnedTexture curve, int width, int height,
                              float minimumLuminance, float maximumLuminance);

// The same pass on the RGBE view itself, decoded in the pass as linearTonemap would decode it with
// white point and gamma 1: what the plane stage runs, one pass and one texture fewer a view.
OwnedTexture tonemapRgbeWithCurve(OwnedTexture rgbe, OwnedTexture curve, int width, int height,
                                  float minimumLuminance, float maximumLuminance);
