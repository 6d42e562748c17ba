#include "LightfieldPlane.h"

#include "ConfigurationError.h"
#include "LightfieldReader.h"
#include "deliverables/BuildConfiguration.h"
#include "viewer/ScreenQuad.h"
#include "viewer/ShaderLibrary.h"

#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLShaderProgram>

LightfieldPlane::LightfieldPlane(KeyList supportedLayers, KeyList supportedParameters, int width,
                                 int height, int columns, int rows, int viewSpacing,
                                 int reservedValue, int maxDisparity)
    : m_supportedLayers(std::move(supportedLayers))
    , m_supportedParameters(std::move(supportedParameters))
    , m_viewSpacing(viewSpacing)
    , m_reservedValue(reservedValue)
    , m_width(width)
    , m_height(height)
    , m_columns(columns)
    , m_rows(rows)
    , m_maxDisparity(maxDisparity)
{
    m_views.resize(static_cast<size_t>(columns));
    for (auto &column : m_views)
        column.resize(static_cast<size_t>(rows));
}

void LightfieldPlane::setFeatureLayer(int column, int row, int layer, QOpenGLTexture *texture)
{
    if (!supportsLayer(layer))
        raiseConfigurationError("LightfieldPlane does not support this FeatureLayer");
    // The camera samples outside the views when the window is larger than a view; the margins
    // must come out transparent black.
    texture->setWrapMode(QOpenGLTexture::ClampToBorder);
    texture->setBorderColor(0.0f, 0.0f, 0.0f, 0.0f);
    m_views[column][row].setLayer(layer, texture);
}

void LightfieldPlane::setParameter(int column, int row, int parameter, float value)
{
    if (!listContains(m_supportedParameters, parameter))
        raiseConfigurationError("LightfieldPlane does not support this Parameter");
    m_views[column][row].setParameter(parameter, value);
}

const FeatureLayers &LightfieldPlane::featureLayersAt(int column, int row) const
{
    return m_views[column][row];
}

QOpenGLTexture *LightfieldPlane::layerAt(int column, int row, int layer) const
{
    return m_views[column][row].getLayer(layer);
}

std::unique_ptr<LightfieldPlane> createLightfieldPlane(PipelineOptions options,
                                                       LightfieldReader *reader)
{
    return createLightfieldPlane(std::move(options), reader, activeBuildConfiguration());
}

std::unique_ptr<LightfieldPlane> createLightfieldPlane(PipelineOptions options,
                                                       LightfieldReader *reader,
                                                       const BuildConfiguration &configuration)
{
    if (!reader->isHdr())
        return buildLdrPlane(std::move(options), reader);
    return buildHdrPlaneStage(configuration, std::move(options), reader);
}

std::unique_ptr<LightfieldPlane> buildLdrPlane(PipelineOptions options, LightfieldReader *reader)
{
    (void)options;
    QOpenGLFunctions_3_3_Core gl;
    gl.initializeOpenGLFunctions();

    GLuint framebuffer = 0;
    gl.glGenFramebuffers(1, &framebuffer);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    const GLenum drawBuffer = GL_COLOR_ATTACHMENT0;
    gl.glDrawBuffers(1, &drawBuffer);

    KeyList layers {LdrRgb};
    if (reader->hasDisparity())
        layers.push_back(Disparity);
    auto plane = std::make_unique<LightfieldPlane>(
        layers, KeyList {}, reader->width(), reader->height(), reader->columns(), reader->rows(),
        reader->viewSpacing(), reader->reservedValue(), reader->maxDisparity());

    for (int row = 0; row < reader->rows(); ++row) {
        for (int column = 0; column < reader->columns(); ++column) {
            FeatureLayers view = reader->nextView();
            plane->setFeatureLayer(column, row, LdrRgb, view.takeLayer(LdrRgb));
            if (reader->hasDisparity()) {
                plane->setFeatureLayer(column, row, Disparity,
                                       convertDisparity(view.takeLayer(RgbeDisparity),
                                                        reader->width(), reader->height()));
            }
        }
    }

    gl.glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, 0, 0);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    // The framebuffer served the construction only.
    gl.glDeleteFramebuffers(1, &framebuffer);
    return plane;
}

QOpenGLTexture *convertDisparity(QOpenGLTexture *source, int width, int height)
{
    QOpenGLTexture *output = createAttachedTexture(width, height, QOpenGLTexture::R16F, 0,
                                                   QOpenGLTexture::Red, QOpenGLTexture::Float16);
    source->bind(0, QOpenGLTexture::DontResetTextureUnit);
    QOpenGLShaderProgram &program = shaderProgram(ShaderProgram::RgbeToFloat);
    program.bind();
    program.setUniformValue("textureImage", 0);
    drawScreenQuad(width, height);
    source->release(0, QOpenGLTexture::DontResetTextureUnit);
    delete source;
    program.release();
    return output;
}
