#include "BilateralPlaneStage.h"

#include "BilateralGrid.h"
#include "lightfield/LightfieldReader.h"
#include "viewer/gpu/GpuPass.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLPixelTransferOptions>

namespace {

// The side of the cells the window is sampled in (see the shader).
int cellSizeOf(BilateralSampling sampling)
{
    return sampling == BilateralSampling::EveryTexel ? 1 : 5;
}

// The operator's uniforms, in the order the shader declares them, and the two runs' own.
void setBilateralUniforms(QOpenGLShaderProgram &program, const BilateralSettings &settings,
                          int width, int height, bool useDisparity, bool writeLogLuminance)
{
    program.setUniformValue("textureImage", 0);
    program.setUniformValue("disparityImage", 1);
    program.setUniformValue("absoluteScale", settings.absoluteScale);
    program.setUniformValue("compressionFactor", settings.compressionFactor);
    program.setUniformValue("disparityEdgeCompressionFactor",
                            settings.disparityEdgeCompressionFactor);
    program.setUniformValue("filterSize", settings.filterSize);
    program.setUniformValue("gaussSigmaPosition", settings.gaussSigmaPosition);
    program.setUniformValue("gaussSigmaIntensity", settings.gaussSigmaIntensity);
    program.setUniformValue("gaussSigmaDisparity", settings.gaussSigmaDisparity);
    program.setUniformValue("horizontalResolution", width);
    program.setUniformValue("verticalResolution", height);
    program.setUniformValue("colourCorrection", settings.colourCorrection);
    // Without a map, unit 1 holds nothing to read: the term is off rather than fed whatever
    // the sampler finds there.
    program.setUniformValue("useDisparity", int(useDisparity));
    program.setUniformValue("writeLogLuminance", int(writeLogLuminance));
    program.setUniformValue("logLuminanceImage", 2);
    program.setUniformValue("cellSize", cellSizeOf(settings.sampling));
}

class BilateralStage : public PlaneStage
{
public:
    BilateralStage(bool useDisparity, BilateralSampling sampling)
        : PlaneStage(LdrRgb)
        , m_useDisparity(useDisparity)
    {
        m_settings.sampling = sampling;
    }

    void storeView(ViewToStore &view) override
    {
        view.plane.setFeatureLayer(view.column, view.row, LdrRgb,
                                   bilateralTonemap(view.read.takeLayer(RgbeImage),
                                                    m_useDisparity ? view.disparity : nullptr,
                                                    view.plane.width(), view.plane.height(),
                                                    m_settings, &m_gridFilter));
    }

private:
    bool m_useDisparity;
    BilateralSettings m_settings;
    BilateralGridFilter m_gridFilter;
};

// The grid's tone mapping: the view and its disparity read back, filtered on the CPU and the
// result uploaded.
OwnedTexture gridTonemap(QOpenGLTexture &rgbe, QOpenGLTexture *disparity, int width, int height,
                         const BilateralSettings &settings, BilateralGridFilter &filter)
{
    QOpenGLFunctions_3_3_Core *gl =
        QOpenGLContext::currentContext()->versionFunctions<QOpenGLFunctions_3_3_Core>();
    const size_t texels = size_t(width) * size_t(height);
    std::vector<std::uint8_t> &bytes = filter.transfer.rgbe;
    std::vector<float> &disparities = filter.transfer.disparity;
    std::vector<std::uint8_t> &mapped = filter.transfer.rgba;
    bytes.resize(texels * 4);
    disparities.resize(disparity ? texels : 0);
    mapped.resize(texels * 4);
    gl->glActiveTexture(GL_TEXTURE0);
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl->glBindTexture(GL_TEXTURE_2D, rgbe.textureId());
    gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
    if (disparity) {
        gl->glBindTexture(GL_TEXTURE_2D, disparity->textureId());
        gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_FLOAT, disparities.data());
    }
    gl->glBindTexture(GL_TEXTURE_2D, 0);

    filter.tonemap(bytes.data(), disparity ? disparities.data() : nullptr, width, height, settings,
                   mapped.data());

    OwnedTexture out(new QOpenGLTexture(QOpenGLTexture::Target2D));
    out->setFormat(QOpenGLTexture::RGBA8_UNorm);
    out->setSize(width, height);
    // Sampled as the passes' outputs are.
    out->setMinMagFilters(QOpenGLTexture::Nearest, QOpenGLTexture::Nearest);
    out->setWrapMode(QOpenGLTexture::ClampToBorder);
    out->setBorderColor(0.0f, 0.0f, 0.0f, 1.0f);
    out->allocateStorage(QOpenGLTexture::RGBA, QOpenGLTexture::UInt8);
    QOpenGLPixelTransferOptions unpacking;
    unpacking.setAlignment(1);
    out->setData(QOpenGLTexture::RGBA, QOpenGLTexture::UInt8,
                 static_cast<const void *>(mapped.data()), &unpacking);
    return out;
}

} // namespace

std::unique_ptr<LightfieldPlane> buildBilateralPlane(LightfieldReader *reader, bool useDisparity,
                                                     BilateralSampling sampling,
                                                     const PlaneProgressReport &progress)
{
    return buildPlane(*reader, *makeBilateralStage(useDisparity, sampling), progress);
}

std::unique_ptr<PlaneStage> makeBilateralStage(bool useDisparity, BilateralSampling sampling)
{
    return std::make_unique<BilateralStage>(useDisparity, sampling);
}

OwnedTexture bilateralTonemap(OwnedTexture rgbe, QOpenGLTexture *disparity, int width, int height,
                              const BilateralSettings &settings, BilateralGridFilter *gridFilter)
{
    if (settings.sampling == BilateralSampling::Grid) {
        if (gridFilter)
            return gridTonemap(*rgbe, disparity, width, height, settings, *gridFilter);
        BilateralGridFilter filter;
        return gridTonemap(*rgbe, disparity, width, height, settings, filter);
    }

    QOpenGLShaderProgram &program = shaderProgram(ShaderProgram::BilateralTonemapping);
    const bool useDisparity = disparity != nullptr;
    // Mirrored at the borders, the window never reaches outside the view: a border pixel's base
    // layer is made of the picture alone.
    rgbe->setWrapMode(QOpenGLTexture::MirroredRepeat);
    std::vector<PassInput> inputs {{rgbe.get(), 0}};
    if (disparity) {
        disparity->setWrapMode(QOpenGLTexture::MirroredRepeat);
        inputs.push_back({disparity, 1});
    }

    OwnedTexture logLuminance =
        runPass({"bilateral log luminance", program, width, height, PassFormat::Rgba16F}, inputs,
                [&](QOpenGLShaderProgram &shader) {
                    setBilateralUniforms(shader, settings, width, height, useDisparity, true);
                });
    logLuminance->setWrapMode(QOpenGLTexture::MirroredRepeat);
    inputs.push_back({logLuminance.get(), 2});
    OwnedTexture mapped =
        runPass({"bilateral tone mapping", program, width, height, PassFormat::Rgba8}, inputs,
                [&](QOpenGLShaderProgram &shader) {
                    setBilateralUniforms(shader, settings, width, height, useDisparity, false);
                });

    if (disparity) {
        // Back to what the plane gave it: the camera relies on transparent black outside.
        disparity->setWrapMode(QOpenGLTexture::ClampToBorder);
        disparity->setBorderColor(0.0f, 0.0f, 0.0f, 0.0f);
    }
    return mapped;
}
