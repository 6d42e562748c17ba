#pragma once

#include "lightfield/FeatureLayers.h"
#include "lightfield/PipelineOptions.h"
#include "viewer/gpu/GpuPass.h"

#include <QOpenGLFunctions_3_3_Core>

#include <memory>

struct BuildConfiguration;

// The message of a pipeline whose stages do not fit together.
extern const char *const postProcessorRequirementsMessage;

// Stage 3 of the pipeline: turns the camera's view into the one texture the window shows.
class PostProcessor : public QOpenGLFunctions_3_3_Core
{
public:
    virtual ~PostProcessor() = default;

    // Whether the camera's own layers (slot 0) hold every required layer and parameter; the four
    // stored views are not looked at.
    bool meetsRequirements(const CameraView &view) const;

    // The texture to show, handed to the caller, which draws it and destroys it. It may be one of
    // the view's own layer textures, taken out of the view.
    virtual OwnedTexture process(CameraView &view) = 0;

    // The same picture for the window, which may leave its last step to the display: the texture,
    // and in `stretch` the luminance stretch that displayTexture applies as it draws it, one
    // full-window pass fewer than process() takes. Unless overridden, process() and no stretch.
    virtual OwnedTexture processForDisplay(CameraView &view, LuminanceStretch &stretch);

    const KeyList &requiredLayers() const { return m_requiredLayers; }
    const KeyList &requiredParameters() const { return m_requiredParameters; }

    // Whether the picture of the last frame is still on its way somewhere, so that the next frame
    // of the same view differs from it: the window then draws another one. A post-processor
    // whose output depends on the view alone never is.
    virtual bool isAdapting() const { return false; }

    // Where the passes of process() take their outputs from while a frame is shown, so that a
    // frame reuses the textures of the ones before it.
    PassOutputPool &passOutputs() { return m_passOutputs; }

protected:
    KeyList m_requiredLayers;
    KeyList m_requiredParameters;

private:
    PassOutputPool m_passOutputs {16};
};

// Shows the camera's 8-bit view, or its half-float view, unchanged.
class LDRRGBPostProcessor : public PostProcessor
{
public:
    LDRRGBPostProcessor() = default;
    OwnedTexture process(CameraView &view) override;
};

// The build's post-processor for a file with or without RGBE views.
std::unique_ptr<PostProcessor> createPostProcessor(PipelineOptions options, bool isHdr);
std::unique_ptr<PostProcessor> createPostProcessor(PipelineOptions options, bool isHdr,
                                                   const BuildConfiguration &configuration);
