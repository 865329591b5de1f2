#include "ModeToastView.h"

#include "OverlayImage.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>

ModeToastView::ModeToastView(QObject* parent)
    : QObject(parent), m_fade(new QPropertyAnimation(this, "opacity", this)) {
    m_font = QGuiApplication::font();
    m_font.setBold(true);
    m_font.setPointSizeF(11);

    m_hideTimer.setSingleShot(true);
    m_hideTimer.setInterval(kHideDelayMs);
    connect(&m_hideTimer, &QTimer::timeout, this, &ModeToastView::hideModeMessage);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        if (m_message.isEmpty() && m_visible) {
            m_visible = false;
            emit changed();
        }
    });
}

void ModeToastView::setOpacity(double opacity) {
    if (opacity == m_opacity)
        return;
    m_opacity = opacity;
    emit changed();
}

void ModeToastView::fadeTo(double opacity, int durationMs, QEasingCurve::Type curve) {
    m_fade->stop();
    m_fade->setDuration(durationMs);
    m_fade->setEasingCurve(curve);
    m_fade->setStartValue(m_opacity);
    m_fade->setEndValue(opacity);
    m_fade->start();
}

void ModeToastView::showModeMessage(const QString& text, int hideDelayMs) {
    m_message = text;
    if (text != m_text) {
        m_text = text;
        m_image = QImage();
    }
    m_visible = true;
    fadeTo(1.0, kFadeInMs, QEasingCurve::InQuad);
    m_hideTimer.start(hideDelayMs);
    emit messageChanged();
    emit changed();
}

void ModeToastView::hideModeMessage() {
    m_hideTimer.stop();
    m_message.clear();
    fadeTo(0.0, kFadeOutMs, QEasingCurve::OutQuad);
    emit messageChanged();
}

QSize ModeToastView::sizeHint() const {
    const QSize text = overlayFontMetrics(m_font)
                           .boundingRect(QRect(0, 0, 4000, 4000), Qt::AlignCenter, m_text)
                           .size();
    return text + QSize(2 * kHorizontalPadding, 2 * kVerticalPadding);
}

QImage ModeToastView::image(double scale) const {
    if (!m_image.isNull() && m_image.devicePixelRatio() == scale)
        return m_image;
    const QSize size = sizeHint();
    m_image = makeOverlayImage(size, scale);
    QPainter painter(&m_image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r(QPointF(), size);
    const double radius = r.height() / 2;
    QPainterPath capsule;
    capsule.addRoundedRect(r, radius, radius);
    painter.fillPath(capsule, QColor::fromRgbF(0, 0, 0, kBackgroundOpacity));
    painter.setFont(m_font);
    painter.setPen(Qt::white);
    painter.drawText(
        r.adjusted(kHorizontalPadding, kVerticalPadding, -kHorizontalPadding, -kVerticalPadding),
        Qt::AlignCenter, m_text);
    // Ended first: a copy of an image being painted is a deep copy, and a new
    // picture to upload each time.
    painter.end();
    return m_image;
}
