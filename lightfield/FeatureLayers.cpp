#include "FeatureLayers.h"

#include <QOpenGLTexture>

FeatureLayers::~FeatureLayers()
{
    deleteTextures();
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
        deleteTextures();
        m_layers = std::move(other.m_layers);
        m_parameters = std::move(other.m_parameters);
        other.m_layers.clear();
        other.m_parameters.clear();
    }
    return *this;
}

void FeatureLayers::deleteTextures()
{
    // Erase each key before deleting its texture, so that nothing can reach a dangling pointer
    // through this container while a texture's destructor runs.
    std::vector<int> keys;
    keys.reserve(m_layers.size());
    for (const auto &entry : m_layers)
        keys.push_back(entry.first);
    for (int key : keys) {
        auto found = m_layers.find(key);
        if (found == m_layers.end())
            continue;
        QOpenGLTexture *texture = found->second;
        m_layers.erase(found);
        // QOpenGLTexture's destructor releases the GL name only if it still has one, so a texture
        // whose storage a pass destroyed already is deleted safely.
        delete texture;
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
    return found == m_layers.end() ? nullptr : found->second;
}

void FeatureLayers::setLayer(int layer, QOpenGLTexture *texture)
{
    m_layers[layer] = texture;
}

QOpenGLTexture *FeatureLayers::takeLayer(int layer)
{
    auto found = m_layers.find(layer);
    if (found == m_layers.end())
        return nullptr;
    QOpenGLTexture *texture = found->second;
    m_layers.erase(found);
    return texture;
}

bool FeatureLayers::holdsTexture(const QOpenGLTexture *texture) const
{
    for (const auto &entry : m_layers) {
        if (entry.second == texture)
            return true;
    }
    return false;
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
    , m_right(right)
    , m_base(base)
    , m_below(below)
    , m_diagonal(diagonal)
{ }

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
