#include "BilateralPlaneStage.h"

#include "lightfield/LightfieldReader.h"
#include "viewer/gpu/GpuPass.h"

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
                                                    m_settings));
    }

private:
    bool m_useDisparity;
    BilateralSettings m_settings;
};

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
                              const BilateralSettings &settings)
{
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
