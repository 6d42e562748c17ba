#include "Lf2dWriter.h"
#include "SyntheticScene.h"
#include "app/FileSelectorWindow.h"
#include "deliverables/BuildConfiguration.h"
#include "support/DialogAnswer.h"
#include "support/LightfieldFiles.h"
#include "viewer/FatalError.h"
#include "viewer/LightfieldRenderer.h"
#include "viewer/gpu/GpuPass.h"

#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include <functional>

// The viewer window for real: opened from the selector, placed and sized from the file, showing
// the stored views on the screen, following drags, and ending with a message on bad files.
class LightfieldRendererGLTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_directory;
    QStringList m_fatalErrors;

    // A 3 × 3 grid of 96 × 64 views without disparity; view (c, r) shows at picture pixel (x, y)
    // (y from the top) the colour of pictureColour.
    static QRgb pictureColour(int column, int row, int x, int y)
    {
        return qRgb(2 * x, 3 * y, 30 + 40 * column + 60 * row);
    }

    QString writeGrid()
    {
        QByteArray data;
        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 3; ++column) {
                // Stored bottom-up: the first stored row is the picture's bottom row.
                for (int y = 63; y >= 0; --y) {
                    for (int x = 0; x < 96; ++x) {
                        const QRgb colour = pictureColour(column, row, x, y);
                        data.append(char(qRed(colour))).append(char(qGreen(colour)));
                        data.append(char(qBlue(colour))).append(char(255));
                    }
                }
            }
        }
        return write(QStringLiteral("grid.lf2d"), "96 64 9 3 20 0 0 0 0\n" + data);
    }

    QString write(const QString &name, const QByteArray &content)
    {
        return writeTestFile(m_directory, name, content);
    }

    // A file whose header names views of width × height, its data zeros.
    QString sizedFile(int width, int height)
    {
        const QString path =
            write(QStringLiteral("sized-%1x%2.lf2d").arg(width).arg(height),
                  QStringLiteral("%1 %2 1 1 20 0 0 0 0\n").arg(width).arg(height).toLatin1());
        QFile::resize(path, QFileInfo(path).size() + qint64(width) * height * 4);
        return path;
    }

    static LightfieldRenderer *openRenderer()
    {
        for (QWindow *window : QGuiApplication::topLevelWindows()) {
            if (auto *renderer = qobject_cast<LightfieldRenderer *>(window))
                return renderer;
        }
        return nullptr;
    }

    // Waits until the window has drawn more than `frames` frames.
    static bool framesAfter(LightfieldRenderer *renderer, int frames)
    {
        return QTest::qWaitFor([&] { return renderer->framesShown() > frames; }, 10000);
    }

    // Lets the event loop run for a while, as long as a user's pause, and says how many frames
    // the window drew meanwhile.
    static int framesDrawnIn(LightfieldRenderer *renderer, int milliseconds)
    {
        const int before = renderer->framesShown();
        QTest::qWait(milliseconds);
        return renderer->framesShown() - before;
    }

    // Waits for a frame after the first `frames`, then for the window to rest: to draw nothing
    // for 300 ms. The window system may answer a show or a resize with more than one exposure,
    // each of which is drawn; a window that keeps drawing, or draws more than `most` frames,
    // fails, as does one that has not rested after 5 s.
    static bool restsAfter(LightfieldRenderer *renderer, int frames, int most)
    {
        if (!framesAfter(renderer, frames))
            return false;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 5000) {
            if (framesDrawnIn(renderer, 300) == 0)
                return renderer->framesShown() - frames <= most;
        }
        return false;
    }

    // Reads the screen under the window once it has shown its first picture.
    static QImage screenOf(LightfieldRenderer *renderer)
    {
        framesAfter(renderer, 0);
        const QRect area = renderer->geometry();
        return renderer->screen()
            ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }

    static bool showsView(const QImage &screen, int column, int row, QString *why)
    {
        if (screen.size() != QSize(96, 64)) {
            *why = QStringLiteral("screen area of %1x%2").arg(screen.width()).arg(screen.height());
            return false;
        }
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 96; ++x) {
                const QRgb expected = pictureColour(column, row, x, y);
                if (screen.pixel(x, y) != expected) {
                    *why = QStringLiteral("pixel (%1, %2) is %3, view (%4, %5) has %6")
                               .arg(x)
                               .arg(y)
                               .arg(screen.pixel(x, y), 0, 16)
                               .arg(column)
                               .arg(row)
                               .arg(expected, 0, 16);
                    return false;
                }
            }
        }
        return true;
    }

    static void send(QWindow *window, QEvent::Type type, Qt::MouseButton button, QPoint position,
                     Qt::MouseButtons held)
    {
        QMouseEvent event(type, position, window->mapToGlobal(position), button, held,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(window, &event);
    }

    // Starts the viewer on a file through the selector, as the user does.
    LightfieldRenderer *startThroughSelector(const QString &path)
    {
        auto *selector = new FileSelectorWindow;
        selector->setAttribute(Qt::WA_DeleteOnClose);
        selector->show();
        answerNextFileDialog(path);
        QTest::mouseClick(selector->findChildren<QPushButton *>().at(0), Qt::LeftButton);
        QPushButton *start = nullptr;
        for (QPushButton *button : selector->findChildren<QPushButton *>()) {
            if (button->text() == QLatin1String("&Start viewer"))
                start = button;
        }
        QPointer<FileSelectorWindow> alive(selector);
        QTest::mouseClick(start, Qt::LeftButton);
        // The selector is gone: hidden, then closed and deleted. A file that is refused leaves it
        // hidden, for the program to end with.
        if (!QTest::qWaitFor([&] { return alive.isNull(); })) {
            delete alive;
            return nullptr;
        }
        return openRenderer();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_directory.isValid());
        setFatalErrorHandler([this](const QString &message) { m_fatalErrors << message; });
    }

    void cleanup()
    {
        for (QWindow *window : QGuiApplication::topLevelWindows()) {
            if (qobject_cast<LightfieldRenderer *>(window))
                delete window;
        }
        m_fatalErrors.clear();
    }

    void placement_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("800x600 centred") << 800 << 600 << QPoint(560, 240);
        QTest::newRow("odd width rounds toward zero") << 801 << 600 << QPoint(559, 240);
        QTest::newRow("1900x1000 kept off the edges") << 1900 << 1000 << QPoint(32, 40);
        QTest::newRow("halves of zero raised") << 1919 << 1079 << QPoint(32, 32);
        QTest::newRow("as large as the screen") << 1920 << 1080 << QPoint(32, 32);
    }

    void placement()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QPoint, position);
        LightfieldRenderer renderer(QUrl::fromLocalFile(sizedFile(width, height)));
        QCOMPARE(renderer.screen()->availableGeometry(), QRect(0, 0, 1920, 1080));
        QCOMPARE(renderer.geometry(), QRect(position, QSize(width, height)));
        QCOMPARE(renderer.framing(), ViewFraming::TexelPerPixel);
        QCOMPARE(renderer.surfaceType(), QSurface::OpenGLSurface);
        QVERIFY(!renderer.isInitialised());
    }

    void viewsLargerThanTheScreen_data()
    {
        QTest::addColumn<QSize>("view");
        QTest::addColumn<QRect>("available");
        const QRect screen(0, 0, 1920, 1080);
        QTest::newRow("wider") << QSize(2400, 600) << screen;
        QTest::newRow("taller") << QSize(800, 1500) << screen;
        QTest::newRow("both") << QSize(3000, 2000) << screen;
        QTest::newRow("a pixel too wide") << QSize(1921, 1080) << screen;
        QTest::newRow("below a panel") << QSize(3001, 1999) << QRect(0, 27, 1920, 1053);
        QTest::newRow("on a screen to the right")
            << QSize(2000, 2000) << QRect(1920, 0, 1280, 1024);
    }

    // A window of the view's size that would not fit the screen's free area is made as large as
    // fits inside it, with room for a frame on every side, keeping the view's aspect; it is centred
    // there and shows the whole view. The window opened on the test's screen is placed so.
    void viewsLargerThanTheScreen()
    {
        QFETCH(QSize, view);
        QFETCH(QRect, available);
        const QRect fitted = viewerWindowGeometry(view, available);
        const QString where = QStringLiteral("%1x%2 at %3,%4")
                                  .arg(fitted.width())
                                  .arg(fitted.height())
                                  .arg(fitted.x())
                                  .arg(fitted.y());
        const QRect room = available.adjusted(32, 32, -32, -32);
        QVERIFY2(room.contains(fitted), qPrintable(where));
        QVERIFY2(fitted.width() == room.width() || fitted.height() == room.height(),
                 qPrintable(where));
        // The other side is rounded to the nearest pixel.
        QVERIFY2(std::abs(qint64(fitted.width()) * view.height()
                          - qint64(fitted.height()) * view.width())
                     <= std::max(view.width(), view.height()) / 2,
                 qPrintable(where));
        QVERIFY2(std::abs((fitted.left() - room.left()) - (room.right() - fitted.right())) <= 1
                     && std::abs((fitted.top() - room.top()) - (room.bottom() - fitted.bottom()))
                         <= 1,
                 qPrintable(where));

        if (available == QRect(0, 0, 1920, 1080)) {
            LightfieldRenderer renderer(
                QUrl::fromLocalFile(sizedFile(view.width(), view.height())));
            QCOMPARE(renderer.geometry(), fitted);
            QCOMPARE(renderer.framing(), ViewFraming::WholeView);
        }
    }

    // Views of 2001 × 1203 and 2 × 1 of them, each texel naming itself: red and green the low
    // bytes of x and y (y from the picture's top), blue their high nibbles and, in its top bit,
    // the view's column.
    QString writeLargeViews()
    {
        const int width = 2001, height = 1203;
        QByteArray data(2 * width * height * 4, '\0');
        char *texel = data.data();
        for (int column = 0; column < 2; ++column) {
            for (int y = height - 1; y >= 0; --y) {
                for (int x = 0; x < width; ++x, texel += 4) {
                    texel[0] = char(x & 0xFF);
                    texel[1] = char(y & 0xFF);
                    texel[2] = char((x >> 8) | (y >> 8) << 4 | column << 7);
                    texel[3] = char(255);
                }
            }
        }
        return write(QStringLiteral("large.lf2d"), "2001 1203 2 2 20 0 0 0 0\n" + data);
    }

    // What the window shows, as the texel each window pixel shows; the view column of the first.
    static QVector<QPoint> shownTexels(const QImage &screen, int *column)
    {
        QVector<QPoint> texels;
        texels.reserve(screen.width() * screen.height());
        for (int y = 0; y < screen.height(); ++y) {
            for (int x = 0; x < screen.width(); ++x) {
                const QRgb pixel = screen.pixel(x, y);
                texels << QPoint(qRed(pixel) | (qBlue(pixel) & 0xF) << 8,
                                 qGreen(pixel) | (qBlue(pixel) >> 4 & 0x7) << 8);
            }
        }
        *column = qBlue(screen.pixel(0, 0)) >> 7;
        return texels;
    }

    // The whole view: every window pixel shows the texel its centre lies in, or at a texel's edge
    // either of the two.
    static QString wrongWholeView(const QImage &screen, int viewColumn)
    {
        int column = -1;
        const QVector<QPoint> texels = shownTexels(screen, &column);
        if (column != viewColumn)
            return QStringLiteral("view %1 shown, not view %2").arg(column).arg(viewColumn);
        for (int y = 0; y < screen.height(); ++y) {
            for (int x = 0; x < screen.width(); ++x) {
                const QPoint texel = texels[y * screen.width() + x];
                const double centreX = (x + 0.5) * 2001 / screen.width();
                const double centreY = (y + 0.5) * 1203 / screen.height();
                if (std::abs(texel.x() + 0.5 - centreX) > 0.501
                    || std::abs(texel.y() + 0.5 - centreY) > 0.501) {
                    return QStringLiteral("window pixel (%1, %2) shows texel (%3, %4)")
                        .arg(x)
                        .arg(y)
                        .arg(texel.x())
                        .arg(texel.y());
                }
            }
        }
        return QString();
    }

    // The window opened for views larger than the screen shows the whole view scaled; the key 1
    // switches to one texel per window pixel, the view's centre, and back, a frame each time.
    // Drags move the camera by as many view steps per window pixel in either.
    void largeViewsAreShownWholeAndOneTexelPerPixel()
    {
        LightfieldRenderer renderer(QUrl::fromLocalFile(writeLargeViews()));
        renderer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&renderer));
        QTRY_VERIFY(renderer.isInitialised());
        const QSize window = renderer.size();
        QVERIFY(window.width() < 2001 && window.height() < 1203);
        QString wrong;
        QVERIFY2((wrong = wrongWholeView(screenOf(&renderer), 0)).isEmpty(), qPrintable(wrong));

        const auto drag = [&renderer](int dx) {
            send(&renderer, QEvent::MouseMove, Qt::NoButton, QPoint(100, 100), Qt::NoButton);
            send(&renderer, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(100, 100),
                 Qt::LeftButton);
            send(&renderer, QEvent::MouseMove, Qt::NoButton, QPoint(100 + dx, 100), Qt::LeftButton);
            send(&renderer, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(100 + dx, 100),
                 Qt::NoButton);
            return dynamic_cast<const SimpleCamera *>(renderer.camera())->positionX();
        };
        // 15 pixels of drag: position 1 + 15 of 20 a view step, nearest to view 1.
        int frames = renderer.framesShown();
        QCOMPARE(drag(15), 16);
        QVERIFY(framesAfter(&renderer, frames));
        const QImage whole = screenOf(&renderer);
        QVERIFY2((wrong = wrongWholeView(whole, 1)).isEmpty(), qPrintable(wrong));

        const auto pressOne = [&renderer] {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, QStringLiteral("1"));
            QCoreApplication::sendEvent(&renderer, &press);
        };
        frames = renderer.framesShown();
        pressOne();
        QCOMPARE(renderer.framing(), ViewFraming::TexelPerPixel);
        QCOMPARE(renderer.camera()->framing(), ViewFraming::TexelPerPixel);
        QVERIFY(framesAfter(&renderer, frames));
        // The view's centre: every pixel shows the texel at one offset from it, which centres
        // the window on the view to within half a pixel.
        int column = -1;
        const QVector<QPoint> texels = shownTexels(screenOf(&renderer), &column);
        QCOMPARE(column, 1);
        const QPoint offset = texels[0];
        QVERIFY2(std::abs(offset.x() - (2001 - window.width()) / 2.0) <= 0.5
                     && std::abs(offset.y() - (1203 - window.height()) / 2.0) <= 0.5,
                 qPrintable(QStringLiteral("offset %1, %2").arg(offset.x()).arg(offset.y())));
        for (int i = 0; i < texels.size(); ++i) {
            const QPoint expected = offset + QPoint(i % window.width(), i / window.width());
            QVERIFY2(texels[i] == expected,
                     qPrintable(QStringLiteral("window pixel (%1, %2) shows texel (%3, %4)")
                                    .arg(i % window.width())
                                    .arg(i / window.width())
                                    .arg(texels[i].x())
                                    .arg(texels[i].y())));
        }
        // A drag there moves the camera as far: back 15 pixels to view 0, and again to view 1.
        frames = renderer.framesShown();
        QCOMPARE(drag(-15), 1);
        QCOMPARE(drag(15), 16);
        QVERIFY(restsAfter(&renderer, frames, 4));

        frames = renderer.framesShown();
        pressOne();
        QCOMPARE(renderer.framing(), ViewFraming::WholeView);
        QVERIFY(framesAfter(&renderer, frames));
        QVERIFY(screenOf(&renderer) == whole);
        QVERIFY(m_fatalErrors.isEmpty());
    }

    void startShowsTheFirstViewAndFollowsLeftDrags()
    {
        LightfieldRenderer *renderer = startThroughSelector(writeGrid());
        QVERIFY(renderer);
        QVERIFY(QTest::qWaitForWindowExposed(renderer));
        QCOMPARE(renderer->geometry(), QRect(912, 508, 96, 64));
        QTRY_VERIFY(renderer->isInitialised());
        QString why;
        QVERIFY2(showsView(screenOf(renderer), 0, 0, &why), qPrintable(why));

        // 19 pixels right from position 1: exactly one view step, to view (1, 0).
        send(renderer, QEvent::MouseMove, Qt::NoButton, QPoint(10, 10), Qt::NoButton);
        send(renderer, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(10, 10), Qt::LeftButton);
        int frames = renderer->framesShown();
        send(renderer, QEvent::MouseMove, Qt::NoButton, QPoint(29, 10), Qt::LeftButton);
        QVERIFY(framesAfter(renderer, frames));
        QVERIFY2(showsView(screenOf(renderer), 1, 0, &why), qPrintable(why));
        // Then down by two views, far past the last row: the camera stops short of it and shows
        // the nearest view, (1, 2).
        frames = renderer->framesShown();
        send(renderer, QEvent::MouseMove, Qt::NoButton, QPoint(29, 80), Qt::LeftButton);
        send(renderer, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(29, 80), Qt::NoButton);
        QVERIFY(framesAfter(renderer, frames));
        QVERIFY2(showsView(screenOf(renderer), 1, 2, &why), qPrintable(why));

        // A window of the view's size shows the same picture in both framings.
        for (ViewFraming framing : {ViewFraming::WholeView, ViewFraming::TexelPerPixel}) {
            frames = renderer->framesShown();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, QStringLiteral("1"));
            QCoreApplication::sendEvent(renderer, &press);
            QCOMPARE(renderer->camera()->framing(), framing);
            QVERIFY(framesAfter(renderer, frames));
            QVERIFY2(showsView(screenOf(renderer), 1, 2, &why), qPrintable(why));
        }

        // Right and middle drags leave the picture as it is, and draw nothing.
        for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
            frames = renderer->framesShown();
            send(renderer, QEvent::MouseButtonPress, button, QPoint(29, 80), button);
            send(renderer, QEvent::MouseMove, Qt::NoButton, QPoint(5, 5), button);
            send(renderer, QEvent::MouseButtonRelease, button, QPoint(5, 5), Qt::NoButton);
            QCOMPARE(framesDrawnIn(renderer, 200), 0);
            QVERIFY2(showsView(screenOf(renderer), 1, 2, &why), qPrintable(why));
        }
        QVERIFY(m_fatalErrors.isEmpty());
    }

    // A frame is drawn when the picture can change, and only then: after the load, for a drag
    // that moves the camera, when the window is resized or shown again. A still window, and a
    // drag against the end of the grid, draw nothing.
    void drawsOnlyWhenThePictureCanChange()
    {
        LightfieldRenderer renderer(QUrl::fromLocalFile(writeGrid()));
        renderer.show();
        QVERIFY(restsAfter(&renderer, 0, 3));

        // Mouse moves without a button, and many moves of one drag before the next frame.
        send(&renderer, QEvent::MouseMove, Qt::NoButton, QPoint(10, 10), Qt::NoButton);
        send(&renderer, QEvent::MouseMove, Qt::NoButton, QPoint(12, 11), Qt::NoButton);
        QCOMPARE(framesDrawnIn(&renderer, 200), 0);
        send(&renderer, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(12, 11), Qt::LeftButton);
        for (int x = 13; x < 30; ++x)
            send(&renderer, QEvent::MouseMove, Qt::NoButton, QPoint(x, 11), Qt::LeftButton);
        QCOMPARE(framesDrawnIn(&renderer, 300), 1);
        // Up and left past the first view: the camera stops at it and then stays.
        send(&renderer, QEvent::MouseMove, Qt::NoButton, QPoint(-500, -500), Qt::LeftButton);
        QCOMPARE(framesDrawnIn(&renderer, 300), 1);
        send(&renderer, QEvent::MouseMove, Qt::NoButton, QPoint(-510, -520), Qt::LeftButton);
        QCOMPARE(framesDrawnIn(&renderer, 300), 0);
        send(&renderer, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(-510, -520),
             Qt::NoButton);

        // A smaller window shows another crop of the view; a window shown again has to be drawn.
        int frames = renderer.framesShown();
        renderer.resize(80, 60);
        QVERIFY(restsAfter(&renderer, frames, 3));
        renderer.hide();
        frames = renderer.framesShown();
        renderer.show();
        QVERIFY(restsAfter(&renderer, frames, 3));
        QVERIFY(m_fatalErrors.isEmpty());
    }

    // The arrows step the camera by views (a tenth with Shift) within a drag's bounds, each
    // move a frame; Home takes it back to the start.
    void keysMoveTheCamera()
    {
        LightfieldRenderer renderer(QUrl::fromLocalFile(writeGrid()));
        renderer.show();
        QVERIFY(restsAfter(&renderer, 0, 3));
        const auto position = [&] {
            auto *camera = dynamic_cast<const SimpleCamera *>(renderer.camera());
            return QPoint(camera->positionX(), camera->positionY());
        };
        const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers, QPoint expected) {
            const int frames = renderer.framesShown();
            QTest::keyClick(&renderer, key, modifiers);
            QCOMPARE(position(), expected);
            QVERIFY(framesAfter(&renderer, frames));
        };
        // A view step is the file's 20 drag pixels; the camera starts at (1, 1).
        press(Qt::Key_Right, Qt::NoModifier, QPoint(21, 1));
        press(Qt::Key_Down, Qt::NoModifier, QPoint(21, 21));
        press(Qt::Key_Right, Qt::ShiftModifier, QPoint(23, 21));
        press(Qt::Key_Up, Qt::ShiftModifier, QPoint(23, 19));
        // Two steps right would pass the last column: the camera stops a pixel short of it.
        press(Qt::Key_Right, Qt::NoModifier, QPoint(39, 19));
        const int frames = renderer.framesShown();
        QTest::keyClick(&renderer, Qt::Key_Right);
        QCOMPARE(position(), QPoint(39, 19));
        QCOMPARE(framesDrawnIn(&renderer, 300), 0);
        QCOMPARE(renderer.framesShown(), frames);
        press(Qt::Key_Home, Qt::NoModifier, QPoint(1, 1));
    }

    // The lens through the window: ] and [ open and close it, the wheel focuses it (Ctrl a whole
    // pixel a notch), a click focuses it on the surface under the pointer, 0 makes it a pinhole
    // again and D shows the disparity; the title says what differs from the defaults.
    void lensFollowsTheWheelTheKeysAndAClick()
    {
        synth::SceneOptions options;
        options.columns = options.rows = 5;
        options.width = 192;
        options.height = 160;
        const synth::SyntheticScene scene(options);
        const QString path = m_directory.filePath(QStringLiteral("layers.lf2d"));
        synth::writeLightfield(scene, path.toStdString());
        LightfieldRenderer renderer(QUrl::fromLocalFile(path));
        renderer.show();
        QVERIFY(restsAfter(&renderer, 0, 3));
        QCOMPARE(renderer.title(), QString());
        const QImage pinhole = screenOf(&renderer);

        const auto titleSays = [&](const QString &differences) {
            const QString expected = differences.isEmpty()
                ? QString()
                : QString::fromStdString(activeBuildConfiguration().name)
                    + QStringLiteral(" \u2014 ") + differences;
            return renderer.title() == expected;
        };
        // Each step the picture changes draws a frame; the screen then shows it.
        const auto afterFrame = [&](const std::function<void()> &action) {
            const int frames = renderer.framesShown();
            action();
            return restsAfter(&renderer, frames, 3) ? screenOf(&renderer) : QImage();
        };
        const auto key = [&](Qt::Key key) {
            QTest::keyClick(&renderer, key);
        };
        const auto wheel = [&](int notches, Qt::KeyboardModifiers modifiers) {
            const QPoint at(96, 80);
            QWheelEvent event(at, renderer.mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                              Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(&renderer, &event);
        };

        // Closed, the lens has nothing to close; opened, it blurs.
        key(Qt::Key_BracketLeft);
        QCOMPARE(framesDrawnIn(&renderer, 300), 0);
        QImage opened = afterFrame([&] {
            for (int i = 0; i < 4; ++i)
                key(Qt::Key_BracketRight);
        });
        QCOMPARE(renderer.lens().aperture, 1.0f);
        QVERIFY2(titleSays(QStringLiteral("aperture 1 view")), qPrintable(renderer.title()));
        QVERIFY(!opened.isNull() && opened != pinhole);

        // Three notches of a quarter pixel, then a whole pixel with Ctrl.
        QImage focused = afterFrame([&] { wheel(3, Qt::NoModifier); });
        QCOMPARE(renderer.lens().focus, 0.75f);
        QVERIFY2(titleSays(QStringLiteral("focus 0.75 px, aperture 1 view")),
                 qPrintable(renderer.title()));
        QVERIFY(!focused.isNull() && focused != opened);
        afterFrame([&] { wheel(1, Qt::ControlModifier); });
        QCOMPARE(renderer.lens().focus, 1.75f);
        // Never below 0.
        QImage atInfinity = afterFrame([&] { wheel(-20, Qt::NoModifier); });
        QCOMPARE(renderer.lens().focus, 0.0f);
        QCOMPARE(atInfinity, opened);
        QVERIFY2(titleSays(QStringLiteral("aperture 1 view")), qPrintable(renderer.title()));

        // A click on the triangle, the nearest layer: it comes into focus, as sharp as the
        // pinhole shows it, while the background blurs.
        const float spacing = float(options.viewSpacing);
        const std::vector<float> disparity = scene.disparityMap(1.0 / spacing, 1.0 / spacing);
        const auto interior = [&](float layer, int margin) {
            std::vector<QPoint> pixels;
            for (int y = margin; y < options.height - margin; ++y) {
                for (int x = margin; x < options.width - margin; ++x) {
                    bool inside = true;
                    for (int dy = -margin; dy <= margin && inside; ++dy) {
                        for (int dx = -margin; dx <= margin && inside; ++dx)
                            inside = disparity[size_t(y + dy) * options.width + x + dx] == layer;
                    }
                    if (inside)
                        pixels.push_back(QPoint(x, y));
                }
            }
            return pixels;
        };
        const std::vector<QPoint> triangle = interior(11.0f, 4);
        QVERIFY(triangle.size() > 50);
        const QPoint clickAt = triangle[triangle.size() / 2];
        const QImage sharp = afterFrame([&] {
            send(&renderer, QEvent::MouseButtonPress, Qt::LeftButton, clickAt, Qt::LeftButton);
            send(&renderer, QEvent::MouseButtonRelease, Qt::LeftButton, clickAt + QPoint(1, 1),
                 Qt::NoButton);
        });
        QVERIFY2(std::abs(renderer.lens().focus - 11.0f) < 0.05f,
                 qPrintable(QString::number(renderer.lens().focus)));
        const auto meanDifference = [](const QImage &a, const QImage &b,
                                       const std::vector<QPoint> &pixels) {
            double sum = 0.0;
            for (const QPoint &pixel : pixels) {
                const QRgb x = a.pixel(pixel), y = b.pixel(pixel);
                sum += std::abs(qRed(x) - qRed(y)) + std::abs(qGreen(x) - qGreen(y))
                    + std::abs(qBlue(x) - qBlue(y));
            }
            return sum / (3.0 * double(pixels.size()));
        };
        // The triangle's rim blurs with the background behind it; inside, it is the pinhole's.
        QVERIFY2(meanDifference(sharp, pinhole, interior(11.0f, 10)) < 1.0,
                 qPrintable(QString::number(meanDifference(sharp, pinhole, interior(11.0f, 10)))));
        QVERIFY2(meanDifference(sharp, pinhole, interior(1.0f, 12)) > 4.0,
                 qPrintable(QString::number(meanDifference(sharp, pinhole, interior(1.0f, 12)))));
        QVERIFY2(titleSays(QStringLiteral("focus 11 px, aperture 1 view")),
                 qPrintable(renderer.title()));

        // The disparity instead of the picture, and back.
        const QImage depth = afterFrame([&] { key(Qt::Key_D); });
        QVERIFY(renderer.showsDisparity());
        QVERIFY2(titleSays(QStringLiteral("focus 11 px, aperture 1 view, disparity shown")),
                 qPrintable(renderer.title()));
        QVERIFY(!depth.isNull() && depth != sharp);
        QCOMPARE(afterFrame([&] { key(Qt::Key_D); }), sharp);

        // 0: the pinhole, texel for texel; the focus stays for the next aperture.
        QCOMPARE(afterFrame([&] { key(Qt::Key_0); }), pinhole);
        QVERIFY2(titleSays(QStringLiteral("focus 11 px")), qPrintable(renderer.title()));
        // The widest aperture is half the grid's smaller side, two view steps of five views.
        afterFrame([&] {
            for (int i = 0; i < 12; ++i)
                key(Qt::Key_BracketRight);
        });
        QCOMPARE(renderer.lens().aperture, 2.0f);
        QVERIFY(m_fatalErrors.isEmpty());
    }

    void buttonTableAndFirstMove()
    {
        LightfieldRenderer renderer(QUrl::fromLocalFile(writeGrid()));
        QCOMPARE(renderer.buttonTable(),
                 (std::map<int, bool> {{1, false}, {2, false}, {4, false}}));
        // Before the pipeline exists moves reach no camera, but the position is tracked.
        send(&renderer, QEvent::MouseMove, Qt::NoButton, QPoint(15, 7), Qt::NoButton);
        QCOMPARE(QPoint(renderer.lastMouseX(), renderer.lastMouseY()), QPoint(15, 7));
        renderer.show();
        QTRY_VERIFY(renderer.isInitialised());
        auto position = [&] {
            auto *camera = dynamic_cast<const SimpleCamera *>(renderer.camera());
            return QPoint(camera->positionX(), camera->positionY());
        };
        QCOMPARE(position(), QPoint(1, 1));

        // Left and right together pass the left button; right and middle pass the right one.
        send(&renderer, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(15, 7), Qt::LeftButton);
        send(&renderer, QEvent::MouseButtonPress, Qt::RightButton, QPoint(15, 7),
             Qt::LeftButton | Qt::RightButton);
        send(&renderer, QEvent::MouseMove, Qt::NoButton, QPoint(20, 9),
             Qt::LeftButton | Qt::RightButton);
        QCOMPARE(position(), QPoint(6, 3));
        send(&renderer, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(20, 9), Qt::RightButton);
        send(&renderer, QEvent::MouseButtonPress, Qt::MiddleButton, QPoint(20, 9),
             Qt::RightButton | Qt::MiddleButton);
        send(&renderer, QEvent::MouseMove, Qt::NoButton, QPoint(30, 19),
             Qt::RightButton | Qt::MiddleButton);
        QCOMPARE(position(), QPoint(6, 3));
        send(&renderer, QEvent::MouseButtonRelease, Qt::RightButton, QPoint(30, 19),
             Qt::MiddleButton);
        send(&renderer, QEvent::MouseButtonRelease, Qt::MiddleButton, QPoint(30, 19), Qt::NoButton);

        // Another button is recorded but never moves the camera.
        send(&renderer, QEvent::MouseButtonPress, Qt::BackButton, QPoint(30, 19), Qt::BackButton);
        QCOMPARE(renderer.buttonTable().at(int(Qt::BackButton)), true);
        send(&renderer, QEvent::MouseMove, Qt::NoButton, QPoint(40, 29), Qt::BackButton);
        QCOMPARE(position(), QPoint(6, 3));
        QCOMPARE(QPoint(renderer.lastMouseX(), renderer.lastMouseY()), QPoint(40, 29));
    }

    void badFileThroughTheSelector()
    {
        const QString path =
            write(QStringLiteral("short.lf2d"), "4 3 6 3 10 0 0 0 04\n" + patternBytes(200, 1));
        QCOMPARE(startThroughSelector(path), nullptr);
        QCOMPARE(m_fatalErrors,
                 QStringList(QStringLiteral("Lightfield file \"%1\" is truncated: 6 views of 48 "
                                            "bytes expected, 200 bytes found")
                                 .arg(path)));
    }

    void loadingShowsItsProgress_data()
    {
        QTest::addColumn<int>(
            "closeAt"); // the view whose progress title closes the window; 0: none
        QTest::newRow("whole load") << 0;
        QTest::newRow("closed while loading") << 4;
    }

    // The title counts the views while the plane is built and is given back afterwards; a close
    // during the build stops it before the next view and closes the window, with no error.
    void loadingShowsItsProgress()
    {
        QFETCH(int, closeAt);
        const QString path = write(QStringLiteral("thirty.lf2d"),
                                   "8 8 30 6 10 0 0 0 08\n" + patternBytes(30 * 8 * 8 * 4, 5));
        auto *renderer = new LightfieldRenderer(QUrl::fromLocalFile(path));
        const QString closing = QStringLiteral("Loading %1 of 30 views").arg(closeAt);
        QStringList titles;
        connect(renderer, &QWindow::windowTitleChanged, [&](const QString &title) {
            titles << title;
            if (title == closing)
                renderer->close();
        });
        renderer->show();
        const int shown = closeAt == 0 ? 30 : closeAt;
        QStringList expected;
        for (int view = 1; view <= shown; ++view)
            expected << QStringLiteral("Loading %1 of 30 views").arg(view);
        expected << QString();
        QTRY_COMPARE(titles, expected);
        if (closeAt == 0) {
            QTRY_VERIFY(renderer->isInitialised());
            QVERIFY(renderer->isVisible());
            QCOMPARE(renderer->reader()->viewsRead(), 30);
        } else {
            QTRY_VERIFY(!renderer->isVisible());
            QVERIFY(!renderer->isInitialised());
            // The view whose turn it was is not read.
            QCOMPARE(renderer->reader()->viewsRead(), closeAt - 1);
        }
        QVERIFY(m_fatalErrors.isEmpty());
    }

    void glErrorsEndTheProgramWithWhatFailed_data()
    {
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QString>("doing");
        QTest::newRow("while loading") << "linear tone curve"
                                       << "loading the views of";
        QTest::newRow("in the first frame") << "display"
                                            << "showing the first frame of";
    }

    // A driver that runs out of memory says so only through glGetError; the viewer looks once
    // the plane is built and after the first frame, and ends with a message rather than show
    // black views. Any error will do to see that it looks: one is raised after a pass.
    void glErrorsEndTheProgramWithWhatFailed()
    {
        QFETCH(QString, pass);
        QFETCH(QString, doing);
        // RGBE with disparity: the linear stage's pass runs while the views load.
        const QString path = write(QStringLiteral("disparity.lf2d"),
                                   "2 2 2 2 10 0 1 1 02\n" + QByteArray(4 * 16, '\x40'));
        bool raised = false;
        setPassObserver([&](const char *name) {
            if (!raised && pass == QLatin1String(name)) {
                raised = true;
                QOpenGLContext::currentContext()->functions()->glEnable(GL_INVALID_ENUM);
            }
        });
        const auto noObserver = qScopeGuard([] { setPassObserver(nullptr); });
        auto *renderer = new LightfieldRenderer(QUrl::fromLocalFile(path));
        renderer->show();
        QTRY_COMPARE(m_fatalErrors.size(), 1);
        QCOMPARE(m_fatalErrors.first(),
                 QStringLiteral("The OpenGL driver failed while %1 \"%2\": GL_INVALID_ENUM")
                     .arg(doing, path));
        QTRY_VERIFY(!renderer->isVisible());
    }

    // On a screen that scales windows the view is synthesised at one view pixel per logical
    // pixel and fills the whole window, every device pixel (run with QT_SCALE_FACTOR=2).
    void fillsTheWindowOnAScaledScreen()
    {
        LightfieldRenderer *renderer = startThroughSelector(writeGrid());
        QVERIFY(renderer);
        const qreal ratio = renderer->devicePixelRatio();
        if (ratio == 1.0)
            QSKIP("the screen does not scale windows; CTest runs this with QT_SCALE_FACTOR=2");
        // Placed for a 1920 × 1080 desktop, part of it lies off a scaled screen; moved onto it,
        // the part that was off is exposed and drawn.
        renderer->setPosition(40, 40);
        QTRY_VERIFY(renderer->isInitialised());
        const auto firstWrongPixel = [&] {
            const QImage shown = screenOf(renderer);
            if (shown.size() != QSize(qRound(96 * ratio), qRound(64 * ratio)))
                return QStringLiteral("%1x%2 pixels").arg(shown.width()).arg(shown.height());
            for (int y = 0; y < shown.height(); ++y) {
                for (int x = 0; x < shown.width(); ++x) {
                    const QRgb expected = pictureColour(0, 0, int(x / ratio), int(y / ratio));
                    if (shown.pixel(x, y) != expected) {
                        return QStringLiteral("device pixel (%1, %2) is %3, not %4")
                            .arg(x)
                            .arg(y)
                            .arg(shown.pixel(x, y), 0, 16)
                            .arg(expected, 0, 16);
                    }
                }
            }
            return QString();
        };
        QString wrong;
        QVERIFY2(QTest::qWaitFor([&] { return (wrong = firstWrongPixel()).isEmpty(); }, 5000),
                 qPrintable(wrong));
    }

    void errorWhileBuildingThePipelineStopsRendering()
    {
        // The file shrinks between opening (the header is fine) and building the plane. Its
        // views are larger than what the stream buffers when it reads the header.
        const QByteArray header = "64 64 2 2 10 0 0 0 16\n";
        const QString path =
            write(QStringLiteral("shrinking.lf2d"), header + patternBytes(2 * 64 * 64 * 4, 2));
        auto *renderer = new LightfieldRenderer(QUrl::fromLocalFile(path));
        QVERIFY(QFile::resize(path, header.size() + 64 * 64 * 4));
        renderer->show();
        QTRY_COMPARE(m_fatalErrors.size(), 1);
        QCOMPARE(m_fatalErrors.first(),
                 QStringLiteral("Lightfield file \"%1\" is truncated: it ended while view 2 was "
                                "read")
                     .arg(path));
        QVERIFY(!renderer->isInitialised());
        QTRY_VERIFY(!renderer->isVisible());
        // No frame is drawn after the error, and the error is reported once.
        QSignalSpy swapped(renderer, &QOpenGLWindow::frameSwapped);
        QTest::qWait(100);
        QCOMPARE(swapped.count(), 0);
        QCOMPARE(m_fatalErrors.size(), 1);
    }
};

int main(int argc, char *argv[])
{
    QSurfaceFormat::setDefaultFormat(viewerSurfaceFormat());
    // The shader programs are built once per process; the windows that this test opens one
    // after another share them through one share group.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    LightfieldRendererGLTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LightfieldRendererGLTest.moc"
