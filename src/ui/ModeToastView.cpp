#include "ModeToastView.h"

#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>

ModeToastView::ModeToastView(QWidget* parent)
    : QLabel(parent), m_opacity(new QGraphicsOpacityEffect(this)),
      m_fade(new QPropertyAnimation(m_opacity, "opacity", this)) {
    QFont f = font();
    f.setBold(true);
    f.setPointSizeF(11);
    setFont(f);
    setAlignment(Qt::AlignCenter);
    setContentsMargins(kHorizontalPadding, kVerticalPadding, kHorizontalPadding, kVerticalPadding);
    setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_opacity->setOpacity(0.0);
    setGraphicsEffect(m_opacity);
    hide();

    m_hideTimer.setSingleShot(true);
    m_hideTimer.setInterval(kHideDelayMs);
    connect(&m_hideTimer, &QTimer::timeout, this, &ModeToastView::hideModeMessage);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        if (m_message.isEmpty())
            hide();
    });
}

double ModeToastView::opacity() const {
    return m_opacity->opacity();
}

void ModeToastView::showModeMessage(const QString& text) {
    m_message = text;
    setText(text);
    adjustSize();
    show();
    raise();
    m_fade->stop();
    m_fade->setDuration(kFadeInMs);
    m_fade->setEasingCurve(QEasingCurve::InQuad);
    m_fade->setStartValue(m_opacity->opacity());
    m_fade->setEndValue(1.0);
    m_fade->start();
    m_hideTimer.start();
    emit messageChanged();
}

void ModeToastView::hideModeMessage() {
    m_hideTimer.stop();
    m_message.clear();
    m_fade->stop();
    m_fade->setDuration(kFadeOutMs);
    m_fade->setEasingCurve(QEasingCurve::OutQuad);
    m_fade->setStartValue(m_opacity->opacity());
    m_fade->setEndValue(0.0);
    m_fade->start();
    emit messageChanged();
}

void ModeToastView::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect());
        const double radius = r.height() / 2;
        QPainterPath capsule;
        capsule.addRoundedRect(r, radius, radius);
        painter.fillPath(capsule, QColor::fromRgbF(0, 0, 0, kBackgroundOpacity));
    }
    QLabel::paintEvent(event);
}
