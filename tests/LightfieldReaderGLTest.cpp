#include "lightfield/LightfieldReader.h"
#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/LightfieldFiles.h"

#include <sys/stat.h>

#include <QTemporaryDir>
#include <QtTest>

// The reader on real files: header values, views in file order uploaded byte for byte, the end
// of the views, and every kind of bad file refused with a message that names it.
class LightfieldReaderGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;
    QTemporaryDir m_directory;

    QString write(const QString &name, const QByteArray &content)
    {
        return writeTestFile(m_directory, name, content);
    }

    static QString errorOpening(const QString &path)
    {
        try {
            LightfieldReader reader(QUrl::fromLocalFile(path));
        } catch (const std::string &message) {
            return QString::fromStdString(message);
        }
        return QString();
    }

    QByteArray bytesOf(QOpenGLTexture *texture, int width, int height)
    {
        const auto bytes = readTextureBytes(*texture, width, height);
        return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
    }

    // Releases the test's context for a scope, so that any GL call in it fails, and makes it
    // current again however the scope ends.
    class WithoutCurrentContext
    {
    public:
        explicit WithoutCurrentContext(GLTestContext &gl)
            : m_gl(gl)
        {
            m_gl.context()->doneCurrent();
        }
        ~WithoutCurrentContext() { m_gl.makeCurrent(); }
        WithoutCurrentContext(const WithoutCurrentContext &) = delete;
        WithoutCurrentContext &operator=(const WithoutCurrentContext &) = delete;

    private:
        GLTestContext &m_gl;
    };

    // Collects what readNextViewImages hands out: the layers in order and all bytes end to end.
    struct ReadImages
    {
        QList<int> layers;
        QByteArray bytes;

        LightfieldReader::ImageSink sink()
        {
            return [this](FeatureLayer layer, const std::vector<unsigned char> &image) {
                layers << layer;
                bytes.append(reinterpret_cast<const char *>(image.data()), int(image.size()));
            };
        }
    };

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        QVERIFY(m_directory.isValid());
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void viewsInFileOrder()
    {
        const QByteArray data = patternBytes(6 * 48, 1);
        const QString path = write(QStringLiteral("grid.lf2d"), "4 3 6 3 10 0 0 0 04\n" + data);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        QCOMPARE(reader.width(), 4);
        QCOMPARE(reader.height(), 3);
        QCOMPARE(reader.rows(), 2);
        QCOMPARE(reader.columns(), 3);
        QCOMPARE(reader.viewSpacing(), 10);
        QCOMPARE(reader.maxDisparity(), 4); // "04": decimal, not octal
        QCOMPARE(reader.viewBytes(), std::int64_t(48));

        for (int view = 0; view < 6; ++view) {
            FeatureLayers layers = reader.nextView();
            QCOMPARE(layers.layers().size(), size_t(1));
            QVERIFY(layers.hasLayer(LdrRgb));
            QOpenGLTexture *texture = layers.getLayer(LdrRgb);
            QCOMPARE(texture->width(), 4);
            QCOMPARE(texture->height(), 3);
            QCOMPARE(texture->format(), QOpenGLTexture::RGBA8_UNorm);
            // The first stored row is texture row 0: the bytes come back exactly as stored.
            QCOMPARE(bytesOf(texture, 4, 3), data.mid(view * 48, 48));
        }
        QCOMPARE(reader.viewsRead(), 6);
        try {
            reader.nextView();
            QFAIL("a seventh view was handed out");
        } catch (const std::string &message) {
            QCOMPARE(QString::fromStdString(message),
                     QStringLiteral("No more lightfield-views available!"));
        }
        QCOMPARE(reader.viewsRead(), 6);
    }

    void layersByFileKind_data()
    {
        QTest::addColumn<int>("isHdr");
        QTest::addColumn<int>("hasDisparity");
        QTest::addColumn<int>("colourLayer");
        QTest::newRow("8-bit") << 0 << 0 << int(LdrRgb);
        QTest::newRow("8-bit with disparity") << 0 << 1 << int(LdrRgb);
        QTest::newRow("RGBE") << 1 << 0 << int(RgbeImage);
        QTest::newRow("RGBE with disparity") << 1 << 1 << int(RgbeImage);
    }

    void layersByFileKind()
    {
        QFETCH(int, isHdr);
        QFETCH(int, hasDisparity);
        QFETCH(int, colourLayer);
        const int images = hasDisparity ? 2 : 1;
        const QByteArray data = patternBytes(4 * 48 * images, 2);
        const QString path =
            write(QStringLiteral("kind.lf2d"),
                  QStringLiteral("4 3 4 2 10 0 %1 %2 04\n").arg(isHdr).arg(hasDisparity).toLatin1()
                      + data);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        QCOMPARE(reader.isHdr(), bool(isHdr));
        QCOMPARE(reader.hasDisparity(), bool(hasDisparity));
        for (int view = 0; view < 4; ++view) {
            FeatureLayers layers = reader.nextView();
            QCOMPARE(layers.layers().size(), size_t(images));
            const int offset = view * 48 * images;
            QCOMPARE(bytesOf(layers.getLayer(colourLayer), 4, 3), data.mid(offset, 48));
            if (hasDisparity)
                QCOMPARE(bytesOf(layers.getLayer(RgbeDisparity), 4, 3), data.mid(offset + 48, 48));
            QCOMPARE(layers.hasLayer(colourLayer == LdrRgb ? RgbeImage : LdrRgb), false);
        }
    }

    void crlfShiftsTheData()
    {
        // The "\r" is the separator and the "\n" becomes the first pixel byte.
        const QByteArray data = patternBytes(48, 3);
        const QString path = write(QStringLiteral("crlf.lf2d"), "4 3 1 1 10 0 0 0 04\r\n" + data);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        FeatureLayers layers = reader.nextView();
        QCOMPARE(bytesOf(layers.getLayer(LdrRgb), 4, 3), ("\n" + data).left(48));
    }

    void pathWithSpacesAndNonAscii()
    {
        const QString path =
            write(QStringLiteral("a scene ä.lf2d"), "1 1 1 1 10 0 0 0 0\n" + patternBytes(4, 4));
        LightfieldReader reader(QUrl::fromLocalFile(path));
        FeatureLayers layers = reader.nextView();
        QVERIFY(layers.hasLayer(LdrRgb));
    }

    void badFiles()
    {
        const QString missing = m_directory.filePath(QStringLiteral("missing.lf2d"));
        QCOMPARE(errorOpening(missing),
                 QStringLiteral("Cannot open lightfield file \"%1\": no such file").arg(missing));
        QCOMPARE(errorOpening(m_directory.path()),
                 QStringLiteral("Cannot open lightfield file \"%1\": not a regular file")
                     .arg(m_directory.path()));

        const QString unreadable =
            write(QStringLiteral("unreadable.lf2d"), "1 1 1 1 1 0 0 0 0\nxxxx");
        QFile::setPermissions(unreadable, QFile::Permissions());
        if (QFileInfo(unreadable).isReadable()) {
            qInfo("running as a user who reads any file; skipping the unreadable case");
        } else {
            QCOMPARE(errorOpening(unreadable),
                     QStringLiteral("Cannot open lightfield file \"%1\": Permission denied")
                         .arg(unreadable));
        }

        const QString truncated =
            write(QStringLiteral("truncated.lf2d"), "4 3 6 3 10 0 0 0 04\n" + patternBytes(200, 5));
        QCOMPARE(errorOpening(truncated),
                 QStringLiteral("Lightfield file \"%1\" is truncated: 6 views of 48 bytes "
                                "expected, 200 bytes found")
                     .arg(truncated));

        const QString malformed = write(QStringLiteral("malformed.lf2d"), "4 3 6 0 10 0 0 0 04\n");
        QCOMPARE(errorOpening(malformed),
                 QStringLiteral("Lightfield file \"%1\" is not a valid .lf2d file: 'columns' must "
                                "be at least 1, found 0")
                     .arg(malformed));
    }

    void namedPipeIsNotOpened()
    {
        // Opening a pipe for reading would wait for a writer forever.
        const QString pipe = m_directory.filePath(QStringLiteral("pipe.lf2d"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        QCOMPARE(
            errorOpening(pipe),
            QStringLiteral("Cannot open lightfield file \"%1\": not a regular file").arg(pipe));
    }

    void fileGrowsWhileOpen()
    {
        // What is appended after opening lies beyond the grid the header promised; the views are
        // the ones that were there.
        const QByteArray data = patternBytes(2 * 48, 4);
        const QString path = write(QStringLiteral("growing.lf2d"), "4 3 2 2 10 0 0 0 04\n" + data);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write(patternBytes(5000, 9));
        file.close();
        QCOMPARE(bytesOf(reader.nextView().getLayer(LdrRgb), 4, 3), data.left(48));
        QCOMPARE(bytesOf(reader.nextView().getLayer(LdrRgb), 4, 3), data.mid(48));
        QVERIFY(!configurationErrorOf([&] { reader.nextView(); }).isEmpty());
    }

    void fileShrinksWhileOpen()
    {
        // Checked against the file at opening, the data may still vanish before the views are
        // read: bytes that were never read must not be uploaded.
        // Views larger than the stream's buffer, so that the second one is still on disk only.
        const QString path = write(QStringLiteral("shrinking.lf2d"),
                                   "64 64 2 2 10 0 0 0 16\n" + patternBytes(2 * 16384, 6));
        LightfieldReader reader(QUrl::fromLocalFile(path));
        QFile::resize(path, 22 + 20000);
        reader.nextView();
        try {
            reader.nextView();
            QFAIL("a view was made of bytes that were never read");
        } catch (const std::string &message) {
            QCOMPARE(QString::fromStdString(message),
                     QStringLiteral("Lightfield file \"%1\" is truncated: it ended while view 2 "
                                    "was read")
                         .arg(path));
        }
    }

    void viewsBeyondTheDriversLimit()
    {
        GLint limit = 0;
        m_gl.gl()->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
        const int width = limit + 1;
        // One row of pixels is enough to exceed the limit without a large file.
        const QString path = write(QStringLiteral("wide.lf2d"),
                                   QStringLiteral("%1 1 1 1 10 0 0 0 0\n").arg(width).toLatin1()
                                       + QByteArray(width * 4, 'x'));
        LightfieldReader reader(QUrl::fromLocalFile(path));
        try {
            reader.nextView();
            QFAIL("a texture beyond the driver's limit was made");
        } catch (const std::string &message) {
            QCOMPARE(
                QString::fromStdString(message),
                QStringLiteral("Lightfield file \"%1\" has views of %2 x 1 pixels; this OpenGL "
                               "driver takes textures of at most %3 pixels per side")
                    .arg(path)
                    .arg(width)
                    .arg(limit));
        }
        QCOMPARE(reader.viewsRead(), 0);
    }

    void readingNeedsNoContext_data() { layersByFileKind_data(); }

    void readingNeedsNoContext()
    {
        QFETCH(int, isHdr);
        QFETCH(int, hasDisparity);
        QFETCH(int, colourLayer);
        const int images = hasDisparity ? 2 : 1;
        const QByteArray data = patternBytes(4 * 48 * images, 7);
        const QString path =
            write(QStringLiteral("unuploaded.lf2d"),
                  QStringLiteral("4 3 4 2 10 0 %1 %2 04\n").arg(isHdr).arg(hasDisparity).toLatin1()
                      + data);
        const WithoutCurrentContext noContext(m_gl);
        LightfieldReader reader(QUrl::fromLocalFile(path));

        // Uploading needs the context that reading does not; refused, it consumes no view.
        QCOMPARE(configurationErrorOf([&reader] { reader.nextView(); }),
                 QStringLiteral("Reading a lightfield view needs a current OpenGL context"));
        QCOMPARE(reader.viewsRead(), 0);

        ReadImages read;
        QList<int> expectedLayers;
        for (int view = 0; view < 4; ++view) {
            reader.readNextViewImages(read.sink());
            QCOMPARE(reader.viewsRead(), view + 1);
            expectedLayers << colourLayer;
            if (hasDisparity)
                expectedLayers << int(RgbeDisparity);
        }
        QCOMPARE(read.layers, expectedLayers);
        QCOMPARE(read.bytes, data);

        QCOMPARE(configurationErrorOf([&] { reader.readNextViewImages(read.sink()); }),
                 QStringLiteral("No more lightfield-views available!"));
        QCOMPARE(read.layers.size(), 4 * images);
        QCOMPARE(reader.viewsRead(), 4);
    }

    void readingStopsWhereTheFileEnds()
    {
        // Views larger than the stream's buffer, so that the disparity image is still on disk
        // only when the file shrinks: the colour image is whole, the disparity image is not.
        const QByteArray data = patternBytes(2 * 16384, 8);
        const QString path =
            write(QStringLiteral("shrinking-disparity.lf2d"), "64 64 1 1 10 0 1 1 16\n" + data);
        const WithoutCurrentContext noContext(m_gl);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        QVERIFY(QFile::resize(path, 22 + 16384 + 100));

        ReadImages read;
        QCOMPARE(configurationErrorOf([&] { reader.readNextViewImages(read.sink()); }),
                 QStringLiteral("Lightfield file \"%1\" is truncated: it ended while view 1 was "
                                "read")
                     .arg(path));
        QCOMPARE(read.layers, QList<int>({int(RgbeImage)}));
        QCOMPARE(read.bytes, data.left(16384));
        QCOMPARE(reader.viewsRead(), 1);
        QCOMPARE(configurationErrorOf([&] { reader.readNextViewImages(read.sink()); }),
                 QStringLiteral("No more lightfield-views available!"));
    }
};

QTEST_MAIN(LightfieldReaderGLTest)
#include "LightfieldReaderGLTest.moc"
