#include "CurvePlaneStage.h"

#include "LuminanceStatistics.h"
#include "lightfield/LightfieldReader.h"
#include "viewer/gpu/GpuPass.h"

#include <QOpenGLPixelTransferOptions>

#include <algorithm>
#include <vector>

namespace {

class CurveStage : public PlaneStage
{
public:
    explicit CurveStage(int trimPassLimit)
        : PlaneStage(LdrRgb)
        , m_trimPassLimit(trimPassLimit)
    { }

    void storeView(ViewToStore &view) override
    {
        const int width = view.plane.width();
        const int height = view.plane.height();
        const std::uint8_t *texels = view.colourBytes.data();
        const auto [minimum, maximum] = luminanceRangeOf(texels, std::int64_t(width) * height);
        // A black texel makes the minimum 0, whose logarithm would put the curve's axis at −∞;
        // the floor keeps it finite, and darker texels read the curve's first bin.
        const float minimumLuminance = float(std::max(minimum, double(luminanceFloor)));
        const float maximumLuminance = float(maximum);
        OwnedTexture curve =
            uploadToneCurve(computeTonemappingCurve(texels, width, height, minimumLuminance,
                                                    maximumLuminance, m_trimPassLimit)
                                .curve);
        view.plane.setFeatureLayer(view.column, view.row, LdrRgb,
                                   tonemapRgbeWithCurve(view.read.takeLayer(RgbeImage),
                                                        std::move(curve), width, height,
                                                        minimumLuminance, maximumLuminance));
    }

private:
    int m_trimPassLimit;
};

} // namespace

std::unique_ptr<PlaneStage> makeCurveStage(int trimPassLimit)
{
    return std::make_unique<CurveStage>(trimPassLimit);
}

std::unique_ptr<LightfieldPlane> buildCurvePlane(LightfieldReader *reader, int trimPassLimit,
                                                 const PlaneProgressReport &progress)
{
    return buildPlane(*reader, *makeCurveStage(trimPassLimit), progress);
}

OwnedTexture computeTonemappingCurve(QOpenGLTexture &rgbe, int width, int height,
                                     float minimumLuminance, float maximumLuminance,
                                     int trimPassLimit)
{
    const std::vector<std::uint8_t> texels = readTextureBytes(rgbe, width, height);
    const CurveResult result = computeTonemappingCurve(
        texels.data(), width, height, minimumLuminance, maximumLuminance, trimPassLimit);
    return uploadToneCurve(result.curve);
}

OwnedTexture uploadToneCurve(const ToneCurve &curve)
{
    auto texture = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    texture->setFormat(QOpenGLTexture::R8_UNorm);
    texture->setSize(curveBins, 1);
    texture->setMipLevels(1);
    texture->setMinMagFilters(QOpenGLTexture::Linear, QOpenGLTexture::Linear);
    texture->setWrapMode(QOpenGLTexture::MirroredRepeat);
    texture->allocateStorage(QOpenGLTexture::Red, QOpenGLTexture::UInt8);
    // Rows of one byte per texel are not 4-byte aligned.
    QOpenGLPixelTransferOptions transfer;
    transfer.setAlignment(1);
    texture->setData(QOpenGLTexture::Red, QOpenGLTexture::UInt8, curve.data(), &transfer);
    return texture;
}

namespace {

OwnedTexture curvePass(ShaderProgram shader, OwnedTexture input, OwnedTexture curve, int width,
                       int height, float minimumLuminance, float maximumLuminance)
{
    return runPass(
        {"histogram adjustment", shaderProgram(shader), width, height, PassFormat::Rgba8},
        {{input.get(), 0}, {curve.get(), 1}}, [&](QOpenGLShaderProgram &program) {
            program.setUniformValue("textureImage", 0);
            program.setUniformValue("tonemappingCurve", 1);
            program.setUniformValue("minimumLuminance", minimumLuminance);
            program.setUniformValue("maximumLuminance", maximumLuminance);
            program.setUniformValue("colourCorrection", curveColourCorrection);
        });
}

} // namespace

OwnedTexture tonemapWithCurve(OwnedTexture linear, OwnedTexture curve, int width, int height,
                              float minimumLuminance, float maximumLuminance)
{
    return curvePass(ShaderProgram::TonemappingCurve, std::move(linear), std::move(curve), width,
                     height, minimumLuminance, maximumLuminance);
}

OwnedTexture tonemapRgbeWithCurve(OwnedTexture rgbe, OwnedTexture curve, int width, int height,
                                  float minimumLuminance, float maximumLuminance)
{
    rgbe->setWrapMode(QOpenGLTexture::MirroredRepeat);
    return curvePass(ShaderProgram::TonemappingCurveOfRgbe, std::move(rgbe), std::move(curve),
                     width, height, minimumLuminance, maximumLuminance);
}
