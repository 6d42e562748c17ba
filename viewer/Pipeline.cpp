#include "Pipeline.h"

#include "deliverables/BuildConfiguration.h"
#include "gpu/GpuPass.h"
#include "gpu/ShaderLibrary.h"
#include "lightfield/LightfieldReader.h"
#include "postprocessing/LinearPlaneStage.h"
#include "postprocessing/PlaneStages.h"
#include "viewer/gpu/ConfigurationError.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLFunctions_3_3_Core>

#ifndef GL_CLAMP_VERTEX_COLOR
#define GL_CLAMP_VERTEX_COLOR 0x891A
#endif
#ifndef GL_CLAMP_FRAGMENT_COLOR
#define GL_CLAMP_FRAGMENT_COLOR 0x891B
#endif

namespace {

std::string glErrorName(GLenum error)
{
    switch (error) {
    case GL_OUT_OF_MEMORY:
        return "out of memory (GL_OUT_OF_MEMORY)";
    case GL_INVALID_ENUM:
        return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE:
        return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION:
        return "GL_INVALID_OPERATION";
    case GL_INVALID_FRAMEBUFFER_OPERATION:
        return "GL_INVALID_FRAMEBUFFER_OPERATION";
    default:
        return "GL error 0x" + QByteArray::number(int(error), 16).toStdString();
    }
}

} // namespace

void prepareViewerContext()
{
    QOpenGLContext *context = QOpenGLContext::currentContext();
    auto *gl = context->versionFunctions<QOpenGLFunctions_3_3_Core>();
    if (!gl || !gl->initializeOpenGLFunctions()) {
        const QSurfaceFormat format = context->format();
        raiseConfigurationError("The viewer needs OpenGL 3.3 or later with the compatibility "
                                "profile; this driver offers OpenGL "
                                + std::to_string(format.majorVersion()) + "."
                                + std::to_string(format.minorVersion()));
    }
    gl->glEnable(GL_TEXTURE_2D);
    gl->glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    // Floating-point pass outputs and read-backs keep values outside 0..1.
    gl->glClampColor(GL_CLAMP_READ_COLOR, GL_FALSE);
    gl->glClampColor(GL_CLAMP_VERTEX_COLOR, GL_FALSE);
    gl->glClampColor(GL_CLAMP_FRAGMENT_COLOR, GL_FALSE);

    loadShaderPrograms();
}

Pipeline::Pipeline(LightfieldReader &reader, const BuildConfiguration &configuration,
                   const PlaneProgressReport &progress)
    : m_configuration(configuration)
    , m_isHdr(reader.isHdr())
{
    m_plane = createLightfieldPlane(PipelineOptions(), &reader, configuration, progress);
    requireNoGlError("loading the views of \"" + reader.fileName() + "\"");
    m_camera = createCamera(PipelineOptions(), m_plane.get());
    // The linear stage's views hold radiance raised to 1 / gamma; a lens averages radiance.
    if (m_plane->supportsLayer(TonemappedRgb))
        m_camera->setRadianceGamma(linearStageGamma);
    m_postProcessor = createPostProcessor(PipelineOptions(), m_isHdr, configuration);
}

void Pipeline::restartPostProcessor()
{
    m_postProcessor = createPostProcessor(PipelineOptions(), m_isHdr, m_configuration);
}

void Pipeline::renderFrame(QPoint origin, int width, int height, QSize displaySize)
{
    if (m_showsDisparity) {
        showPicture(m_camera->renderDisparity(width, height),
                    displaySize.isEmpty() ? QSize(width, height) : displaySize);
        return;
    }
    renderPipelineFrame(*m_camera, *m_postProcessor, origin, width, height, displaySize);
}

bool Pipeline::setShowsDisparity(bool shows)
{
    m_showsDisparity = shows && m_plane->supportsLayer(Disparity);
    return m_showsDisparity;
}

void renderPipelineFrame(LightfieldCamera &camera, PostProcessor &postProcessor, QPoint origin,
                         int width, int height, QSize displaySize)
{
    showCameraView(camera.render(origin.x(), origin.y(), width, height), postProcessor,
                   displaySize);
}

void showCameraView(std::unique_ptr<CameraView> view, PostProcessor &postProcessor,
                    QSize displaySize)
{
    if (!postProcessor.meetsRequirements(*view))
        raiseConfigurationError(postProcessorRequirementsMessage);

    PassOutputPool::Use reuse(postProcessor.passOutputs());
    LuminanceStretch stretch;
    const OwnedTexture texture = postProcessor.processForDisplay(*view, stretch);
    if (displaySize.isEmpty())
        displaySize = QSize(view->width(), view->height());
    displayTexture(*texture, displaySize.width(), displaySize.height(), stretch);
}

void showPicture(OwnedTexture picture, QSize displaySize)
{
    displayTexture(*picture, displaySize.width(), displaySize.height());
}

void requireNoGlError(const std::string &whatWasDone)
{
    QOpenGLFunctions *gl = QOpenGLContext::currentContext()->functions();
    std::string errors;
    for (GLenum error = gl->glGetError(); error != GL_NO_ERROR; error = gl->glGetError()) {
        if (!errors.empty())
            errors += ", ";
        errors += glErrorName(error);
    }
    if (!errors.empty())
        raiseConfigurationError("The OpenGL driver failed while " + whatWasDone + ": " + errors);
}
