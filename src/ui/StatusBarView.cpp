#include "StatusBarView.h"

#include "OverlayImage.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

StatusBarView::StatusBarView(QObject* parent) : QObject(parent) {
    m_font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_font.setPointSizeF(8.5);
}

void StatusBarView::setStatus(const QString& text, bool detailed) {
    if (text == m_text && detailed == m_detailed)
        return;
    m_text = text;
    m_detailed = detailed;
    m_image = QImage();
    emit changed();
}

void StatusBarView::setVisible(bool visible) {
    if (visible == m_visible)
        return;
    m_visible = visible;
    emit changed();
}

void StatusBarView::move(const QPoint& position) {
    if (position == m_position)
        return;
    m_position = position;
    emit changed();
}

QStringList StatusBarView::displayedLines(int textWidth) const {
    const QFontMetrics fm = overlayFontMetrics(m_font);
    if (!m_detailed)
        return {fm.elidedText(QString(m_text).replace(QLatin1Char('\n'), QLatin1Char(' ')),
                              Qt::ElideRight, textWidth)};
    QStringList lines;
    for (const QString& line : m_text.split(QLatin1Char('\n')))
        lines << fm.elidedText(line, Qt::ElideRight, textWidth);
    return lines;
}

QSize StatusBarView::sizeHint() const {
    // Japanese and Latin characters differ in width, so every text is measured.
    const QFontMetrics fm = overlayFontMetrics(m_font);
    const int maxWidth = m_detailed ? kDetailedMaxWidth : kShortMaxWidth;
    const QStringList lines = m_detailed ? m_text.split(QLatin1Char('\n')) : QStringList{m_text};
    int textWidth = 0;
    for (const QString& line : lines)
        textWidth = std::max(textWidth, fm.horizontalAdvance(line));
    const int width = std::min(maxWidth, textWidth + 2 * kTextPadding);
    const int height = int(lines.size()) * fm.lineSpacing() + 2 * kTextPadding;
    return {width, height};
}

QImage StatusBarView::image(double scale) const {
    if (!m_image.isNull() && m_image.devicePixelRatio() == scale)
        return m_image;
    const QSize size = sizeHint();
    m_image = makeOverlayImage(size, scale);
    QPainter painter(&m_image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect rect(QPoint(), size);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect), kCornerRadius, kCornerRadius);
    painter.fillPath(shape, QColor::fromRgbF(1, 1, 1, kBackgroundOpacity));

    const QFontMetrics fm = overlayFontMetrics(m_font);
    const QRect textRect = rect.adjusted(kTextPadding, kTextPadding, -kTextPadding, -kTextPadding);
    painter.setClipPath(shape);
    painter.setFont(m_font);
    painter.setPen(Qt::black);
    int y = textRect.top() + fm.ascent();
    for (const QString& line : displayedLines(textRect.width())) {
        painter.drawText(textRect.left(), y, line);
        y += fm.lineSpacing();
    }
    // Ended first: a copy of an image being painted is a deep copy, and a new
    // picture to upload each time.
    painter.end();
    return m_image;
}
