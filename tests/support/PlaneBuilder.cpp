#include "PlaneBuilder.h"

#include "lightfield/Rgbe.h"

#include <QOpenGLPixelTransferOptions>

#include <algorithm>
#include <cmath>

namespace {

OwnedTexture upload(int width, int height, QOpenGLTexture::TextureFormat format,
                    QOpenGLTexture::PixelFormat pixelFormat, QOpenGLTexture::PixelType type,
                    const void *data)
{
    auto texture = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    texture->setFormat(format);
    texture->setSize(width, height);
    texture->setMinMagFilters(QOpenGLTexture::Nearest, QOpenGLTexture::Nearest);
    texture->allocateStorage(pixelFormat, type);
    QOpenGLPixelTransferOptions options;
    options.setAlignment(1);
    texture->setData(pixelFormat, type, data, &options);
    return texture;
}

} // namespace

std::vector<std::uint8_t> rgbeAcrossTheHalfFloatRange()
{
    const float colours[][3] = {
        {0, 0, 0},
        {1e-7f, 2e-6f, 1e-6f},
        {0.01f, 0.012f, 0.01f},
        {0.3f, 0.2f, 0.1f},
        {1, 1, 1},
        {20, 5, 1},
        {100, 90, 100},
        {1e4f, 1e4f, 1e4f},
        {1e5f, 2e5f, 3e4f},
        {5, 0, 0.5f},
        {0, 0.5f, 0},
        {3e6f, 1, 1},
    };
    std::vector<std::uint8_t> texels;
    for (const float *colour : colours) {
        std::uint8_t texel[4];
        encodeRgbe(colour[0], colour[1], colour[2], texel);
        texels.insert(texels.end(), texel, texel + 4);
    }
    return texels;
}

OwnedTexture uploadRgba8(int width, int height, const std::vector<std::uint8_t> &texels)
{
    return upload(width, height, QOpenGLTexture::RGBA8_UNorm, QOpenGLTexture::RGBA,
                  QOpenGLTexture::UInt8, texels.data());
}

OwnedTexture uploadRgba16F(int width, int height, const std::vector<float> &texels)
{
    return upload(width, height, QOpenGLTexture::RGBA16F, QOpenGLTexture::RGBA,
                  QOpenGLTexture::Float32, texels.data());
}

OwnedTexture uploadR16F(int width, int height, const std::vector<float> &values)
{
    return upload(width, height, QOpenGLTexture::R16F, QOpenGLTexture::Red, QOpenGLTexture::Float32,
                  values.data());
}

OwnedTexture disparityTilesOfMap(int width, int height, const std::vector<float> &disparity)
{
    const int columns = (width + disparityTileSize - 1) / disparityTileSize;
    const int rows = (height + disparityTileSize - 1) / disparityTileSize;
    std::vector<float> largest(size_t(columns) * size_t(rows), 0.0f);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float &tile = largest[size_t(y / disparityTileSize) * columns + x / disparityTileSize];
            tile = std::max(tile, disparity[size_t(y) * width + x]);
        }
    }
    return uploadDisparityTiles(largest, width, height);
}

std::unique_ptr<LightfieldPlane> makePlane(const PlaneDescription &description)
{
    KeyList layers {description.halfFloat ? TonemappedRgb : LdrRgb};
    if (description.disparity) {
        layers.push_back(Disparity);
        layers.push_back(DisparityTiles);
    }
    auto plane = std::make_unique<LightfieldPlane>(
        layers, description.parameters, description.width, description.height, description.columns,
        description.rows, description.viewSpacing, 0, description.maxDisparity);
    const size_t texels = size_t(description.width) * size_t(description.height);
    for (int row = 0; row < description.rows; ++row) {
        for (int column = 0; column < description.columns; ++column) {
            std::vector<float> colour(texels * 4);
            std::vector<std::uint8_t> bytes(texels * 4);
            std::vector<float> disparity(texels);
            for (int y = 0; y < description.height; ++y) {
                for (int x = 0; x < description.width; ++x) {
                    const size_t i = size_t(y) * description.width + x;
                    description.colour(column, row, x, y, &colour[i * 4]);
                    for (int channel = 0; channel < 4; ++channel) {
                        bytes[i * 4 + channel] = std::uint8_t(
                            std::lround(std::clamp(colour[i * 4 + channel], 0.0f, 1.0f) * 255.0f));
                    }
                    if (description.disparity)
                        disparity[i] = description.disparity(column, row, x, y);
                }
            }
            if (description.halfFloat) {
                plane->setFeatureLayer(
                    column, row, TonemappedRgb,
                    uploadRgba16F(description.width, description.height, colour));
            } else {
                plane->setFeatureLayer(column, row, LdrRgb,
                                       uploadRgba8(description.width, description.height, bytes));
            }
            if (description.disparity) {
                plane->setFeatureLayer(
                    column, row, Disparity,
                    uploadR16F(description.width, description.height, disparity));
                plane->setFeatureLayer(
                    column, row, DisparityTiles,
                    disparityTilesOfMap(description.width, description.height, disparity));
            }
        }
    }
    return plane;
}
