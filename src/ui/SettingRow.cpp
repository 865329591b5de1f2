#include "SettingRow.h"

#include <QEvent>
#include <QLabel>
#include <QTextLayout>
#include <algorithm>

namespace {

constexpr int kPadding = 6;
constexpr int kWideSpacing = 12;
constexpr int kNarrowGap = 6;
constexpr int kCaptionMin = 100;
constexpr int kCaptionMax = 220;
constexpr int kControlMin = 120;
constexpr int kControlMax = 220;
constexpr int kMaxCaptionLines = 2;
constexpr double kMinCaptionScale = 0.8;

int lineCount(const QString& text, const QFont& font, int width) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(width, 1));
        ++lines;
    }
    layout.endLayout();
    return lines;
}

} // namespace

SettingRow::SettingRow(const QString& caption, QWidget* control, QWidget* parent)
    : QWidget(parent), m_caption(new QLabel(caption, this)), m_control(control) {
    m_caption->setObjectName(QStringLiteral("caption"));
    m_caption->setWordWrap(true);
    m_caption->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    m_control->setParent(this);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QString SettingRow::caption() const {
    return m_caption->text();
}

void SettingRow::setCaption(const QString& caption) {
    if (caption == m_caption->text())
        return;
    m_caption->setText(caption);
    placeChildren();
    updateGeometry();
}

int SettingRow::controlWidth(int available) const {
    // The control's own size limits (a fixed width, say) win over the row's.
    int natural = std::clamp(m_control->sizeHint().width(), kControlMin, kControlMax);
    natural = std::clamp(natural, m_control->minimumWidth(), m_control->maximumWidth());
    return std::min(natural, std::max(available, 0));
}

bool SettingRow::fitsWide(int width) const {
    return width >= kCaptionMin + kWideSpacing + controlWidth(kControlMax);
}

int SettingRow::wideCaptionWidth(int width) const {
    return std::clamp(width - kWideSpacing - controlWidth(kControlMax), kCaptionMin, kCaptionMax);
}

int SettingRow::captionHeight(int width) const {
    const QFontMetrics metrics(m_caption->font());
    const int lines =
        std::clamp(lineCount(m_caption->text(), m_caption->font(), width), 1, kMaxCaptionLines);
    return lines * metrics.lineSpacing();
}

int SettingRow::heightForWidth(int width) const {
    const int controlHeight = m_control->sizeHint().height();
    if (fitsWide(width))
        return 2 * kPadding + std::max(captionHeight(wideCaptionWidth(width)), controlHeight);
    return 2 * kPadding + captionHeight(width) + kNarrowGap + controlHeight;
}

QSize SettingRow::sizeHint() const {
    const int captionNatural = std::clamp(
        m_caption->fontMetrics().horizontalAdvance(m_caption->text()), kCaptionMin, kCaptionMax);
    const int width = captionNatural + kWideSpacing + controlWidth(kControlMax);
    return {width, heightForWidth(width)};
}

QSize SettingRow::minimumSizeHint() const {
    // The narrow layout needs only the control's width; the height follows the
    // width through heightForWidth, so the minimum is the one-line height.
    return {kControlMin, heightForWidth(sizeHint().width())};
}

void SettingRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeChildren();
}

void SettingRow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        placeChildren();
}

// A caption that two lines cannot hold is shrunk, down to 0.8 of its size.
void SettingRow::fitCaptionFont(int width) {
    QFont font = this->font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    for (qreal scale = 1.0; scale >= kMinCaptionScale - 1e-9; scale -= 0.05) {
        font.setPointSizeF(base * scale);
        if (lineCount(m_caption->text(), font, width) <= kMaxCaptionLines)
            break;
    }
    m_caption->setFont(font);
}

void SettingRow::placeChildren() {
    const int w = width();
    const int h = height();
    m_wide = fitsWide(w);
    const int controlHeight = m_control->sizeHint().height();
    if (m_wide) {
        const int cw = controlWidth(kControlMax);
        const int captionWidth = wideCaptionWidth(w);
        fitCaptionFont(captionWidth);
        const int ch = captionHeight(captionWidth);
        m_caption->setGeometry(0, (h - ch) / 2, captionWidth, ch);
        m_control->setGeometry(w - cw, (h - controlHeight) / 2, cw, controlHeight);
    } else {
        fitCaptionFont(w);
        const int ch = captionHeight(w);
        m_caption->setGeometry(0, kPadding, w, ch);
        const int cw = controlWidth(w);
        m_control->setGeometry(w - cw, kPadding + ch + kNarrowGap, cw, controlHeight);
    }
}
