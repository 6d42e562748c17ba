#include "deliverables/BuildConfiguration.h"
#include "postprocessing/PostProcessor.h"
#include "postprocessing/Reinhard05PostProcessors.h"
#include "support/GLTestContext.h"
#include "support/LightfieldFiles.h"

#include <QOpenGLTexture>
#include <QtTest>

// The requirement check, the pass-through post-processor, and which post-processor each build
// makes for each kind of file.
class PostProcessorGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;
    FeatureLayers m_stored;

    // Requires what the tone-mapping post-processors require.
    class Demanding : public PostProcessor
    {
    public:
        Demanding()
        {
            m_requiredLayers = {TonemappedRgb};
            m_requiredParameters = {AverageRed,       AverageGreen,        AverageBlue,
                                    AverageLuminance, AverageLogLuminance, MinLuminance,
                                    MaxLuminance};
        }
        OwnedTexture process(CameraView &) override { return nullptr; }
    };

    std::unique_ptr<CameraView> emptyView()
    {
        return std::make_unique<CameraView>(4, 4, m_stored, m_stored, m_stored, m_stored);
    }

    static OwnedTexture texture()
    {
        return std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    }

private slots:
    void initTestCase() { LF_CREATE_GL_CONTEXT(m_gl); }
    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void passThroughPrefersTheEightBitLayer()
    {
        LDRRGBPostProcessor postProcessor;
        QVERIFY(postProcessor.requiredLayers().empty());
        QVERIFY(postProcessor.requiredParameters().empty());

        // The texture shown is handed over, out of the view: whoever draws it owns it.
        auto both = emptyView();
        OwnedTexture ldr = texture();
        QOpenGLTexture *const ldrTexture = ldr.get();
        both->setLayer(TonemappedRgb, texture());
        both->setLayer(LdrRgb, std::move(ldr));
        QCOMPARE(postProcessor.process(*both).get(), ldrTexture);
        QVERIFY(!both->hasLayer(LdrRgb));
        QVERIFY(both->hasLayer(TonemappedRgb));

        auto halfFloat = emptyView();
        OwnedTexture tonemapped = texture();
        QOpenGLTexture *const tonemappedTexture = tonemapped.get();
        halfFloat->setLayer(TonemappedRgb, std::move(tonemapped));
        QCOMPARE(postProcessor.process(*halfFloat).get(), tonemappedTexture);

        // A stored view's layer is not the camera's output.
        m_stored.setLayer(LdrRgb, texture());
        auto neither = emptyView();
        QVERIFY(postProcessor.meetsRequirements(*neither));
        QCOMPARE(configurationErrorOf([&] { postProcessor.process(*neither); }),
                 QString::fromLatin1(postProcessorRequirementsMessage));
        m_stored.takeLayer(LdrRgb);
    }

    void requirementsLookAtTheOwnLayersOnly()
    {
        Demanding postProcessor;
        auto view = emptyView();
        QVERIFY(!postProcessor.meetsRequirements(*view));

        view->setLayer(TonemappedRgb, texture());
        for (int parameter = AverageRed; parameter <= MinLuminance; ++parameter)
            view->setParameter(parameter, 1.0f);
        // MaxLuminance is missing from slot 0 even though a stored view has it.
        m_stored.setParameter(MaxLuminance, 5.0f);
        QVERIFY(!postProcessor.meetsRequirements(*view));
        view->setParameter(MaxLuminance, 5.0f);
        QVERIFY(postProcessor.meetsRequirements(*view));

        auto withoutLayer = emptyView();
        for (int parameter = AverageRed; parameter <= MaxLuminance; ++parameter)
            withoutLayer->setParameter(parameter, 1.0f);
        m_stored.setLayer(TonemappedRgb, texture());
        QVERIFY(!postProcessor.meetsRequirements(*withoutLayer));
        m_stored.takeLayer(TonemappedRgb);
    }

    void factoryPerBuild()
    {
        QCOMPARE(int(buildConfigurations().size()), 11);
        for (const BuildConfiguration &configuration : buildConfigurations()) {
            // 8-bit files take the same road in every build.
            auto forEightBit = createPostProcessor(PipelineOptions(), false, configuration);
            QVERIFY(dynamic_cast<LDRRGBPostProcessor *>(forEightBit.get()));

            auto forRgbe = createPostProcessor(PipelineOptions(), true, configuration);
            switch (configuration.postProcessor) {
            case HdrPostProcessor::LdrRgb:
                QVERIFY(dynamic_cast<LDRRGBPostProcessor *>(forRgbe.get()));
                break;
            case HdrPostProcessor::InterpolatingReinhard05: {
                auto *made =
                    dynamic_cast<TonemappingInterpolatingReinhard05PostProcessor *>(forRgbe.get());
                QVERIFY(made);
                QCOMPARE(made->settings().brightness, configuration.postProcessorBrightness);
                break;
            }
            case HdrPostProcessor::Reinhard05:
                QVERIFY(dynamic_cast<Reinhard05PostProcessor *>(forRgbe.get()));
                break;
            }
            // The tone-mapping post-processors need the linear stage's layer and statistics.
            if (configuration.postProcessor != HdrPostProcessor::LdrRgb) {
                QCOMPARE(forRgbe->requiredLayers(), KeyList({TonemappedRgb}));
                QCOMPARE(forRgbe->requiredParameters(),
                         KeyList({AverageRed, AverageGreen, AverageBlue, AverageLuminance,
                                  AverageLogLuminance, MinLuminance, MaxLuminance}));
                QCOMPARE(configuration.planeStage, HdrPlaneStage::Linear);
            }
        }
    }
};

QTEST_MAIN(PostProcessorGLTest)
#include "PostProcessorGLTest.moc"
