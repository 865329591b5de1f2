#pragma once

#include <QWidget>

class QLabel;

// One labelled control of the control panel. Wide: caption and control on one
// line, the control trailing. Narrow: caption on its own line, control below it,
// trailing. The row takes the wide layout whenever the width allows it.
class SettingRow : public QWidget {
    Q_OBJECT
public:
    SettingRow(const QString& caption, QWidget* control, QWidget* parent = nullptr);

    QString caption() const;
    void setCaption(const QString& caption);
    QWidget* control() const { return m_control; }
    bool isWideLayout() const { return m_wide; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int controlWidth(int available) const;
    bool fitsWide(int width) const;
    int wideCaptionWidth(int width) const;
    int captionHeight(int width) const;
    void fitCaptionFont(int width);
    void placeChildren();

    QLabel* m_caption;
    QWidget* m_control;
    bool m_wide = true;
};
