#include "FieldPresenter.h"

#include "GpuContext.h"
#include "GpuDevice.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLFunctions_4_3_Core>
#include <QOpenGLTextureBlitter>
#include <QOpenGLVersionFunctionsFactory>
#include <QOpenGLVertexArrayObject>
#include <QPaintEvent>
#include <algorithm>
#include <cmath>

namespace {

// Loads a picture into a texture for the overlay blitter, which fades by scaling
// alpha alone and so wants colours that are not premultiplied.
void uploadOverlay(QOpenGLFunctions_4_3_Core& gl, unsigned int texture, const QImage& image) {
    const QImage straight = image.convertToFormat(QImage::Format_RGBA8888);
    gl.glBindTexture(GL_TEXTURE_2D, texture);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(straight.bytesPerLine() / 4));
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, straight.width(), straight.height(), 0, GL_RGBA,
                    GL_UNSIGNED_BYTE, straight.constBits());
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
}

unsigned int makeOverlayTexture(QOpenGLFunctions_4_3_Core& gl) {
    GLuint texture = 0;
    gl.glGenTextures(1, &texture);
    gl.glBindTexture(GL_TEXTURE_2D, texture);
    // Overlays are drawn pixel for pixel.
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

unsigned int makeSampler(QOpenGLFunctions_4_3_Core& gl, GLint filter) {
    GLuint sampler = 0;
    gl.glGenSamplers(1, &sampler);
    gl.glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, filter);
    gl.glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, filter);
    gl.glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return sampler;
}

} // namespace

bool FieldPresenter::PresenterState::update(const Description& from) {
    bool changed = false;
    auto take = [&changed](auto& stored, const auto& incoming) {
        if (!(stored == incoming)) {
            stored = incoming;
            changed = true;
        }
    };
    // shared_ptr equality is identity: another object with equal texels still counts.
    take(leftTexture, from.leftTexture);
    take(rightTexture, from.rightTexture);
    take(frameGeneration, from.frameGeneration);
    take(isStereoscopic, from.isStereoscopic);
    take(stereoLayout, from.stereoLayout);
    take(stereoPair, from.stereoPair);
    take(isColorInverted, from.isColorInverted);
    take(displayGamma, from.displayGamma);
    take(displayBlackLift, from.displayBlackLift);
    take(illuminantTint, from.illuminantTint);
    return changed;
}

std::array<double, 3> FieldPresenter::illuminantColor(double hue) {
    if (!std::isfinite(hue))
        hue = 0;
    hue = std::clamp(hue - std::floor(hue), 0.0, 1.0);
    const QColor c = QColor::fromHsvF(float(hue), 0.85f, 1.0f);
    return {c.redF(), c.greenF(), c.blueF()};
}

FieldPresenter::FieldPresenter()
    : QOpenGLWindow(gpucontext::shareRoot(), QOpenGLWindow::NoPartialUpdate) {
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setVersion(4, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    // Under Wayland this window is a sub-surface of the main window. Qt 6.4
    // exposes a sub-surface only when its geometry is set after its parent's
    // first configure, or when a frame callback comes back after one timed out
    // (100 ms): one mapped before the parent's configure is never exposed, and
    // one whose frame callback the compositor holds back (weston repaints an
    // output only when something on it changed) counts as hidden until the
    // pointer passes. So here the presenter draws whenever it is visible, paced
    // by the display link alone, and its swap does not wait for a frame callback.
    m_pacesItself = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    if (m_pacesItself)
        format.setSwapInterval(0);
    setFormat(format);
    // The keyboard stays with the widgets around it (the key catcher, menus).
    setFlag(Qt::WindowDoesNotAcceptFocus);
    m_completionTimer.setSingleShot(true);
    connect(&m_completionTimer, &QTimer::timeout, this, &FieldPresenter::checkDrawCompletion);
    connect(this, &QOpenGLWindow::frameSwapped, this, &FieldPresenter::checkDrawCompletion);
}

FieldPresenter::~FieldPresenter() {
    if (m_gl) {
        makeCurrent();
        releaseGL();
        doneCurrent();
    }
}

void FieldPresenter::releaseGL() {
    if (m_fence)
        m_gl->glDeleteSync(static_cast<GLsync>(m_fence));
    m_fence = nullptr;
    for (unsigned int* sampler : {&m_linearSampler, &m_nearestSampler}) {
        if (*sampler)
            m_gl->glDeleteSamplers(1, sampler);
        *sampler = 0;
    }
    for (OverlayTexture& slot : m_overlays) {
        if (slot.texture)
            m_gl->glDeleteTextures(1, &slot.texture);
        slot.texture = 0;
        slot.uploadedKey = 0;
    }
    if (m_readFramebuffer)
        m_gl->glDeleteFramebuffers(1, &m_readFramebuffer);
    m_readFramebuffer = 0;
    for (unsigned int* texture : {&m_borderTexture, &m_surroundTexture}) {
        if (*texture)
            m_gl->glDeleteTextures(1, texture);
        *texture = 0;
    }
    m_uploadedBorder = QColor();
    if (m_blitter)
        m_blitter->destroy();
    m_blitter.reset();
    m_vao.reset();
}

void FieldPresenter::updateView(const Description& description) {
    if (m_presenterState.update(description))
        setNeedsDisplay();
}

void FieldPresenter::setOverlay(OverlaySlot slot, const Overlay& overlay) {
    Overlay& held = m_overlays[slot].overlay;
    const bool same = held.image.cacheKey() == overlay.image.cacheKey() &&
                      held.position == overlay.position && held.opacity == overlay.opacity;
    const bool bothEmpty = held.image.isNull() && overlay.image.isNull();
    held = overlay;
    if (!same && !bothEmpty)
        setNeedsDisplay();
}

void FieldPresenter::setBorderColor(const QColor& color) {
    if (color == m_borderColor)
        return;
    m_borderColor = color;
    setNeedsDisplay();
}

void FieldPresenter::setNeedsDisplay() {
    // A draw asked for while a frame is on the GPU is kept, not dropped, so the
    // newest picture (the last animation frame, a late setting) still shows.
    if (m_presenterState.isDrawInFlight) {
        m_displayPending = true;
        return;
    }
    // Everything that changes in one event-loop turn (a new frame, its tint, the
    // frame rate in the status bar) goes into one draw. That draw comes after the
    // work already queued, so a render pass waiting to start starts first.
    if (std::exchange(m_drawQueued, true))
        return;
    QMetaObject::invokeMethod(this, &FieldPresenter::drawQueued, Qt::QueuedConnection);
}

void FieldPresenter::drawQueued() {
    m_drawQueued = false;
    if (m_presenterState.isDrawInFlight) {
        m_displayPending = true;
        return;
    }
    // Painted now rather than on the platform's next update tick, which would
    // only add its delay to every frame; a window that is not exposed paints
    // all of itself once it is.
    if (isDrawable()) {
        QPaintEvent paint(QRect(QPoint(), size()));
        m_drawingOwnFrame = true;
        QCoreApplication::sendEvent(this, &paint);
        m_drawingOwnFrame = false;
    }
}

bool FieldPresenter::isDrawable() const {
    return isExposed() || (m_pacesItself && handle() && isVisible());
}

bool FieldPresenter::event(QEvent* event) {
    const bool handled = QOpenGLWindow::event(event);
    // No expose event may follow a show or a resize here.
    if (m_pacesItself && (event->type() == QEvent::Show || event->type() == QEvent::Resize))
        setNeedsDisplay();
    return handled;
}

void FieldPresenter::initializeGL() {
    m_gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_4_3_Core>(context());
    if (!m_gl)
        return;
    // Creating the shared GPU context may switch contexts on this thread.
    m_program = GpuDevice::shared().blitProgram();
    m_tintProgram = GpuDevice::shared().blitTintProgram();
    m_stereoProgram = GpuDevice::shared().stereoProgram();
    makeCurrent();
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        releaseGL();
        doneCurrent();
        m_gl = nullptr;
    });
    // Vertex arrays belong to one context, so the window keeps its own empty one.
    m_vao = std::make_unique<QOpenGLVertexArrayObject>();
    m_vao->create();
    m_linearSampler = makeSampler(*m_gl, GL_LINEAR);
    m_nearestSampler = makeSampler(*m_gl, GL_NEAREST);
    m_gl->glGenFramebuffers(1, &m_readFramebuffer);
    for (OverlayTexture& slot : m_overlays)
        slot.texture = makeOverlayTexture(*m_gl);
    m_borderTexture = makeOverlayTexture(*m_gl);
    m_surroundTexture = makeOverlayTexture(*m_gl);
    QImage surround(1, 1, QImage::Format_RGBA8888);
    surround.fill(QColor(kPairSurroundGrey, kPairSurroundGrey, kPairSurroundGrey));
    uploadOverlay(*m_gl, m_surroundTexture, surround);
    m_blitter = std::make_unique<QOpenGLTextureBlitter>();
    if (!m_blitter->create())
        m_blitter.reset();
}

void FieldPresenter::bindCanvas(int unit, const GpuTextureRef& texture, QSize target) {
    // Its render pass handed it over unfinished.
    texture->waitOnGpu();
    m_gl->glActiveTexture(GLenum(GL_TEXTURE0 + unit));
    m_gl->glBindTexture(GL_TEXTURE_2D, texture->name());
    // A canvas the size of where it goes maps texel to pixel: nearest sampling
    // gives the same picture for less work.
    const bool exactFit =
        texture->width() == target.width() && texture->height() == target.height();
    m_gl->glBindSampler(GLuint(unit), exactFit ? m_nearestSampler : m_linearSampler);
}

void FieldPresenter::setCorrection(bool corrects) {
    if (corrects) {
        m_gl->glUniform1f(0, m_presenterState.gammaUniform());
        m_gl->glUniform1f(1, m_presenterState.inversionFlag());
        m_gl->glUniform1f(2, m_presenterState.blackLiftUniform());
    }
    const auto& tint = m_presenterState.illuminantTint;
    m_gl->glUniform3f(3, float(tint[0]), float(tint[1]), float(tint[2]));
}

void FieldPresenter::useStereoProgram(int layoutKind, int W, int H, bool corrects,
                                      const PairPlacement& pair) {
    m_gl->glUseProgram(m_stereoProgram);
    setCorrection(corrects);
    m_gl->glUniform1i(20, corrects ? 1 : 0);
    m_gl->glUniform1i(4, layoutKind);
    m_gl->glUniform2i(5, W, H);
    m_gl->glUniform4i(8, pair.markColumn(0), pair.markColumn(1), pair.markRow,
                      pair.markRadius > 0 ? pair.markLimit() : -1);
    const float grey = float(kPairSurroundGrey) / 255.0f;
    m_gl->glUniform3f(9, grey, grey, grey);
    for (const auto& [location, matrix] : {std::pair{12, &kAnaglyphLeft}, {16, &kAnaglyphRight}}) {
        std::array<float, 9> rows;
        for (int i = 0; i < 9; ++i)
            rows[std::size_t(i)] = float((*matrix)[std::size_t(i / 3)][std::size_t(i % 3)]);
        m_gl->glUniformMatrix3fv(location, 1, GL_TRUE, rows.data());
    }
}

void FieldPresenter::drawStereo(int W, int H, bool corrects) {
    const PresenterState& c = m_presenterState;
    const bool crossed = c.stereoLayout == StereoLayout::cross;
    const GpuTextureRef& first = crossed ? c.rightTexture : c.leftTexture;
    const GpuTextureRef& second = crossed ? c.leftTexture : c.rightTexture;
    if (!StereoLayouts::isSideBySide(c.stereoLayout)) {
        // Both eyes at every pixel: one draw mixes or interleaves them.
        useStereoProgram(c.stereoLayout == StereoLayout::anaglyph ? 1 : 2, W, H, corrects, {});
        bindCanvas(0, first, QSize(W, H));
        bindCanvas(1, second, QSize(W, H));
        m_gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        m_gl->glBindSampler(1, 0);
        m_gl->glBindTexture(GL_TEXTURE_2D, 0);
        m_gl->glActiveTexture(GL_TEXTURE0);
        return;
    }

    // Side by side, the halves and the grey around them are plain blits (the
    // grey from a one-texel texture), which keeps the software rasterizer on its
    // fast path; the stereo program draws only the squares of the marks.
    const PairPlacement p = placePair(W, H, devicePixelRatio(), c.stereoPair);
    const int bottom = H - p.top - p.halfHeight; // GL rows count from the bottom
    m_gl->glUseProgram(corrects ? m_program : m_tintProgram);
    setCorrection(corrects);
    for (const auto& [texture, x] : {std::pair{&first, p.leftX}, std::pair{&second, p.rightX}}) {
        m_gl->glViewport(x, bottom, p.halfWidth, p.halfHeight);
        bindCanvas(0, *texture, QSize(p.halfWidth, p.halfHeight));
        m_gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
    m_gl->glViewport(0, 0, W, H);
    m_gl->glEnable(GL_SCISSOR_TEST);
    m_gl->glBindTexture(GL_TEXTURE_2D, m_surroundTexture);
    m_gl->glBindSampler(0, m_nearestSampler);
    const int leftEnd = p.leftX + p.halfWidth, rightEnd = p.rightX + p.halfWidth;
    const QRect around[] = {{0, H - p.top, W, p.top},
                            {0, 0, W, bottom},
                            {0, bottom, p.leftX, p.halfHeight},
                            {leftEnd, bottom, p.rightX - leftEnd, p.halfHeight},
                            {rightEnd, bottom, W - rightEnd, p.halfHeight}};
    for (const QRect& rect : around) {
        if (rect.width() > 0 && rect.height() > 0) {
            m_gl->glScissor(rect.x(), rect.y(), rect.width(), rect.height());
            m_gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        }
    }
    if (p.markRadius > 0) {
        useStereoProgram(0, W, H, corrects, p);
        const int side = 2 * p.markRadius + 1;
        for (int half = 0; half < 2; ++half) {
            m_gl->glScissor(p.markColumn(half) - p.markRadius, H - 1 - (p.markRow + p.markRadius),
                            side, side);
            m_gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        }
    }
    m_gl->glDisable(GL_SCISSOR_TEST);
}

void FieldPresenter::copyCanvas(const GpuTextureRef& texture, int W, int H) {
    texture->waitOnGpu();
    GLint readFramebuffer = 0;
    m_gl->glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readFramebuffer);
    m_gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, m_readFramebuffer);
    m_gl->glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                                 texture->name(), 0);
    // Texel row 0 is the top row: turned over, it lands at the top of the window.
    m_gl->glBlitFramebuffer(0, H, W, 0, 0, 0, W, H, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    m_gl->glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    m_gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(readFramebuffer));
}

void FieldPresenter::drawFrame(int W, int H) {
    const PresenterState& c = m_presenterState;
    m_gl->glViewport(0, 0, W, H);
    m_gl->glDisable(GL_BLEND);
    m_gl->glDisable(GL_DEPTH_TEST);
    m_gl->glDisable(GL_SCISSOR_TEST);
    // Without the blit program there is no picture; the frame stays black.
    const bool picture = m_program && m_vao && c.leftTexture;
    if (!picture) {
        m_gl->glClearColor(0, 0, 0, 1);
        m_gl->glClear(GL_COLOR_BUFFER_BIT);
    } else {
        // A correction that changes nothing leaves only the tint to apply.
        const bool corrects = !m_tintProgram || c.gammaUniform() != 1.0f ||
                              c.inversionFlag() != 0.0f || c.blackLiftUniform() != 0.0f;
        m_vao->bind();
        const auto& tint = c.illuminantTint;
        const bool plain =
            !corrects && float(tint[0]) == 1.0f && float(tint[1]) == 1.0f && float(tint[2]) == 1.0f;
        // Until the right eye exists the left canvas shows alone.
        if (c.isStereoscopic && c.rightTexture && m_stereoProgram) {
            drawStereo(W, H, corrects);
        } else if (plain && m_readFramebuffer && c.leftTexture->width() == W &&
                   c.leftTexture->height() == H) {
            copyCanvas(c.leftTexture, W, H);
        } else {
            m_gl->glUseProgram(corrects ? m_program : m_tintProgram);
            setCorrection(corrects);
            bindCanvas(0, c.leftTexture, QSize(W, H));
            m_gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        }
        m_vao->release();
        m_gl->glBindSampler(0, 0);
        m_gl->glBindTexture(GL_TEXTURE_2D, 0);
        m_gl->glUseProgram(0);
    }
    drawOverlays(W, H);
}

void FieldPresenter::drawOverlays(int W, int H) {
    if (!m_blitter)
        return;
    const QRect viewport(0, 0, W, H);
    const double scale = devicePixelRatio();
    bool bound = false;
    auto blit = [&](unsigned int texture, const QRectF& target, double opacity) {
        if (!bound) {
            bound = true;
            m_gl->glEnable(GL_BLEND);
            // Colour over the picture; the window stays opaque.
            m_gl->glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);
            m_blitter->bind();
        }
        m_blitter->setOpacity(float(opacity));
        m_blitter->blit(texture, QOpenGLTextureBlitter::targetTransform(target, viewport),
                        QOpenGLTextureBlitter::OriginTopLeft);
    };

    if (m_borderColor.alpha() > 0 && m_borderTexture) {
        if (m_uploadedBorder != m_borderColor) {
            QImage pixel(1, 1, QImage::Format_ARGB32_Premultiplied);
            pixel.fill(m_borderColor);
            uploadOverlay(*m_gl, m_borderTexture, pixel);
            m_uploadedBorder = m_borderColor;
        }
        const double t = std::max(1.0, std::round(scale));
        blit(m_borderTexture, QRectF(0, 0, W, t), 1.0);
        blit(m_borderTexture, QRectF(0, H - t, W, t), 1.0);
        blit(m_borderTexture, QRectF(0, t, t, H - 2 * t), 1.0);
        blit(m_borderTexture, QRectF(W - t, t, t, H - 2 * t), 1.0);
    }
    for (OverlayTexture& slot : m_overlays) {
        const Overlay& o = slot.overlay;
        if (o.image.isNull() || !(o.opacity > 0) || !slot.texture)
            continue;
        if (slot.uploadedKey != o.image.cacheKey()) {
            uploadOverlay(*m_gl, slot.texture, o.image);
            slot.uploadedKey = o.image.cacheKey();
        }
        const QPointF at = QPointF(o.position) * scale;
        blit(slot.texture,
             QRectF(std::round(at.x()), std::round(at.y()), o.image.width(), o.image.height()),
             std::min(o.opacity, 1.0));
    }
    if (bound) {
        m_blitter->release();
        m_gl->glDisable(GL_BLEND);
    }
}

QSize FieldPresenter::drawableSize() const {
    return {std::max(1, int(std::lround(width() * devicePixelRatio()))),
            std::max(1, int(std::lround(height() * devicePixelRatio())))};
}

void FieldPresenter::paintGL() {
    const auto [W, H] = drawableSize();
    if (!m_gl) {
        // No 4.3 functions: at least no garbage on screen.
        context()->functions()->glClearColor(0, 0, 0, 1);
        context()->functions()->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    drawFrame(W, H);
    // The frame reads its canvases until the GPU is done with it; a pass that
    // overwrites the same ring texture meanwhile waits for that.
    for (const GpuTextureRef& shown :
         {m_presenterState.leftTexture, m_presenterState.rightTexture}) {
        if (shown)
            shown->fenceWork();
    }
    if (m_fence)
        m_gl->glDeleteSync(static_cast<GLsync>(m_fence));
    m_fence = m_gl->glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    m_presenterState.isDrawInFlight = true;
    ++m_drawCount;
    m_ownDrawCount += m_drawingOwnFrame;
    emit frameDrawn();
}

QImage FieldPresenter::grabFrame() {
    if (!m_gl || !isValid())
        return {};
    makeCurrent();
    const auto [W, H] = drawableSize();
    QOpenGLFramebufferObject target(W, H);
    if (!target.bind())
        return {};
    drawFrame(W, H);
    QImage frame = target.toImage();
    target.release();
    return frame;
}

void FieldPresenter::checkDrawCompletion() {
    if (!m_gl || !context()) {
        m_presenterState.isDrawInFlight = false;
        return;
    }
    bool done = true;
    if (m_fence) {
        makeCurrent();
        const GLenum status = m_gl->glClientWaitSync(static_cast<GLsync>(m_fence), 0, 0);
        done = status == GL_ALREADY_SIGNALED || status == GL_CONDITION_SATISFIED ||
               status == GL_WAIT_FAILED;
        if (done) {
            m_gl->glDeleteSync(static_cast<GLsync>(m_fence));
            m_fence = nullptr;
        }
    }
    if (!done) {
        m_completionTimer.start(1);
        return;
    }
    m_presenterState.isDrawInFlight = false;
    if (std::exchange(m_displayPending, false))
        setNeedsDisplay();
}
