#include "LightfieldCamera.h"

#include "viewer/ScreenQuad.h"
#include "viewer/ShaderLibrary.h"

#include <QDebug>
#include <QOpenGLShaderProgram>

#include <algorithm>
#include <cmath>

namespace {

int clampPosition(int value, int low, int high)
{
    // Not std::clamp: with a single column or row the upper bound lies below the lower one, and
    // then the lower bound wins.
    return std::max(low, std::min(value, high));
}

} // namespace

SimpleCamera::SimpleCamera(PipelineOptions options, const LightfieldPlane *plane)
    : m_plane(plane)
{
    (void)options;
    initializeOpenGLFunctions();
    glGenFramebuffers(1, &m_framebuffer);
}

SimpleCamera::~SimpleCamera()
{
    // The camera lives as long as its window; without that window's context there is nothing to
    // release the framebuffer from.
    if (QOpenGLContext::currentContext())
        glDeleteFramebuffers(1, &m_framebuffer);
}

std::unique_ptr<LightfieldCamera> createCamera(PipelineOptions options,
                                               const LightfieldPlane *plane)
{
    return std::make_unique<SimpleCamera>(std::move(options), plane);
}

std::unique_ptr<CameraView> SimpleCamera::render(int globalX, int globalY, int width, int height)
{
    (void)globalX;
    (void)globalY;
    // One window pixel per view pixel, centred: a window wider than the view reaches outside
    // [0, 1], where the plane's textures are transparent black.
    const float sx = float(width) / float(m_plane->width());
    const float sy = float(height) / float(m_plane->height());
    const float gx = float((1.0 - double(sx)) * 0.5);
    const float gy = float((1.0 - double(sy)) * 0.5);
    const float corners[4][2] = {{gx, gy}, {gx, gy + sy}, {gx + sx, gy + sy}, {gx + sx, gy}};
    const float spacing = float(m_plane->viewSpacing());
    return renderView(width, height, corners, float(m_positionX) / spacing,
                      float(m_positionY) / spacing, true);
}

void SimpleCamera::mouseMoved(int dx, int dy, int button)
{
    if (button != 1)
        return;
    const int spacing = m_plane->viewSpacing();
    // The last column and row are never reached exactly, so the cell always has a right and a
    // lower neighbour when the grid has them.
    m_positionX = clampPosition(m_positionX + dx, 1, (m_plane->columns() - 1) * spacing - 1);
    m_positionY = clampPosition(m_positionY + dy, 1, (m_plane->rows() - 1) * spacing - 1);
}

std::unique_ptr<CameraView> SimpleCamera::renderView(int width, int height,
                                                     const float corners[4][2], float x, float y,
                                                     bool useDisparity)
{
    const LightfieldPlane &plane = *m_plane;
    const bool warp = plane.supportsLayer(Disparity);
    const int lastColumn = plane.columns() - 1;
    const int lastRow = plane.rows() - 1;

    // With disparity the cell's base view is the one up and left of the position; without, the
    // nearest view is shown, kept inside the grid when a single column or row rounds outside it.
    int ix = 0;
    int iy = 0;
    if (warp) {
        ix = int(std::floor(x));
        iy = int(std::floor(y));
    } else {
        ix = std::clamp(int(std::lround(x)), 0, lastColumn);
        iy = std::clamp(int(std::lround(y)), 0, lastRow);
    }
    const float dx = x - float(ix);
    const float dy = float(iy) - y;

    qDebug() << "positionX:" << x << " positionY:" << y;

    int disparityRange = 0;
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);

    const int c0 = std::min(ix, lastColumn);
    const int c1 = std::min(ix + 1, lastColumn);
    const int r0 = std::min(iy, lastRow);
    const int r1 = std::min(iy + 1, lastRow);
    const FeatureLayers *views[4] = {&plane.featureLayersAt(c0, r0), &plane.featureLayersAt(c1, r0),
                                     &plane.featureLayersAt(c1, r1),
                                     &plane.featureLayersAt(c0, r1)};
    auto view =
        std::make_unique<CameraView>(width, height, *views[1], *views[0], *views[2], *views[3]);
    view->setParameter(ViewOffsetX, dx);
    view->setParameter(ViewOffsetY, dy);
    interpolateParameters(*view, plane, dx, dy);

    const bool eightBit = plane.supportsLayer(LdrRgb);
    const int colourLayer = eightBit ? LdrRgb : TonemappedRgb;
    QOpenGLTexture *output = eightBit
        ? createAttachedTexture(width, height, QOpenGLTexture::RGBA8_UNorm, 0, QOpenGLTexture::RGBA,
                                QOpenGLTexture::UInt32_RGBA8)
        : createAttachedTexture(width, height, QOpenGLTexture::RGBA16F, 0, QOpenGLTexture::RGBA,
                                QOpenGLTexture::Float16);

    QOpenGLTexture *colour[4] = {};
    QOpenGLTexture *disparity[4] = {};
    GLint colourUnits[4] = {0, 0, 0, 0};
    const GLint disparityUnits[4] = {1, 3, 5, 7};
    if (warp) {
        if (useDisparity)
            disparityRange = plane.maxDisparity();
        for (int i = 0; i < 4; ++i) {
            colour[i] = views[i]->getLayer(colourLayer);
            disparity[i] = views[i]->getLayer(Disparity);
            colourUnits[i] = 2 * i;
            colour[i]->bind(GLuint(2 * i), QOpenGLTexture::DontResetTextureUnit);
            disparity[i]->bind(GLuint(2 * i + 1), QOpenGLTexture::DontResetTextureUnit);
            colour[i]->setMinMagFilters(QOpenGLTexture::Linear, QOpenGLTexture::Linear);
            disparity[i]->setMinMagFilters(QOpenGLTexture::Linear, QOpenGLTexture::Linear);
        }
    } else {
        QOpenGLTexture *nearest = plane.layerAt(ix, iy, colourLayer);
        nearest->bind(0, QOpenGLTexture::DontResetTextureUnit);
        for (int i = 0; i < 4; ++i)
            colour[i] = nearest;
    }

    // Without a neighbour to the right or below (a single column or row) there is nothing to
    // interpolate towards: the offset in that direction would only extrapolate the one view.
    const float searchX = c1 == c0 ? 0.0f : dx;
    const float searchY = r1 == r0 ? 0.0f : dy;

    QOpenGLShaderProgram &program = shaderProgram(ShaderProgram::SimpleWarp);
    program.bind();
    program.setUniformValueArray("input1[0]", colourUnits, 4);
    program.setUniformValue("searchvectorX", searchX);
    program.setUniformValue("searchvectorY", searchY);
    program.setUniformValue("horizontalResolution", plane.width());
    program.setUniformValue("verticalResolution", plane.height());
    program.setUniformValue("maxDisparity", disparityRange);
    if (warp)
        program.setUniformValueArray("disparity[0]", disparityUnits, 4);

    const GLenum drawBuffer = GL_COLOR_ATTACHMENT0;
    glDrawBuffers(1, &drawBuffer);
    drawTexturedQuad(width, height, corners);

    glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, 0, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    program.release();

    for (int i = 0; i < 4; ++i) {
        colour[i]->release(GLuint(warp ? 2 * i : 0), QOpenGLTexture::DontResetTextureUnit);
        if (warp)
            disparity[i]->release(GLuint(2 * i + 1), QOpenGLTexture::DontResetTextureUnit);
    }
    glActiveTexture(GL_TEXTURE0);

    view->setLayer(colourLayer, output);
    return view;
}

void interpolateParameters(CameraView &view, const LightfieldPlane &plane, float dx, float dy)
{
    const double ax = std::abs(double(dx));
    const double ay = std::abs(double(dy));
    const float weightBase = float((1.0 - ay) * (1.0 - ax));
    const float weightRight = float((1.0 - ay) * (1.0 - std::abs(double(dx) - 1.0)));
    const float weightDiagonal =
        float((1.0 - std::abs(double(dy) + 1.0)) * (1.0 - std::abs(double(dx) - 1.0)));
    const float weightBelow = float((1.0 - std::abs(double(dy) + 1.0)) * (1.0 - ax));

    // Summed in the order right, base, diagonal, below.
    const float weights[4] = {weightRight, weightBase, weightDiagonal, weightBelow};
    const int sources[4] = {CameraView::Right, CameraView::Base, CameraView::Diagonal,
                            CameraView::Below};

    for (int parameter : plane.supportedParameters()) {
        float blended = 0.0f;
        if (parameter == Contrast) {
            float logSum = 0.0f;
            for (int i = 0; i < 4; ++i) {
                // A view without weight contributes a factor of 1, also when its value is 0 and
                // its logarithm is -inf.
                if (weights[i] != 0.0f)
                    logSum += weights[i] * std::log(view.getParameter(parameter, sources[i]));
            }
            blended = std::exp(logSum);
        } else {
            for (int i = 0; i < 4; ++i)
                blended += weights[i] * view.getParameter(parameter, sources[i]);
        }
        view.setParameter(parameter, blended);
    }
}
