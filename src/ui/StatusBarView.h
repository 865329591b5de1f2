#pragma once

#include <QWidget>

// The status bar: small monospaced black text on translucent white in a rounded
// rectangle. One line, cut at the end, in the short form; every line in the
// detailed form. A click anywhere on it emits tapped().
class StatusBarView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTextPadding = 8;
    static constexpr int kCornerRadius = 8;
    static constexpr int kShortMaxWidth = 240;
    static constexpr int kDetailedMaxWidth = 400;
    static constexpr double kBackgroundOpacity = 0.7;

    explicit StatusBarView(QWidget* parent = nullptr);

    void setStatus(const QString& text, bool detailed);
    QString text() const { return m_text; }
    bool isDetailed() const { return m_detailed; }

    QSize sizeHint() const override;

signals:
    void tapped();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QStringList displayedLines(int textWidth) const;

    QString m_text;
    bool m_detailed = false;
};
