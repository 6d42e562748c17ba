#pragma once

#include "lightfield/LightfieldPlane.h"

#include <cstdint>
#include <memory>

class LightfieldReader;

// The photoreceptor operator of Reinhard and Devlin (2005) applied once per view while the plane
// is built, so frames only warp finished 8-bit views.
struct ReinhardPlaneSettings
{
    // Shared: one set of statistics pooled over all views drives every view, and the result is
    // stretched with the fixed byte range 0 to 230, so the whole light field keeps one exposure.
    // Per view: each view's own statistics and contrast, stretched to its own measured range.
    bool sharedStatistics = false;
    float brightness = 0.0f; // f = exp(-brightness)
    // Texture memory to take as free instead of the driver's figure, in bytes; -1 asks the
    // driver. The shared flavour's refusal can so be tried on any machine.
    std::int64_t textureMemoryBytes = -1;
};

// The plane stage: LdrRgb (and Disparity) per view, no parameters. The shared flavour holds
// every view's RGBE texture between its two sweeps (rows × columns × width × height × 4 bytes);
// when the GPU says it cannot hold them, a configuration error says so. Needs the
// viewer's context current and the shader programs loaded.
// The stage for a reader's file; the shared flavour refuses a file whose views the GPU cannot
// hold at once before any view is read.
std::unique_ptr<PlaneStage> makeReinhardStage(const LightfieldReader &reader,
                                              const ReinhardPlaneSettings &settings);
std::unique_ptr<LightfieldPlane> buildReinhardPlane(LightfieldReader *reader,
                                                    const ReinhardPlaneSettings &settings,
                                                    const PlaneProgressReport &progress = {});

// Texture memory the GPU reports free, in bytes, or -1 where the driver does not say; the
// settings' figure where they give one.
std::int64_t availableTextureMemory(const ReinhardPlaneSettings &settings);
