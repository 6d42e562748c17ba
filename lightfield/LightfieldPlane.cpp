#include "LightfieldPlane.h"

#include "LightfieldReader.h"
#include "Rgbe.h"
#include "VectorClones.h"
#include "viewer/gpu/ConfigurationError.h"
#include "viewer/gpu/GpuPass.h"
#include "viewer/gpu/ScreenQuad.h"

#include <QOpenGLPixelTransferOptions>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

LightfieldPlane::LightfieldPlane(KeyList supportedLayers, KeyList supportedParameters, int width,
                                 int height, int columns, int rows, int viewSpacing,
                                 int reservedValue, int maxDisparity)
    : m_supportedLayers(std::move(supportedLayers))
    , m_supportedParameters(std::move(supportedParameters))
    , m_viewSpacing(viewSpacing)
    , m_reservedValue(reservedValue)
    , m_width(width)
    , m_height(height)
    , m_columns(columns)
    , m_rows(rows)
    , m_maxDisparity(maxDisparity)
{
    m_views.resize(static_cast<size_t>(columns));
    for (auto &column : m_views)
        column.resize(static_cast<size_t>(rows));
}

void LightfieldPlane::setFeatureLayer(int column, int row, int layer, OwnedTexture &&texture)
{
    if (!supportsLayer(layer))
        raiseConfigurationError("LightfieldPlane does not support this FeatureLayer");
    // The camera samples outside the views when the window is larger than a view; the margins
    // must come out transparent black.
    texture->setWrapMode(QOpenGLTexture::ClampToBorder);
    texture->setBorderColor(0.0f, 0.0f, 0.0f, 0.0f);
    // A stage stores each layer of a view once; a second one would replace the first.
    m_views[column][row].setLayer(layer, std::move(texture));
}

void LightfieldPlane::setParameter(int column, int row, int parameter, float value)
{
    if (!listContains(m_supportedParameters, parameter))
        raiseConfigurationError("LightfieldPlane does not support this Parameter");
    m_views[column][row].setParameter(parameter, value);
}

const FeatureLayers &LightfieldPlane::featureLayersAt(int column, int row) const
{
    return m_views[column][row];
}

QOpenGLTexture *LightfieldPlane::layerAt(int column, int row, int layer) const
{
    return m_views[column][row].getLayer(layer);
}

namespace {

// Converts the disparity image the reader has just read and stores it and its tiles' largest
// disparities at (column, row) of the plane. Returns the stored map, or null when the file has no
// disparity.
QOpenGLTexture *storeDisparity(LightfieldPlane &plane, const LightfieldReader &reader,
                               std::vector<std::uint16_t> &halfFloats, int column, int row)
{
    if (!reader.hasDisparity())
        return nullptr;
    const unsigned char *bytes = reader.lastDisparityBytes().data();
    const int width = reader.width(), height = reader.height();
    plane.setFeatureLayer(
        column, row, DisparityTiles,
        uploadDisparityTiles(disparityTilesOf(bytes, width, height), width, height));
    plane.setFeatureLayer(column, row, Disparity,
                          uploadDisparity(bytes, width, height, halfFloats));
    return plane.layerAt(column, row, Disparity);
}

class LdrStage : public PlaneStage
{
public:
    LdrStage()
        : PlaneStage(LdrRgb)
    { }

    void storeView(ViewToStore &view) override
    {
        view.plane.setFeatureLayer(view.column, view.row, LdrRgb, view.read.takeLayer(LdrRgb));
    }
};

} // namespace

std::unique_ptr<LightfieldPlane> buildPlane(LightfieldReader &reader, PlaneStage &stage,
                                            const PlaneProgressReport &progress)
{
    KeyList layers {stage.colourLayer()};
    if (reader.hasDisparity()) {
        layers.push_back(Disparity);
        layers.push_back(DisparityTiles);
    }
    auto plane = std::make_unique<LightfieldPlane>(
        std::move(layers), stage.parameters(), reader.width(), reader.height(), reader.columns(),
        reader.rows(), reader.viewSpacing(), reader.reservedValue(), reader.maxDisparity());

    PlaneProgress done;
    done.viewCount = reader.rows() * reader.columns();
    done.sweepCount = stage.needsSecondSweep() ? 2 : 1;
    const auto report = [&] {
        if (progress)
            progress(done);
        ++done.view;
    };

    // Room for a view's decoded disparity, kept from view to view: a fresh buffer would be
    // zero-filled and mapped afresh from the system every time.
    std::vector<std::uint16_t> disparities;
    // The framebuffer serves the construction only.
    const Framebuffer framebuffer = Framebuffer::generate();
    FramebufferPasses passes(framebuffer);
    for (int row = 0; row < reader.rows(); ++row) {
        for (int column = 0; column < reader.columns(); ++column) {
            report();
            FeatureLayers read = reader.nextView(LightfieldReader::DisparityImage::BytesOnly);
            QOpenGLTexture *disparity = storeDisparity(*plane, reader, disparities, column, row);
            ViewToStore view {*plane, column, row, read, disparity, reader.lastColourBytes()};
            stage.storeView(view);
        }
    }
    if (done.sweepCount > 1) {
        done.view = 0;
        done.sweep = 1;
        for (int row = 0; row < reader.rows(); ++row) {
            for (int column = 0; column < reader.columns(); ++column) {
                report();
                stage.finishView(*plane, column, row);
            }
        }
    }
    return plane;
}

std::unique_ptr<PlaneStage> makeLdrStage()
{
    return std::make_unique<LdrStage>();
}

std::unique_ptr<LightfieldPlane> buildLdrPlane(LightfieldReader *reader,
                                               const PlaneProgressReport &progress)
{
    return buildPlane(*reader, *makeLdrStage(), progress);
}

namespace {

// The half float nearest a value from 0 to the largest half float, ties to even. Both roundings
// are worked out and one chosen, so that a loop of these vectorises. The driver's own conversion
// of a float upload takes longer than the view's whole disparity pass.
inline std::uint16_t halfFloatOf(float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint32_t normal = (bits + 0x0fffu + ((bits >> 13) & 1u) - 0x38000000u) >> 13;
    // Below 2^-14 a half float counts in steps of 2^-24: the value in those steps, below 1024,
    // rounded by adding and taking away 2^23, where a float's steps are whole numbers.
    constexpr float smallestNormal = 6.103515625e-05f;
    const float steps = (value < smallestNormal ? value : smallestNormal) * 16777216.0f;
    const float rounded = (steps + 8388608.0f) - 8388608.0f;
    const std::uint32_t subnormal = std::uint32_t(std::int32_t(rounded));
    return std::uint16_t(bits < 0x38800000u ? subnormal : normal);
}

// Disparity is stored grey: the red mantissa and the exponent carry it.
inline float disparityOf(const unsigned char *texel, const std::array<float, 256> &scale)
{
    return float(texel[0]) * scale[texel[3]];
}

// Held at the largest half float, so that no texel of a map holds infinity.
WIDE_VECTOR_CLONES
void halfFloatDisparities(const unsigned char *rgbe, size_t count, std::uint16_t *halfFloats)
{
    constexpr float largestHalf = 65504.0f;
    const std::array<float, 256> &scale = rgbeSingleScales();
    for (size_t i = 0; i < count; ++i) {
        const float value = disparityOf(rgbe + 4 * i, scale);
        halfFloats[i] = halfFloatOf(largestHalf < value ? largestHalf : value);
    }
}

WIDE_VECTOR_CLONES
void decodeDisparities(const unsigned char *rgbe, size_t count, float *decoded)
{
    const std::array<float, 256> &scale = rgbeSingleScales();
    for (size_t i = 0; i < count; ++i)
        decoded[i] = disparityOf(rgbe + 4 * i, scale);
}

// Raises each tile's largest disparity to the largest of one row of the image. The row is decoded
// first and its tiles taken a column of the tile at a time, so the loop over the tiles vectorises
// (the decode does not: the compiler finds the table lookups too dear to emulate).
WIDE_VECTOR_CLONES
void raiseTilesToRow(const unsigned char *rgbe, int width, float *decoded, float *tileRow)
{
    decodeDisparities(rgbe, size_t(width), decoded);
    const int wholeTiles = width / disparityTileSize;
    for (int column = 0; column < disparityTileSize; ++column) {
        for (int tile = 0; tile < wholeTiles; ++tile) {
            const float value = decoded[tile * disparityTileSize + column];
            tileRow[tile] = tileRow[tile] < value ? value : tileRow[tile];
        }
    }
    for (int x = wholeTiles * disparityTileSize; x < width; ++x)
        tileRow[wholeTiles] = std::max(tileRow[wholeTiles], decoded[x]);
}

} // namespace

OwnedTexture uploadDisparity(const unsigned char *rgbe, int width, int height,
                             std::vector<std::uint16_t> &halfFloats)
{
    halfFloats.resize(size_t(width) * size_t(height));
    halfFloatDisparities(rgbe, halfFloats.size(), halfFloats.data());

    auto texture = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    texture->setFormat(QOpenGLTexture::R16F);
    texture->setSize(width, height);
    setPassOutputSampling(*texture);
    texture->allocateStorage(QOpenGLTexture::Red, QOpenGLTexture::Float16);
    QOpenGLPixelTransferOptions unpacking;
    unpacking.setAlignment(2);
    texture->setData(QOpenGLTexture::Red, QOpenGLTexture::Float16,
                     static_cast<const void *>(halfFloats.data()), &unpacking);
    return texture;
}

OwnedTexture convertDisparity(OwnedTexture source, int width, int height)
{
    return runPass({"disparity conversion", shaderProgram(ShaderProgram::RgbeToFloat), width,
                    height, PassFormat::R16F},
                   {{source.get(), 0}}, [](QOpenGLShaderProgram &program) {
                       program.setUniformValue("textureImage", 0);
                   });
}

std::vector<float> disparityTilesOf(const unsigned char *rgbe, int width, int height)
{
    const int columns = (width + disparityTileSize - 1) / disparityTileSize;
    const int rows = (height + disparityTileSize - 1) / disparityTileSize;
    std::vector<float> largest(size_t(columns) * size_t(rows), 0.0f);
    // Every texel is decoded, as a file need not hold its mantissas normalised.
    std::vector<float> decoded(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        raiseTilesToRow(rgbe + size_t(y) * size_t(width) * 4, width, decoded.data(),
                        &largest[size_t(y / disparityTileSize) * size_t(columns)]);
    }
    return largest;
}

OwnedTexture uploadDisparityTiles(const std::vector<float> &tiles, int width, int height)
{
    auto texture = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    texture->setFormat(QOpenGLTexture::R32F);
    texture->setSize((width + disparityTileSize - 1) / disparityTileSize,
                     (height + disparityTileSize - 1) / disparityTileSize);
    texture->setMinMagFilters(QOpenGLTexture::Nearest, QOpenGLTexture::Nearest);
    texture->allocateStorage(QOpenGLTexture::Red, QOpenGLTexture::Float32);
    texture->setData(QOpenGLTexture::Red, QOpenGLTexture::Float32, tiles.data());
    return texture;
}
