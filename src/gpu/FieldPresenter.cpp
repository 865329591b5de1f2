#include "FieldPresenter.h"

#include "GpuDevice.h"

#include <QColor>
#include <QOpenGLContext>
#include <QOpenGLFunctions_4_3_Core>
#include <QOpenGLVersionFunctionsFactory>
#include <QOpenGLVertexArrayObject>
#include <algorithm>
#include <cmath>

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
    take(isStereoscopic, from.isStereoscopic);
    take(isCrossEyed, from.isCrossEyed);
    take(isColorInverted, from.isColorInverted);
    take(displayGamma, from.displayGamma);
    take(displayBlackLift, from.displayBlackLift);
    take(illuminantTint, from.illuminantTint);
    return changed;
}

std::array<FieldPresenter::Viewport, 2> FieldPresenter::stereoViewports(int drawableWidth,
                                                                        int drawableHeight) {
    // Not rounded: an odd width gives two fractional halves.
    const float half = float(drawableWidth) * 0.5f;
    const float h = float(drawableHeight);
    return {Viewport{0.0f, 0.0f, half, h}, Viewport{half, 0.0f, half, h}};
}

std::array<double, 3> FieldPresenter::illuminantColor(double hue) {
    if (!std::isfinite(hue))
        hue = 0;
    hue = std::clamp(hue - std::floor(hue), 0.0, 1.0);
    const QColor c = QColor::fromHsvF(float(hue), 0.85f, 1.0f);
    return {c.redF(), c.greenF(), c.blueF()};
}

FieldPresenter::FieldPresenter(QWidget* parent) : QOpenGLWidget(parent) {
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setVersion(4, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    setFormat(format);
    setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
    m_completionTimer.setSingleShot(true);
    connect(&m_completionTimer, &QTimer::timeout, this, &FieldPresenter::checkDrawCompletion);
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
    if (m_sampler)
        m_gl->glDeleteSamplers(1, &m_sampler);
    m_sampler = 0;
    m_vao.reset();
}

void FieldPresenter::updateView(const Description& description) {
    if (m_presenterState.update(description))
        setNeedsDisplay();
}

void FieldPresenter::setNeedsDisplay() {
    // A display asked for while a frame is on the GPU is kept, not dropped, so
    // the newest picture (the last animation frame, a late setting) still shows.
    if (m_presenterState.isDrawInFlight) {
        m_displayPending = true;
        return;
    }
    update();
}

void FieldPresenter::initializeGL() {
    m_gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_4_3_Core>(context());
    if (!m_gl)
        return;
    // Creating the shared GPU context may switch contexts on this thread.
    m_program = GpuDevice::shared().blitProgram();
    makeCurrent();
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        releaseGL();
        doneCurrent();
        m_gl = nullptr;
    });
    // Vertex arrays belong to one context, so the view keeps its own empty one.
    m_vao = std::make_unique<QOpenGLVertexArrayObject>();
    m_vao->create();
    m_gl->glGenSamplers(1, &m_sampler);
    m_gl->glSamplerParameteri(m_sampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    m_gl->glSamplerParameteri(m_sampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    m_gl->glSamplerParameteri(m_sampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    m_gl->glSamplerParameteri(m_sampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

void FieldPresenter::encodePass(const GpuTextureRef& texture) {
    m_gl->glActiveTexture(GL_TEXTURE0);
    m_gl->glBindTexture(GL_TEXTURE_2D, texture->name());
    m_gl->glBindSampler(0, m_sampler);
    m_gl->glUniform1f(0, m_presenterState.gammaUniform());
    m_gl->glUniform1f(1, m_presenterState.inversionFlag());
    m_gl->glUniform1f(2, m_presenterState.blackLiftUniform());
    const auto& tint = m_presenterState.illuminantTint;
    m_gl->glUniform3f(3, float(tint[0]), float(tint[1]), float(tint[2]));
    m_gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void FieldPresenter::paintGL() {
    if (!m_gl)
        return;
    const int W = std::max(1, int(std::lround(width() * devicePixelRatioF())));
    const int H = std::max(1, int(std::lround(height() * devicePixelRatioF())));
    m_gl->glViewport(0, 0, W, H);
    m_gl->glDisable(GL_BLEND);
    m_gl->glDisable(GL_DEPTH_TEST);
    m_gl->glDisable(GL_SCISSOR_TEST);
    m_gl->glClearColor(0, 0, 0, 1);
    m_gl->glClear(GL_COLOR_BUFFER_BIT);
    // Without the blit program there is nothing to draw; the frame stays black.
    if (!m_program || !m_vao)
        return;

    const PresenterState& c = m_presenterState;
    m_gl->glUseProgram(m_program);
    m_vao->bind();
    if (c.isStereoscopic && c.leftTexture && c.rightTexture) {
        const auto halves = stereoViewports(W, H);
        const GpuTextureRef& leftHalf = c.isCrossEyed ? c.rightTexture : c.leftTexture;
        const GpuTextureRef& rightHalf = c.isCrossEyed ? c.leftTexture : c.rightTexture;
        m_gl->glViewportIndexedf(0, halves[0].x, halves[0].y, halves[0].width, halves[0].height);
        encodePass(leftHalf);
        m_gl->glViewportIndexedf(0, halves[1].x, halves[1].y, halves[1].width, halves[1].height);
        encodePass(rightHalf);
        m_gl->glViewport(0, 0, W, H);
    } else if (c.leftTexture) {
        encodePass(c.leftTexture);
    }
    m_vao->release();
    m_gl->glBindSampler(0, 0);
    m_gl->glBindTexture(GL_TEXTURE_2D, 0);
    m_gl->glUseProgram(0);

    if (m_fence)
        m_gl->glDeleteSync(static_cast<GLsync>(m_fence));
    m_fence = m_gl->glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    m_gl->glFlush();
    m_presenterState.isDrawInFlight = true;
    ++m_drawCount;
    m_completionTimer.start(0);
    emit frameDrawn();
}

void FieldPresenter::checkDrawCompletion() {
    if (!m_gl || !context()) {
        m_presenterState.isDrawInFlight = false;
        return;
    }
    makeCurrent();
    bool done = true;
    if (m_fence) {
        const GLenum status = m_gl->glClientWaitSync(static_cast<GLsync>(m_fence), 0, 0);
        done = status == GL_ALREADY_SIGNALED || status == GL_CONDITION_SATISFIED ||
               status == GL_WAIT_FAILED;
        if (done) {
            m_gl->glDeleteSync(static_cast<GLsync>(m_fence));
            m_fence = nullptr;
        }
    }
    doneCurrent();
    if (!done) {
        m_completionTimer.start(1);
        return;
    }
    m_presenterState.isDrawInFlight = false;
    if (m_displayPending) {
        m_displayPending = false;
        update();
    }
}
