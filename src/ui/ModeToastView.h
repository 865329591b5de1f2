#pragma once

#include <QLabel>
#include <QTimer>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

// The mode-change toast: white bold text on translucent black in a capsule. A
// message fades in, and fades out 1.5 s after the last message.
class ModeToastView : public QLabel {
    Q_OBJECT
public:
    static constexpr int kHideDelayMs = 1500;
    static constexpr int kFadeInMs = 150;
    static constexpr int kFadeOutMs = 400;
    static constexpr int kHorizontalPadding = 18;
    static constexpr int kVerticalPadding = 8;
    static constexpr double kBackgroundOpacity = 0.75;

    explicit ModeToastView(QWidget* parent = nullptr);

    // Shows text at once and restarts the hide delay.
    void showModeMessage(const QString& text);
    // Clears the message and fades the toast out.
    void hideModeMessage();
    // The message being shown; empty once the hide has begun.
    QString modeChangeMessage() const { return m_message; }
    double opacity() const;
    bool isHidePending() const { return m_hideTimer.isActive(); }
    int remainingHideMs() const { return m_hideTimer.remainingTime(); }

signals:
    void messageChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_message;
    QTimer m_hideTimer;
    QGraphicsOpacityEffect* m_opacity;
    QPropertyAnimation* m_fade;
};
