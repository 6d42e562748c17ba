#include "LightfieldReader.h"

#include "viewer/gpu/ConfigurationError.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLTexture>

#include <cerrno>
#include <cstring>
#include <vector>

LightfieldReader::LightfieldReader(QUrl file)
{
    const QString path = file.toLocalFile();
    m_fileName = path.toStdString();

    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        raiseConfigurationError("Cannot open lightfield file \"" + m_fileName + "\": no such file");
    }
    if (!info.isFile()) {
        raiseConfigurationError("Cannot open lightfield file \"" + m_fileName
                                + "\": not a regular file");
    }

    m_stream = std::make_unique<std::ifstream>(QFile::encodeName(path).toStdString(),
                                               std::ios::in | std::ios::binary);
    if (!m_stream->is_open()) {
        raiseConfigurationError("Cannot open lightfield file \"" + m_fileName
                                + "\": " + std::strerror(errno));
    }

    m_header = readLightfieldHeader(*m_stream, info.size(), m_fileName);
}

LightfieldReader::~LightfieldReader() = default;

FeatureLayers LightfieldReader::nextView(DisparityImage disparity)
{
    requireViewsLeft();
    requireTextureSizeWithinDriverLimit();

    FeatureLayers view;
    readNextViewImages(
        [this, &view, disparity](FeatureLayer layer, const std::vector<unsigned char> &bytes) {
            if (layer != RgbeDisparity || disparity == DisparityImage::Uploaded)
                view.setLayer(layer, upload(bytes));
        });
    return view;
}

void LightfieldReader::readNextViewImages(const ImageSink &sink)
{
    requireViewsLeft();
    ++m_viewsRead;

    // Sized after the view count was checked against the file, never before.
    m_buffer.resize(static_cast<size_t>(m_header.viewBytes));
    readImage(m_buffer);
    sink(m_header.isHdr ? RgbeImage : LdrRgb, m_buffer);
    if (m_header.hasDisparity) {
        m_disparityBuffer.resize(static_cast<size_t>(m_header.viewBytes));
        readImage(m_disparityBuffer);
        sink(RgbeDisparity, m_disparityBuffer);
    }
}

void LightfieldReader::requireViewsLeft() const
{
    if (m_viewsRead >= m_header.columns * m_header.rows)
        raiseConfigurationError("No more lightfield-views available!");
}

void LightfieldReader::requireTextureSizeWithinDriverLimit() const
{
    QOpenGLContext *context = QOpenGLContext::currentContext();
    if (!context)
        raiseConfigurationError("Reading a lightfield view needs a current OpenGL context");
    GLint maxTextureSize = 0;
    context->functions()->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    if (m_header.width > maxTextureSize || m_header.height > maxTextureSize) {
        raiseConfigurationError("Lightfield file \"" + m_fileName + "\" has views of "
                                + std::to_string(m_header.width) + " x "
                                + std::to_string(m_header.height)
                                + " pixels; this OpenGL driver takes textures of at most "
                                + std::to_string(maxTextureSize) + " pixels per side");
    }
}

void LightfieldReader::readImage(std::vector<unsigned char> &buffer)
{
    // The header was checked against the file's size, but the file may have shrunk since: never
    // hand out bytes that were not read.
    m_stream->read(reinterpret_cast<char *>(buffer.data()), m_header.viewBytes);
    if (m_stream->gcount() != m_header.viewBytes) {
        raiseConfigurationError("Lightfield file \"" + m_fileName
                                + "\" is truncated: it ended while view "
                                + std::to_string(m_viewsRead) + " was read");
    }
}

OwnedTexture LightfieldReader::upload(const std::vector<unsigned char> &bytes) const
{
    // Pixel rows are stored bottom-up, so the first stored row becomes texture row 0 as it is.
    // QOpenGLTexture copies the pixels into GL storage before it returns, so the caller may reuse
    // the buffer.
    const QImage image(bytes.data(), m_header.width, m_header.height, QImage::Format_RGBA8888);
    auto texture = std::make_unique<QOpenGLTexture>(image, QOpenGLTexture::DontGenerateMipMaps);
    // Without mipmaps the default minification filter would leave the texture incomplete on
    // drivers without immutable storage.
    texture->setMinMagFilters(QOpenGLTexture::Nearest, QOpenGLTexture::Nearest);
    return texture;
}
