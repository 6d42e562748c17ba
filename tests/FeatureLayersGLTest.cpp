#include "lightfield/FeatureLayers.h"
#include "support/GLTestContext.h"

#include <QOpenGLTexture>
#include <QtTest>

// FeatureLayers and CameraView: the key rules, which slot reads what, and that textures are owned
// (destroyed exactly once, also after a pass destroyed their storage).
class FeatureLayersGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;

    static OwnedTexture makeTexture()
    {
        auto texture = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
        texture->setFormat(QOpenGLTexture::RGBA8_UNorm);
        texture->setSize(2, 2);
        texture->allocateStorage();
        return texture;
    }

    bool isTexture(GLuint name) { return m_gl.gl()->glIsTexture(name) == GL_TRUE; }

private slots:
    void initTestCase() { LF_CREATE_GL_CONTEXT(m_gl); }
    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void absentKeys()
    {
        FeatureLayers layers;
        QCOMPARE(layers.getLayer(TonemappedRgb), nullptr);
        QVERIFY(!layers.hasLayer(TonemappedRgb));
        QCOMPARE(layers.getParameter(Contrast), 0.0f);
        QVERIFY(!layers.hasParameter(Contrast));
        QVERIFY(layers.parameters().empty());
    }

    void setReplacesAndKeepsTheLastValue()
    {
        FeatureLayers layers;
        layers.setParameter(AverageRed, 1.5f);
        layers.setParameter(AverageRed, 2.5f);
        QCOMPARE(layers.getParameter(AverageRed), 2.5f);
        QCOMPARE(layers.parameters().size(), size_t(1));
        // A key no stage knows is still just a key.
        layers.setParameter(42, -1.0f);
        QCOMPARE(layers.getParameter(42), -1.0f);

        OwnedTexture first = makeTexture();
        OwnedTexture second = makeTexture();
        QOpenGLTexture *const firstTexture = first.get();
        QOpenGLTexture *const secondTexture = second.get();
        const GLuint firstName = first->textureId();
        QVERIFY(!layers.setLayer(LdrRgb, std::move(first)));
        OwnedTexture replaced = layers.setLayer(LdrRgb, std::move(second));
        QCOMPARE(layers.getLayer(LdrRgb), secondTexture);
        // The replaced texture goes back to whoever replaced it, alive.
        QCOMPARE(replaced.get(), firstTexture);
        QVERIFY(isTexture(firstName));
    }

    void destructionDestroysEveryTexture()
    {
        OwnedTexture kept = makeTexture();
        OwnedTexture consumed = makeTexture();
        const GLuint keptName = kept->textureId();
        {
            FeatureLayers layers;
            layers.setLayer(LdrRgb, std::move(kept));
            QOpenGLTexture *const consumedTexture = consumed.get();
            layers.setLayer(TonemappedRgb, std::move(consumed));
            // A texture whose storage is gone already is let go all the same.
            consumedTexture->destroy();
            QVERIFY(isTexture(keptName));
        }
        QVERIFY(!isTexture(keptName));
    }

    void takeLayerHandsOwnershipOver()
    {
        OwnedTexture texture = makeTexture();
        QOpenGLTexture *const stored = texture.get();
        const GLuint name = texture->textureId();
        OwnedTexture taken;
        {
            FeatureLayers layers;
            layers.setLayer(RgbeImage, std::move(texture));
            taken = layers.takeLayer(RgbeImage);
            QCOMPARE(taken.get(), stored);
            QVERIFY(!layers.hasLayer(RgbeImage));
            QVERIFY(!layers.takeLayer(RgbeImage));
        }
        QVERIFY(isTexture(name));
    }

    void moveTransfersOwnership()
    {
        OwnedTexture texture = makeTexture();
        QOpenGLTexture *const stored = texture.get();
        const GLuint name = texture->textureId();
        FeatureLayers target;
        target.setLayer(Disparity, makeTexture());
        const GLuint replacedName = target.getLayer(Disparity)->textureId();
        {
            FeatureLayers source;
            source.setLayer(LdrRgb, std::move(texture));
            source.setParameter(MaxLuminance, 3.0f);
            target = std::move(source);
            QVERIFY(source.layers().empty());
        }
        QVERIFY(isTexture(name));
        QVERIFY(!isTexture(replacedName));
        QCOMPARE(target.getParameter(MaxLuminance), 3.0f);
        FeatureLayers moved(std::move(target));
        QCOMPARE(moved.getLayer(LdrRgb), stored);
    }

    void cameraViewSlots()
    {
        FeatureLayers right, base, diagonal, below;
        right.setParameter(AverageRed, 1.0f);
        base.setParameter(AverageRed, 2.0f);
        diagonal.setParameter(AverageRed, 3.0f);
        below.setParameter(AverageRed, 4.0f);
        OwnedTexture storedTexture = makeTexture();
        QOpenGLTexture *const stored = storedTexture.get();
        base.setLayer(TonemappedRgb, std::move(storedTexture));

        CameraView view(640, 480, right, base, diagonal, below);
        QCOMPARE(view.width(), 640);
        QCOMPARE(view.height(), 480);
        QCOMPARE(view.getParameter(AverageRed, CameraView::Right), 1.0f);
        QCOMPARE(view.getParameter(AverageRed, CameraView::Base), 2.0f);
        QCOMPARE(view.getParameter(AverageRed, CameraView::Diagonal), 3.0f);
        QCOMPARE(view.getParameter(AverageRed, CameraView::Below), 4.0f);
        QCOMPARE(view.getParameter(AverageRed, CameraView::Own), 0.0f);

        // has* look at the own layers only: a layer of a stored view does not count.
        QVERIFY(!view.hasLayer(TonemappedRgb));
        QCOMPARE(view.getLayer(TonemappedRgb, CameraView::Base), stored);

        OwnedTexture ownTexture = makeTexture();
        QOpenGLTexture *const own = ownTexture.get();
        view.setLayer(TonemappedRgb, std::move(ownTexture));
        view.setParameter(ViewOffsetX, 0.25f);
        QVERIFY(view.hasLayer(TonemappedRgb));
        QVERIFY(view.hasParameter(ViewOffsetX));
        // Slot values other than 1 to 4 read the own layers, as slot 0 does.
        QCOMPARE(view.getLayer(TonemappedRgb, 7), own);
        QCOMPARE(view.getLayer(TonemappedRgb, -1), own);
        QCOMPARE(view.getParameter(ViewOffsetX, 5), 0.25f);
        QCOMPARE(base.getLayer(TonemappedRgb), stored);
    }

    void cameraViewOwnsOnlyItsOwnLayers()
    {
        FeatureLayers stored;
        OwnedTexture texture = makeTexture();
        QOpenGLTexture *const storedTexture = texture.get();
        const GLuint storedName = texture->textureId();
        stored.setLayer(LdrRgb, std::move(texture));
        OwnedTexture own = makeTexture();
        const GLuint ownName = own->textureId();
        {
            CameraView view(2, 2, stored, stored, stored, stored);
            view.setLayer(LdrRgb, std::move(own));
        }
        QVERIFY(!isTexture(ownName));
        QVERIFY(isTexture(storedName));
        QCOMPARE(stored.getLayer(LdrRgb), storedTexture);
    }
};

QTEST_MAIN(FeatureLayersGLTest)
#include "FeatureLayersGLTest.moc"
