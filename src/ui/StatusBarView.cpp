#include "StatusBarView.h"

#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

StatusBarView::StatusBarView(QWidget* parent) : QWidget(parent) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(8.5);
    setFont(font);
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::PointingHandCursor);
}

void StatusBarView::setStatus(const QString& text, bool detailed) {
    if (text == m_text && detailed == m_detailed)
        return;
    m_text = text;
    m_detailed = detailed;
    // Japanese and Latin characters differ in width, so a text of the same
    // length may still need another size; an unchanged size costs nothing.
    updateGeometry();
    resize(sizeHint());
    update();
}

QStringList StatusBarView::displayedLines(int textWidth) const {
    const QFontMetrics fm(font());
    if (!m_detailed)
        return {fm.elidedText(QString(m_text).replace(QLatin1Char('\n'), QLatin1Char(' ')),
                              Qt::ElideRight, textWidth)};
    QStringList lines;
    for (const QString& line : m_text.split(QLatin1Char('\n')))
        lines << fm.elidedText(line, Qt::ElideRight, textWidth);
    return lines;
}

QSize StatusBarView::sizeHint() const {
    const QFontMetrics fm(font());
    const int maxWidth = m_detailed ? kDetailedMaxWidth : kShortMaxWidth;
    const QStringList lines = m_detailed ? m_text.split(QLatin1Char('\n')) : QStringList{m_text};
    int textWidth = 0;
    for (const QString& line : lines)
        textWidth = std::max(textWidth, fm.horizontalAdvance(line));
    const int width = std::min(maxWidth, textWidth + 2 * kTextPadding);
    const int height = int(lines.size()) * fm.lineSpacing() + 2 * kTextPadding;
    return {width, height};
}

void StatusBarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    painter.fillPath(shape, QColor::fromRgbF(1, 1, 1, kBackgroundOpacity));

    const QFontMetrics fm(font());
    const QRect textRect =
        rect().adjusted(kTextPadding, kTextPadding, -kTextPadding, -kTextPadding);
    painter.setClipPath(shape);
    painter.setPen(Qt::black);
    int y = textRect.top() + fm.ascent();
    for (const QString& line : displayedLines(textRect.width())) {
        painter.drawText(textRect.left(), y, line);
        y += fm.lineSpacing();
    }
}

void StatusBarView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit tapped();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}
