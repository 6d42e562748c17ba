#include "LinearPlaneStage.h"

#include "LuminanceStatistics.h"
#include "lightfield/LightfieldReader.h"
#include "viewer/gpu/GpuPass.h"

std::unique_ptr<LightfieldPlane> buildHdrPlane(PipelineOptions options, LightfieldReader *reader)
{
    (void)options;
    const KeyList parameters {AverageRed,          AverageGreen, AverageBlue,  AverageLuminance,
                              AverageLogLuminance, MinLuminance, MaxLuminance, Contrast};
    auto plane = makePlaneFor(*reader, TonemappedRgb, parameters);
    const int width = reader->width();
    const int height = reader->height();

    const Framebuffer framebuffer = Framebuffer::generate();
    FramebufferPasses passes(framebuffer);
    for (int row = 0; row < reader->rows(); ++row) {
        for (int column = 0; column < reader->columns(); ++column) {
            FeatureLayers view = reader->nextView();
            const LuminanceStatistics statistics =
                computeLuminanceStatistics(*view.getLayer(RgbeImage), width, height);
            for (int parameter = AverageRed; parameter <= Contrast; ++parameter)
                plane->setParameter(column, row, parameter,
                                    float(statistics.values[size_t(parameter)]));
            plane->setFeatureLayer(column, row, TonemappedRgb,
                                   linearTonemap(view.takeLayer(RgbeImage), width, height,
                                                 linearStageWhitePoint, linearStageGamma));
            storeDisparity(*plane, *reader, view, column, row);
        }
    }
    return plane;
}

OwnedTexture linearTonemap(OwnedTexture rgbe, int width, int height, float whitePoint, float gamma)
{
    rgbe->setWrapMode(QOpenGLTexture::MirroredRepeat);
    return runPass({"linear tone curve", shaderProgram(ShaderProgram::LinearTonemapping), width,
                    height, PassFormat::Rgba16F},
                   {{rgbe.get(), 0}}, [&](QOpenGLShaderProgram &program) {
                       program.setUniformValue("textureImage", 0);
                       program.setUniformValue("whitePoint", whitePoint);
                       program.setUniformValue("gamma", gamma);
                   });
}
