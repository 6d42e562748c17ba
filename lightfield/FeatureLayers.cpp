#include "FeatureLayers.h"

#include <QOpenGLTexture>

#include <utility>

FeatureLayers::~FeatureLayers()
{
    destroyTextures();
}

FeatureLayers::FeatureLayers(FeatureLayers &&other) noexcept
    : m_layers(std::move(other.m_layers))
    , m_parameters(std::move(other.m_parameters))
{
    other.m_layers.clear();
    other.m_parameters.clear();
}

FeatureLayers &FeatureLayers::operator=(FeatureLayers &&other) noexcept
{
    if (this != &other) {
        destroyTextures();
        m_layers = std::move(other.m_layers);
        m_parameters = std::move(other.m_parameters);
        other.m_layers.clear();
        other.m_parameters.clear();
    }
    return *this;
}

void FeatureLayers::destroyTextures()
{
    // Each key leaves the map before its texture is destroyed, so nothing can reach a texture
    // through this container while it goes.
    while (!m_layers.empty()) {
        OwnedTexture texture = std::move(m_layers.begin()->second);
        m_layers.erase(m_layers.begin());
    }
    m_parameters.clear();
}

bool FeatureLayers::hasLayer(int layer) const
{
    return m_layers.count(layer) != 0;
}

QOpenGLTexture *FeatureLayers::getLayer(int layer) const
{
    auto found = m_layers.find(layer);
    return found == m_layers.end() ? nullptr : found->second.get();
}

OwnedTexture FeatureLayers::setLayer(int layer, OwnedTexture texture)
{
    OwnedTexture &stored = m_layers[layer];
    std::swap(stored, texture);
    return texture;
}

OwnedTexture FeatureLayers::takeLayer(int layer)
{
    auto found = m_layers.find(layer);
    if (found == m_layers.end())
        return nullptr;
    OwnedTexture texture = std::move(found->second);
    m_layers.erase(found);
    return texture;
}

bool FeatureLayers::hasParameter(int parameter) const
{
    return m_parameters.count(parameter) != 0;
}

float FeatureLayers::getParameter(int parameter) const
{
    auto found = m_parameters.find(parameter);
    return found == m_parameters.end() ? 0.0f : found->second;
}

void FeatureLayers::setParameter(int parameter, float value)
{
    m_parameters[parameter] = value;
}

CameraView::CameraView(int width, int height, const FeatureLayers &right, const FeatureLayers &base,
                       const FeatureLayers &diagonal, const FeatureLayers &below)
    : m_height(height)
    , m_width(width)
    , m_drawn(0, 0, width, height)
    , m_right(right)
    , m_base(base)
    , m_below(below)
    , m_diagonal(diagonal)
{ }

std::unique_ptr<CameraView> cameraViewOfCell(int width, int height,
                                             const std::array<const FeatureLayers *, 4> &cell)
{
    const FeatureLayers *bySlot[5] = {};
    for (size_t i = 0; i < 4; ++i)
        bySlot[CameraView::cellSlots[i]] = cell[i];
    return std::make_unique<CameraView>(width, height, *bySlot[CameraView::Right],
                                        *bySlot[CameraView::Base], *bySlot[CameraView::Diagonal],
                                        *bySlot[CameraView::Below]);
}

const FeatureLayers &CameraView::slot(int slot) const
{
    switch (slot) {
    case Right:
        return m_right;
    case Base:
        return m_base;
    case Diagonal:
        return m_diagonal;
    case Below:
        return m_below;
    default:
        return m_own;
    }
}

QOpenGLTexture *CameraView::getLayer(int layer, int slot) const
{
    return this->slot(slot).getLayer(layer);
}

float CameraView::getParameter(int parameter, int slot) const
{
    return this->slot(slot).getParameter(parameter);
}
