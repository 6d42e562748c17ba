#include "LinearPlaneStage.h"

#include "LuminanceStatistics.h"
#include "lightfield/LightfieldReader.h"
#include "viewer/gpu/GpuPass.h"

#include <cmath>

namespace {

class LinearStage : public PlaneStage
{
public:
    LinearStage()
        : PlaneStage(TonemappedRgb, viewStatisticsParameters)
    { }

    void storeView(ViewToStore &view) override
    {
        const int width = view.plane.width();
        const int height = view.plane.height();
        const LuminanceStatistics statistics =
            luminanceStatisticsOf(view.colourBytes.data(), std::int64_t(width) * height);
        for (int parameter : viewStatisticsParameters)
            view.plane.setParameter(view.column, view.row, parameter,
                                    float(statistics.values[size_t(parameter)]));
        view.plane.setFeatureLayer(view.column, view.row, TonemappedRgb,
                                   linearTonemap(view.read.takeLayer(RgbeImage), width, height,
                                                 linearStageWhitePoint, linearStageGamma));
    }
};

} // namespace

std::unique_ptr<PlaneStage> makeLinearStage()
{
    return std::make_unique<LinearStage>();
}

std::unique_ptr<LightfieldPlane> buildHdrPlane(LightfieldReader *reader,
                                               const PlaneProgressReport &progress)
{
    return buildPlane(*reader, *makeLinearStage(), progress);
}

OwnedTexture linearTonemap(OwnedTexture rgbe, int width, int height, float whitePoint, float gamma)
{
    GLfloat mantissaPower[256];
    for (int mantissa = 0; mantissa < 256; ++mantissa)
        mantissaPower[mantissa] = float(std::pow(double(mantissa), 1.0 / double(gamma)));
    rgbe->setWrapMode(QOpenGLTexture::MirroredRepeat);
    return runPass({"linear tone curve", shaderProgram(ShaderProgram::LinearTonemapping), width,
                    height, PassFormat::Rgba16F},
                   {{rgbe.get(), 0}}, [&](QOpenGLShaderProgram &program) {
                       program.setUniformValue("textureImage", 0);
                       program.setUniformValue("whitePoint", whitePoint);
                       program.setUniformValue("gamma", gamma);
                       program.setUniformValueArray("mantissaPower[0]", mantissaPower, 256, 1);
                   });
}
