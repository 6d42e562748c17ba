#include "lightfield/FeatureLayers.h"
#include "support/GLTestContext.h"

#include <QOpenGLTexture>
#include <QtTest>

// FeatureLayers and CameraView: the key rules, which slot reads what, and that textures are owned
// (deleted exactly once, also after a pass destroyed their storage).
class FeatureLayersGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;

    static QOpenGLTexture *makeTexture()
    {
        auto *texture = new QOpenGLTexture(QOpenGLTexture::Target2D);
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

        QOpenGLTexture *first = makeTexture();
        QOpenGLTexture *second = makeTexture();
        const GLuint firstName = first->textureId();
        layers.setLayer(LdrRgb, first);
        layers.setLayer(LdrRgb, second);
        QCOMPARE(layers.getLayer(LdrRgb), second);
        // The replaced texture stays with whoever replaced it.
        QVERIFY(isTexture(firstName));
        delete first;
    }

    void destructionDeletesEveryTexture()
    {
        QOpenGLTexture *kept = makeTexture();
        QOpenGLTexture *consumed = makeTexture();
        const GLuint keptName = kept->textureId();
        {
            FeatureLayers layers;
            layers.setLayer(LdrRgb, kept);
            layers.setLayer(TonemappedRgb, consumed);
            // A pass that consumed its input destroyed the storage already.
            consumed->destroy();
            QVERIFY(layers.holdsTexture(kept));
            QVERIFY(!layers.holdsTexture(nullptr));
        }
        QVERIFY(!isTexture(keptName));
    }

    void takeLayerHandsOwnershipOver()
    {
        QOpenGLTexture *texture = makeTexture();
        const GLuint name = texture->textureId();
        {
            FeatureLayers layers;
            layers.setLayer(RgbeImage, texture);
            QCOMPARE(layers.takeLayer(RgbeImage), texture);
            QVERIFY(!layers.hasLayer(RgbeImage));
            QCOMPARE(layers.takeLayer(RgbeImage), nullptr);
        }
        QVERIFY(isTexture(name));
        delete texture;
    }

    void moveTransfersOwnership()
    {
        QOpenGLTexture *texture = makeTexture();
        const GLuint name = texture->textureId();
        FeatureLayers target;
        target.setLayer(Disparity, makeTexture());
        const GLuint replacedName = target.getLayer(Disparity)->textureId();
        {
            FeatureLayers source;
            source.setLayer(LdrRgb, texture);
            source.setParameter(MaxLuminance, 3.0f);
            target = std::move(source);
            QVERIFY(source.layers().empty());
        }
        QVERIFY(isTexture(name));
        QVERIFY(!isTexture(replacedName));
        QCOMPARE(target.getParameter(MaxLuminance), 3.0f);
        FeatureLayers moved(std::move(target));
        QCOMPARE(moved.getLayer(LdrRgb), texture);
    }

    void cameraViewSlots()
    {
        FeatureLayers right, base, diagonal, below;
        right.setParameter(AverageRed, 1.0f);
        base.setParameter(AverageRed, 2.0f);
        diagonal.setParameter(AverageRed, 3.0f);
        below.setParameter(AverageRed, 4.0f);
        QOpenGLTexture *stored = makeTexture();
        base.setLayer(TonemappedRgb, stored);

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

        QOpenGLTexture *own = makeTexture();
        view.setLayer(TonemappedRgb, own);
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
        QOpenGLTexture *storedTexture = makeTexture();
        stored.setLayer(LdrRgb, storedTexture);
        const GLuint storedName = storedTexture->textureId();
        QOpenGLTexture *own = makeTexture();
        const GLuint ownName = own->textureId();
        {
            CameraView view(2, 2, stored, stored, stored, stored);
            view.setLayer(LdrRgb, own);
        }
        QVERIFY(!isTexture(ownName));
        QVERIFY(isTexture(storedName));
        QCOMPARE(stored.getLayer(LdrRgb), storedTexture);
    }
};

QTEST_MAIN(FeatureLayersGLTest)
#include "FeatureLayersGLTest.moc"
