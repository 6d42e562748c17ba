#include "lightfield/LightfieldCamera.h"
#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/PlaneBuilder.h"
#include "viewer/gpu/GpuPass.h"
#include "viewer/gpu/ShaderLibrary.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>

// The camera: where it is, how drags move it, which views it picks, how the window is cropped
// from the views, how parameters blend, and the warp's maths on views whose exact in-between
// views are known.
class SimpleCameraGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;

    // Each view a flat colour that names it: (column / 8, row / 8, 0.5, 1).
    static PlaneDescription namedViews(int columns, int rows, int viewSpacing, bool disparity)
    {
        PlaneDescription description;
        description.columns = columns;
        description.rows = rows;
        description.viewSpacing = viewSpacing;
        description.colour = [](int column, int row, int, int, float rgba[4]) {
            rgba[0] = column / 8.0f;
            rgba[1] = row / 8.0f;
            rgba[2] = 0.5f;
            rgba[3] = 1.0f;
        };
        if (disparity) {
            description.maxDisparity = 4;
            description.disparity = [](int, int, int, int) {
                return 0.0f;
            };
        }
        return description;
    }

    // 2 x 2 views of 16 x 16 without disparity, texel (x, y) holding (x / 255, y / 255, 1, 1).
    static PlaneDescription texelCoordinateViews()
    {
        PlaneDescription description = namedViews(2, 2, 20, false);
        description.colour = [](int, int, int x, int y, float rgba[4]) {
            rgba[0] = x / 255.0f;
            rgba[1] = y / 255.0f;
            rgba[2] = 1.0f;
            rgba[3] = 1.0f;
        };
        return description;
    }

    RgbaImage output(const CameraView &view)
    {
        QOpenGLTexture *texture = view.getLayer(view.hasLayer(LdrRgb) ? LdrRgb : TonemappedRgb);
        return {view.width(), view.height(),
                readTextureFloats(*texture, view.width(), view.height())};
    }

    static QVector<float> texel(const RgbaImage &image, int x, int y)
    {
        return {image.at(x, y, 0), image.at(x, y, 1), image.at(x, y, 2), image.at(x, y, 3)};
    }

    static QVector<float> namedColour(int column, int row)
    {
        auto byte = [](float value) {
            return std::round(value * 255.0f) / 255.0f;
        };
        return {byte(column / 8.0f), byte(row / 8.0f), byte(0.5f), 1.0f};
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        loadShaderPrograms();
        QVERIFY(isShaderProgramLinked(ShaderProgram::SimpleWarp));
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void freshCameraWithDisparity()
    {
        auto plane = makePlane(namedViews(3, 3, 20, true));
        SimpleCamera camera(PipelineOptions(), plane.get());
        QCOMPARE(camera.positionX(), 1);
        QCOMPARE(camera.positionY(), 1);
        std::unique_ptr<CameraView> view = camera.render(0, 0, 16, 16);
        // Position (0.05, 0.05): the cell of views (0, 0) to (1, 1).
        QCOMPARE(view->getParameter(ViewOffsetX), 0.05f);
        QCOMPARE(view->getParameter(ViewOffsetY), -0.05f);
        QCOMPARE(&view->slot(CameraView::Base), &plane->featureLayersAt(0, 0));
        QCOMPARE(&view->slot(CameraView::Right), &plane->featureLayersAt(1, 0));
        QCOMPARE(&view->slot(CameraView::Diagonal), &plane->featureLayersAt(1, 1));
        QCOMPARE(&view->slot(CameraView::Below), &plane->featureLayersAt(0, 1));
        QVERIFY(view->hasLayer(LdrRgb));
        QCOMPARE(view->getLayer(LdrRgb)->format(), QOpenGLTexture::RGBA8_UNorm);
    }

    void freshCameraWithoutDisparityShowsTheFirstView()
    {
        auto plane = makePlane(namedViews(3, 3, 20, false));
        SimpleCamera camera(PipelineOptions(), plane.get());
        const RgbaImage image = output(*camera.render(0, 0, 16, 16));
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x)
                QCOMPARE(texel(image, x, y), namedColour(0, 0));
        }
    }

    void dragging()
    {
        auto plane = makePlane(namedViews(3, 4, 20, true));
        SimpleCamera camera(PipelineOptions(), plane.get());
        // Only the left button moves the camera, and the camera says whether it moved: the
        // window draws its picture again only then.
        for (int button : {0, 2, 4, 3, 8}) {
            QVERIFY(!camera.mouseMoved(15, 25, button));
            QCOMPARE(camera.positionX(), 1);
            QCOMPARE(camera.positionY(), 1);
        }
        QVERIFY(camera.mouseMoved(15, 25, 1));
        QCOMPARE(camera.positionX(), 16);
        QCOMPARE(camera.positionY(), 26);
        QVERIFY(camera.mouseMoved(-5, 0, 1));
        QCOMPARE(camera.positionX(), 11);
        QVERIFY(!camera.mouseMoved(0, 0, 1));

        // Long drags stop just short of the last column and row, and at 1 on the other side;
        // a drag further out moves nothing, one along the edge still moves the camera.
        QVERIFY(camera.mouseMoved(1000, 1000, 1));
        QCOMPARE(camera.positionX(), 2 * 20 - 1);
        QCOMPARE(camera.positionY(), 3 * 20 - 1);
        QVERIFY(!camera.mouseMoved(30, 7, 1));
        QVERIFY(camera.mouseMoved(30, -7, 1));
        QCOMPARE(camera.positionX(), 2 * 20 - 1);
        QCOMPARE(camera.positionY(), 3 * 20 - 8);
        QVERIFY(camera.mouseMoved(0, 7, 1));
        std::unique_ptr<CameraView> view = camera.render(0, 0, 16, 16);
        QCOMPARE(&view->slot(CameraView::Right), &plane->featureLayersAt(2, 2));
        QCOMPARE(&view->slot(CameraView::Base), &plane->featureLayersAt(1, 2));
        QCOMPARE(&view->slot(CameraView::Below), &plane->featureLayersAt(1, 3));
        camera.mouseMoved(-1000, -1000, 1);
        QCOMPARE(camera.positionX(), 1);
        QCOMPARE(camera.positionY(), 1);
    }

    void singleColumnOrRow()
    {
        for (int spacing : {1, 2, 20}) {
            auto plane = makePlane(namedViews(1, 3, spacing, false));
            SimpleCamera camera(PipelineOptions(), plane.get());
            camera.mouseMoved(500, 2 * spacing, 1);
            QCOMPARE(camera.positionX(), 1);
            // A spacing of 1 puts the position at column 1, outside the grid: it shows column 0.
            const RgbaImage image = output(*camera.render(0, 0, 16, 16));
            const int row = int(std::lround(float(camera.positionY()) / float(spacing)));
            QCOMPARE(texel(image, 8, 8), namedColour(0, std::min(row, 2)));
        }
        auto plane = makePlane(namedViews(4, 1, 2, false));
        SimpleCamera camera(PipelineOptions(), plane.get());
        camera.mouseMoved(3, 50, 1);
        QCOMPARE(camera.positionY(), 1);
        QCOMPARE(texel(output(*camera.render(0, 0, 16, 16)), 3, 3), namedColour(2, 0));
    }

    void singleColumnWithDisparityShowsItsOwnViews()
    {
        // With one column there is no view to the right: the view's own content is not pushed
        // sideways by the position's fraction.
        PlaneDescription description = namedViews(1, 2, 4, true);
        description.colour = [](int, int row, int x, int, float rgba[4]) {
            rgba[0] = x / 16.0f;
            rgba[1] = row / 2.0f;
            rgba[2] = 0.25f;
            rgba[3] = 1.0f;
        };
        description.disparity = [](int, int, int, int) {
            return 3.0f;
        };
        auto plane = makePlane(description);
        SimpleCamera camera(PipelineOptions(), plane.get());
        const RgbaImage image = output(*camera.render(0, 0, 16, 16));
        for (int x = 0; x < 16; ++x)
            QCOMPARE(image.at(x, 8, 0), std::round(x / 16.0f * 255.0f) / 255.0f);
    }

    void windowCrop_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("window of the view's size") << 16 << 16;
        QTest::newRow("twice the view's width") << 32 << 16;
        QTest::newRow("smaller than the view") << 6 << 10;
        QTest::newRow("larger in both directions") << 20 << 24;
        // Odd differences: the crop keeps window pixels on view texels rather than between them.
        QTest::newRow("one pixel wider, one pixel lower") << 17 << 15;
        QTest::newRow("five pixels narrower, five pixels higher") << 11 << 21;
    }

    void windowCrop()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        auto plane = makePlane(texelCoordinateViews());
        SimpleCamera camera(PipelineOptions(), plane.get());
        const std::unique_ptr<CameraView> view = camera.render(0, 0, width, height);
        const RgbaImage image = output(*view);
        // One window pixel per view pixel, the view centred (an odd extra pixel on the right and
        // at the top); outside it, transparent black, and outside what the camera says it drew.
        const int left = int(std::floor((width - 16) / 2.0));
        const int bottom = int(std::floor((height - 16) / 2.0));
        QCOMPARE(view->drawn(),
                 QRect(left, bottom, 16, 16).intersected(QRect(0, 0, width, height)));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const int viewX = x - left;
                const int viewY = y - bottom;
                const bool inside = viewX >= 0 && viewX < 16 && viewY >= 0 && viewY < 16;
                const QVector<float> expected = inside
                    ? QVector<float>({viewX / 255.0f, viewY / 255.0f, 1.0f, 1.0f})
                    : QVector<float>({0, 0, 0, 0});
                const QVector<float> actual = texel(image, x, y);
                for (int channel = 0; channel < 4; ++channel) {
                    QVERIFY2(std::abs(actual[channel] - expected[channel]) < 1e-6f,
                             qPrintable(QStringLiteral("window pixel (%1, %2)").arg(x).arg(y)));
                }
            }
        }
        // The window's place on the screen plays no part.
        const RgbaImage moved = output(*camera.render(700, 300, width, height));
        QCOMPARE(moved.texels, image.texels);
    }

    void wholeViewFraming_data()
    {
        QTest::addColumn<bool>("disparity");
        QTest::addColumn<QSize>("window");
        for (bool disparity : {false, true}) {
            const char *kind = disparity ? "warp" : "nearest view";
            QTest::addRow("%s, shrunk unevenly", kind) << disparity << QSize(40, 18);
            QTest::addRow("%s, shrunk across only", kind) << disparity << QSize(25, 48);
        }
    }

    // The whole view over the whole window: a window pixel shows the view where its centre falls,
    // the texel there without disparity, the warp's filtered read of the texels around it with.
    // In a window of the view's size that is the crop, to the byte.
    void wholeViewFraming()
    {
        QFETCH(bool, disparity);
        QFETCH(QSize, window);
        // Views of 64 × 48, texel (x, y) holding (x / 255, y / 255, 1, 1).
        PlaneDescription description = texelCoordinateViews();
        description.width = 64;
        description.height = 48;
        if (disparity) {
            description.maxDisparity = 4;
            description.disparity = [](int, int, int, int) {
                return 0.0f;
            };
        }
        auto plane = makePlane(description);
        SimpleCamera camera(PipelineOptions(), plane.get());
        QCOMPARE(camera.framing(), ViewFraming::TexelPerPixel);
        const RgbaImage crop = output(*camera.render(0, 0, 64, 48));
        camera.setFraming(ViewFraming::WholeView);
        QCOMPARE(output(*camera.render(0, 0, 64, 48)).texels, crop.texels);

        const RgbaImage image = output(*camera.render(0, 0, window.width(), window.height()));
        for (int y = 0; y < window.height(); ++y) {
            for (int x = 0; x < window.width(); ++x) {
                const double centre[2] = {(x + 0.5) * 64.0 / window.width(),
                                          (y + 0.5) * 48.0 / window.height()};
                for (int axis = 0; axis < 2; ++axis) {
                    const double shown = image.at(x, y, axis) * 255.0;
                    // A filtered read of the ramp is its value at the centre, within the 8-bit
                    // output's rounding; a nearest one the texel the centre lies in, or at a
                    // texel's edge either of the two.
                    const bool right = disparity ? std::abs(shown - (centre[axis] - 0.5)) <= 0.51
                                                 : std::abs(shown + 0.5 - centre[axis]) <= 0.501;
                    QVERIFY2(right,
                             qPrintable(QStringLiteral("window pixel (%1, %2) shows %3")
                                            .arg(x)
                                            .arg(y)
                                            .arg(shown)));
                }
            }
        }
    }

    void aWindowOfTheViewsSizeShowsTheStoredViewItself()
    {
        // Without disparity, one texel per pixel over the whole view: the frame is the nearest
        // stored view as it is, with no pass run, and the view outlives every frame shown of it.
        auto plane = makePlane(texelCoordinateViews());
        SimpleCamera camera(PipelineOptions(), plane.get());
        QOpenGLTexture &stored = *plane->layerAt(0, 0, LdrRgb);
        const std::vector<std::uint8_t> before = readTextureBytes(stored, 16, 16);
        QStringList passes;
        setPassObserver([&](const char *name) { passes << QString::fromUtf8(name); });
        const auto noObserver = qScopeGuard([] { setPassObserver(nullptr); });
        for (int frame = 0; frame < 2; ++frame) {
            std::unique_ptr<CameraView> view = camera.render(0, 0, 16, 16);
            QCOMPARE(view->drawn(), QRect(0, 0, 16, 16));
            OwnedTexture shown = view->takeLayer(LdrRgb);
            QCOMPARE(readTextureBytes(*shown, 16, 16), before);
            shown.reset();
            view.reset();
            QVERIFY(stored.isCreated());
            QCOMPARE(readTextureBytes(stored, 16, 16), before);
        }
        QCOMPARE(passes, QStringList());
        // One pixel more across, and the frame is a view of its own again.
        camera.render(0, 0, 17, 16);
        QCOMPARE(passes, QStringList({QStringLiteral("nearest view")}));
    }

    void cropsBetweenTexelsShowTheNearestTexel()
    {
        // Only a crop of whole texels at one texel per pixel is a copy of the view.
        const auto crop = [](float left, float bottom, float across, float up) {
            return std::array<std::array<float, 2>, 4> {{{left, bottom},
                                                         {left, bottom + up},
                                                         {left + across, bottom + up},
                                                         {left + across, bottom}}};
        };
        QPoint offset;
        const auto isCrop = [&](const std::array<std::array<float, 2>, 4> &corners, int width,
                                int height) {
            const float quad[4][2] = {{corners[0][0], corners[0][1]},
                                      {corners[1][0], corners[1][1]},
                                      {corners[2][0], corners[2][1]},
                                      {corners[3][0], corners[3][1]}};
            return wholeTexelCrop(quad, width, height, 16, 16, &offset);
        };
        QVERIFY(isCrop(crop(-0.25f, 0.125f, 1.5f, 0.5f), 24, 8));
        QCOMPARE(offset, QPoint(-4, 2));
        QVERIFY(!isCrop(crop(0.0f, 0.0f, 1.0f, 1.0f), 32, 16)); // two pixels a texel across
        QVERIFY(!isCrop(crop(0.5f / 16.0f, 0.0f, 1.0f, 1.0f), 16, 16)); // half a texel along
        QVERIFY(!isCrop(crop(1.0f, 0.0f, -1.0f, 1.0f), 16, 16)); // mirrored
        auto skewed = crop(0.0f, 0.0f, 1.0f, 1.0f);
        skewed[2][0] += 1.0f / 16.0f;
        QVERIFY(!isCrop(skewed, 16, 16));

        // The others go through the program: each pixel shows the texel its centre lies in.
        auto plane = makePlane(texelCoordinateViews());
        SimpleCamera camera(PipelineOptions(), plane.get());
        // Twice magnified, an eighth of a texel up and right of the view's corner.
        const float magnified[4][2] = {{0.125f / 16, 0.125f / 16},
                                       {0.125f / 16, 0.125f / 16 + 0.5f},
                                       {0.125f / 16 + 0.5f, 0.125f / 16 + 0.5f},
                                       {0.125f / 16 + 0.5f, 0.125f / 16}};
        const RgbaImage image = output(*camera.renderView(16, 16, magnified, 0.0f, 0.0f, true));
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const int viewX = int(std::floor(0.125 + (x + 0.5) / 2.0));
                const int viewY = int(std::floor(0.125 + (y + 0.5) / 2.0));
                const QVector<float> actual = texel(image, x, y);
                QVERIFY2(std::abs(actual[0] * 255.0f - viewX) < 1e-3f
                             && std::abs(actual[1] * 255.0f - viewY) < 1e-3f,
                         qPrintable(QStringLiteral("window pixel (%1, %2)").arg(x).arg(y)));
            }
        }
    }

    void halfFloatPlanesGiveHalfFloatViews()
    {
        PlaneDescription description = namedViews(2, 2, 20, false);
        description.halfFloat = true;
        description.colour = [](int column, int row, int, int, float rgba[4]) {
            rgba[0] = 2.5f + column;
            rgba[1] = 100.0f + row;
            rgba[2] = 0.125f;
            rgba[3] = 1.0f;
        };
        auto plane = makePlane(description);
        SimpleCamera camera(PipelineOptions(), plane.get());
        std::unique_ptr<CameraView> view = camera.render(0, 0, 16, 16);
        QVERIFY(!view->hasLayer(LdrRgb));
        QVERIFY(view->hasLayer(TonemappedRgb));
        QCOMPARE(view->getLayer(TonemappedRgb)->format(), QOpenGLTexture::RGBA16F);
        QCOMPARE(texel(output(*view), 5, 5), QVector<float>({2.5f, 100.0f, 0.125f, 1.0f}));
    }

    void renderingLeavesTheDefaultState_data()
    {
        QTest::addColumn<bool>("disparity");
        QTest::newRow("warp") << true;
        // The nearest view is copied, into a window larger than the view.
        QTest::newRow("nearest view") << false;
    }

    void renderingLeavesTheDefaultState()
    {
        QFETCH(bool, disparity);
        auto plane = makePlane(namedViews(2, 2, 20, disparity));
        SimpleCamera camera(PipelineOptions(), plane.get());
        m_gl.gl()->glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        camera.render(0, 0, 24, 20);
        GLfloat clearColour[4] = {};
        m_gl.gl()->glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
        QCOMPARE(QVector<float>(clearColour, clearColour + 4), QVector<float>({1, 1, 1, 1}));
        GLint value = -1;
        m_gl.gl()->glGetIntegerv(GL_FRAMEBUFFER_BINDING, &value);
        QCOMPARE(value, 0);
        m_gl.gl()->glGetIntegerv(GL_CURRENT_PROGRAM, &value);
        QCOMPARE(value, 0);
        for (int unit = 7; unit >= 0; --unit) {
            m_gl.gl()->glActiveTexture(GL_TEXTURE0 + unit);
            m_gl.gl()->glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
            QCOMPARE(value, 0);
        }
        m_gl.gl()->glGetIntegerv(GL_ACTIVE_TEXTURE, &value);
        QCOMPARE(value, GL_TEXTURE0);
    }

    void parameterBlending_data()
    {
        QTest::addColumn<float>("dx");
        QTest::addColumn<float>("dy");
        QTest::newRow("on the base view") << 0.0f << 0.0f;
        QTest::newRow("a quarter right, half down") << 0.25f << -0.5f;
        QTest::newRow("cell centre") << 0.5f << -0.5f;
        QTest::newRow("nearly the diagonal view") << 0.99f << -0.99f;
        // Without disparity the position is rounded to nearest, so offsets may point away from
        // the cell: only the views on the camera's side count, here the base view alone.
        QTest::newRow("rounded up, left of and above the base view") << -0.3f << 0.2f;
        QTest::newRow("rounded up, left of the base view, half down") << -0.4f << -0.5f;
    }

    void parameterBlending()
    {
        QFETCH(float, dx);
        QFETCH(float, dy);
        PlaneDescription description = namedViews(2, 2, 20, true);
        description.parameters = {AverageRed, Contrast};
        auto plane = makePlane(description);
        // base, right, diagonal, below
        const float red[4] = {1.0f, 2.0f, 4.0f, 8.0f};
        const float contrast[4] = {0.3f, 0.5f, 0.7f, 0.9f};
        const int at[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        for (int i = 0; i < 4; ++i) {
            plane->setParameter(at[i][0], at[i][1], AverageRed, red[i]);
            plane->setParameter(at[i][0], at[i][1], Contrast, contrast[i]);
        }
        CameraView view(4, 4, plane->featureLayersAt(1, 0), plane->featureLayersAt(0, 0),
                        plane->featureLayersAt(1, 1), plane->featureLayersAt(0, 1));
        interpolateParameters(view, *plane, dx, dy);

        // The bilinear weights of the offset right (dx) and down (-dy), within the cell.
        const double u = std::clamp(double(dx), 0.0, 1.0), v = std::clamp(-double(dy), 0.0, 1.0);
        const double weight[4] = {(1 - std::abs(v)) * (1 - std::abs(u)),
                                  (1 - std::abs(v)) * (1 - std::abs(u - 1)),
                                  (1 - std::abs(v - 1)) * (1 - std::abs(u - 1)),
                                  (1 - std::abs(v - 1)) * (1 - std::abs(u))};
        double linear = 0.0, logarithmic = 0.0;
        for (int i = 0; i < 4; ++i) {
            linear += weight[i] * red[i];
            logarithmic += weight[i] * std::log(double(contrast[i]));
        }
        QVERIFY(view.getParameter(AverageRed) >= red[0] && view.getParameter(AverageRed) <= red[3]);
        QVERIFY(std::abs(view.getParameter(AverageRed) - linear) < 1e-5);
        QVERIFY(std::abs(view.getParameter(Contrast) - std::exp(logarithmic)) < 1e-5);
        // Only the plane's parameters are blended.
        QVERIFY(!view.hasParameter(AverageGreen));
    }

    void viewsWithoutWeightDoNotSpoilTheContrast()
    {
        // A view lacking Contrast reads 0, whose logarithm is -inf; with weight 0 it must not
        // turn the blend into NaN.
        PlaneDescription description = namedViews(2, 2, 20, true);
        description.parameters = {Contrast};
        auto plane = makePlane(description);
        plane->setParameter(0, 0, Contrast, 0.4f);
        CameraView view(4, 4, plane->featureLayersAt(1, 0), plane->featureLayersAt(0, 0),
                        plane->featureLayersAt(1, 1), plane->featureLayersAt(0, 1));
        interpolateParameters(view, *plane, 0.0f, 0.0f);
        QCOMPARE(view.getParameter(Contrast), 0.4f);
    }

    void warpOfUniformDisparity_data()
    {
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::newRow("grid position") << 2.0f << 1.0f;
        QTest::newRow("cell centre") << 1.5f << 2.5f;
        QTest::newRow("near the base view") << 0.1f << 0.05f;
        QTest::newRow("near the diagonal view") << 2.9f << 1.8f;
        QTest::newRow("on a row between columns") << 3.3f << 3.0f;
    }

    void warpOfUniformDisparity()
    {
        // A linear ramp seen through a plane of disparity 7.25: view (c, r) shows at texel (s, t)
        // what the ramp holds at (s + 7.25 c, t - 7.25 r), so every in-between view is known.
        QFETCH(float, x);
        QFETCH(float, y);
        const float d = 7.25f;
        auto ramp = [](float s, float t, float rgba[4]) {
            rgba[0] = (10.0f + 1.5f * s) / 255.0f;
            rgba[1] = (120.0f + 2.0f * t) / 255.0f;
            rgba[2] = (40.0f + s + 0.5f * t) / 255.0f;
            rgba[3] = 1.0f;
        };
        PlaneDescription description;
        description.columns = 5;
        description.rows = 5;
        description.width = description.height = 64;
        description.maxDisparity = 12;
        description.colour = [&](int column, int row, int s, int t, float rgba[4]) {
            ramp(s + d * column, t - d * row, rgba);
        };
        description.disparity = [&](int, int, int, int) {
            return d;
        };
        auto plane = makePlane(description);
        SimpleCamera camera(PipelineOptions(), plane.get());
        const float corners[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
        const RgbaImage image = output(*camera.renderView(64, 64, corners, x, y, true));

        // Away from the borders, where some views have not seen the content.
        double worst = 0.0;
        for (int t = 26; t < 38; ++t) {
            for (int s = 26; s < 38; ++s) {
                float expected[4];
                ramp(s + d * x, t - d * y, expected);
                for (int channel = 0; channel < 3; ++channel)
                    worst = std::max(worst,
                                     double(std::abs(image.at(s, t, channel) - expected[channel])));
            }
        }
        QVERIFY2(worst <= 1.5 / 255.0,
                 qPrintable(QStringLiteral("off by %1/255").arg(worst * 255)));
    }

    void searchStaysWithinTheViewWhateverTheBound()
    {
        // A disparity bound far beyond any view (a hostile file, or a plane built without the
        // header's check) searches as far as the view's larger side and no farther: the same
        // picture, in the same bounded time.
        auto render = [this](int maxDisparity) {
            // A ramp seen through a plane of disparity 3, as in warpOfUniformDisparity.
            PlaneDescription description = namedViews(2, 2, 20, true);
            description.width = description.height = 16;
            description.maxDisparity = maxDisparity;
            description.colour = [](int column, int row, int s, int t, float rgba[4]) {
                rgba[0] = (10.0f + 8.0f * (s + 3.0f * column)) / 255.0f;
                rgba[1] = (60.0f + 6.0f * (t - 3.0f * row)) / 255.0f;
                rgba[2] = 0.5f;
                rgba[3] = 1.0f;
            };
            description.disparity = [](int, int, int, int) {
                return 3.0f;
            };
            auto plane = makePlane(description);
            SimpleCamera camera(PipelineOptions(), plane.get());
            const float corners[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
            return output(*camera.renderView(16, 16, corners, 0.5f, 0.5f, true)).texels;
        };
        QCOMPARE(render(std::numeric_limits<int>::max()), render(16));
    }

    void dragBoundsDoNotOverflow()
    {
        // (columns - 1) × viewSpacing is beyond 32 bits here; the last position is still to the
        // right of the first.
        PlaneDescription description = namedViews(3, 3, 1 << 30, false);
        auto plane = makePlane(description);
        SimpleCamera camera(PipelineOptions(), plane.get());
        camera.mouseMoved(100, 40, 1);
        QCOMPARE(camera.positionX(), 101);
        QCOMPARE(camera.positionY(), 41);
        camera.mouseMoved(std::numeric_limits<int>::max(), 0, 1);
        QCOMPARE(camera.positionX(), std::numeric_limits<int>::max());
    }
};

QTEST_MAIN(SimpleCameraGLTest)
#include "SimpleCameraGLTest.moc"
