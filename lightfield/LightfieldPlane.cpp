#include "LightfieldPlane.h"

#include "ConfigurationError.h"
#include "LightfieldReader.h"
#include "viewer/gpu/GpuPass.h"

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

void LightfieldPlane::setFeatureLayer(int column, int row, int layer, OwnedTexture &&texture)
{
    if (!supportsLayer(layer))
        raiseConfigurationError("LightfieldPlane does not support this FeatureLayer");
    // The camera samples outside the views when the window is larger than a view; the margins
    // must come out transparent black.
    texture->setWrapMode(QOpenGLTexture::ClampToBorder);
    texture->setBorderColor(0.0f, 0.0f, 0.0f, 0.0f);
    // A stage stores each layer of a view once; a second one would replace the first.
    m_views[column][row].setLayer(layer, std::move(texture));
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

std::unique_ptr<LightfieldPlane> makePlaneFor(const LightfieldReader &reader, int colourLayer,
                                              KeyList parameters)
{
    KeyList layers {colourLayer};
    if (reader.hasDisparity()) {
        layers.push_back(Disparity);
        layers.push_back(DisparityTiles);
    }
    return std::make_unique<LightfieldPlane>(
        std::move(layers), std::move(parameters), reader.width(), reader.height(), reader.columns(),
        reader.rows(), reader.viewSpacing(), reader.reservedValue(), reader.maxDisparity());
}

QOpenGLTexture *storeDisparity(LightfieldPlane &plane, const LightfieldReader &reader,
                               FeatureLayers &view, int column, int row)
{
    if (!reader.hasDisparity())
        return nullptr;
    plane.setFeatureLayer(
        column, row, DisparityTiles,
        findDisparityTiles(*view.getLayer(RgbeDisparity), reader.width(), reader.height()));
    plane.setFeatureLayer(
        column, row, Disparity,
        convertDisparity(view.takeLayer(RgbeDisparity), reader.width(), reader.height()));
    return plane.layerAt(column, row, Disparity);
}

std::unique_ptr<LightfieldPlane> buildLdrPlane(PipelineOptions options, LightfieldReader *reader)
{
    (void)options;
    auto plane = makePlaneFor(*reader, LdrRgb);

    // The framebuffer serves the construction only.
    const Framebuffer framebuffer = Framebuffer::generate();
    FramebufferPasses passes(framebuffer);
    for (int row = 0; row < reader->rows(); ++row) {
        for (int column = 0; column < reader->columns(); ++column) {
            FeatureLayers view = reader->nextView();
            plane->setFeatureLayer(column, row, LdrRgb, view.takeLayer(LdrRgb));
            storeDisparity(*plane, *reader, view, column, row);
        }
    }
    return plane;
}

OwnedTexture convertDisparity(OwnedTexture source, int width, int height)
{
    return runPass({"disparity conversion", shaderProgram(ShaderProgram::RgbeToFloat), width,
                    height, PassFormat::R16F},
                   {{source.get(), 0}}, [](QOpenGLShaderProgram &program) {
                       program.setUniformValue("textureImage", 0);
                   });
}

OwnedTexture findDisparityTiles(QOpenGLTexture &source, int width, int height)
{
    const int columns = (width + disparityTileSize - 1) / disparityTileSize;
    const int rows = (height + disparityTileSize - 1) / disparityTileSize;
    return runPass({"disparity tiles", shaderProgram(ShaderProgram::DisparityTiles), columns, rows,
                    PassFormat::R32F},
                   {{&source, 0}}, [&](QOpenGLShaderProgram &program) {
                       program.setUniformValue("textureImage", 0);
                       program.setUniformValue("tileSize", disparityTileSize);
                       program.setUniformValue("horizontalResolution", width);
                       program.setUniformValue("verticalResolution", height);
                   });
}
