#pragma once

#include <QFont>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>

// The status bar: small monospaced black text on translucent white in a rounded
// rectangle. One line, cut at the end, in the short form; every line in the
// detailed form. The presenter paints its picture over the field; the main view
// places it and turns a click inside it into a tap.
class StatusBarView : public QObject {
    Q_OBJECT
public:
    static constexpr int kTextPadding = 8;
    static constexpr int kCornerRadius = 8;
    static constexpr int kShortMaxWidth = 240;
    static constexpr int kDetailedMaxWidth = 400;
    static constexpr double kBackgroundOpacity = 0.7;

    explicit StatusBarView(QObject* parent = nullptr);

    void setStatus(const QString& text, bool detailed);
    QString text() const { return m_text; }
    bool isDetailed() const { return m_detailed; }

    void setVisible(bool visible);
    bool isVisible() const { return m_visible; }
    void move(const QPoint& position);
    QPoint pos() const { return m_position; }
    // In the main view's coordinates (points); the whole of it is the tap target.
    QRect geometry() const { return {m_position, sizeHint()}; }
    QSize sizeHint() const;
    QFont font() const { return m_font; }

    // The bar as drawn at scale pixels per point, transparent around the rounded
    // rectangle. Made again only when the text or the scale changes.
    QImage image(double scale) const;

signals:
    // The text, the form, the visibility or the place changed.
    void changed();

private:
    QStringList displayedLines(int textWidth) const;

    QString m_text;
    bool m_detailed = false;
    bool m_visible = false;
    QPoint m_position;
    QFont m_font;
    mutable QImage m_image;
};
