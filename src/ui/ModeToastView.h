#pragma once

#include <QEasingCurve>
#include <QFont>
#include <QImage>
#include <QObject>
#include <QTimer>

class QPropertyAnimation;

// The mode-change toast: white bold text on translucent black in a capsule. A
// message fades in, and fades out 1.5 s after the last message. The presenter
// paints its picture over the field at its opacity; the main view places it.
class ModeToastView : public QObject {
    Q_OBJECT
    Q_PROPERTY(double opacity READ opacity WRITE setOpacity)
public:
    static constexpr int kHideDelayMs = 1500;
    static constexpr int kFadeInMs = 150;
    static constexpr int kFadeOutMs = 400;
    static constexpr int kHorizontalPadding = 18;
    static constexpr int kVerticalPadding = 8;
    static constexpr double kBackgroundOpacity = 0.75;

    explicit ModeToastView(QObject* parent = nullptr);

    // Shows text at once and hides it hideDelayMs after this last message.
    void showModeMessage(const QString& text, int hideDelayMs = kHideDelayMs);
    // Clears the message and fades the toast out.
    void hideModeMessage();
    // The message being shown; empty once the hide has begun.
    QString modeChangeMessage() const { return m_message; }
    // The text drawn, which stays while the toast fades out.
    QString text() const { return m_text; }
    // Shown from a message until its fade-out has ended.
    bool isVisible() const { return m_visible; }
    double opacity() const { return m_opacity; }
    void setOpacity(double opacity);
    bool isHidePending() const { return m_hideTimer.isActive(); }
    int remainingHideMs() const { return m_hideTimer.remainingTime(); }

    QSize sizeHint() const;
    // The toast as drawn at scale pixels per point, at full opacity. Made again
    // only when the text or the scale changes.
    QImage image(double scale) const;

signals:
    void messageChanged();
    // The text, the opacity or the visibility changed.
    void changed();

private:
    void fadeTo(double opacity, int durationMs, QEasingCurve::Type curve);

    QString m_message;
    QString m_text;
    bool m_visible = false;
    double m_opacity = 0.0;
    QFont m_font;
    QTimer m_hideTimer;
    QPropertyAnimation* m_fade;
    mutable QImage m_image;
};
