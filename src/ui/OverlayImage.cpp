#include "OverlayImage.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace {

void setScreenResolution(QImage& image) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        image.setDotsPerMeterX(int(std::lround(screen->logicalDotsPerInchX() / 0.0254)));
        image.setDotsPerMeterY(int(std::lround(screen->logicalDotsPerInchY() / 0.0254)));
    }
}

} // namespace

QImage makeOverlayImage(QSize size, double scale) {
    const QSize pixels(int(std::ceil(size.width() * scale)), int(std::ceil(size.height() * scale)));
    QImage image(pixels.expandedTo(QSize(1, 1)), QImage::Format_RGBA8888_Premultiplied);
    image.setDevicePixelRatio(scale);
    setScreenResolution(image);
    image.fill(Qt::transparent);
    return image;
}

QFontMetrics overlayFontMetrics(const QFont& font) {
    // The resolution is stored in whole dots per metre, so the pictures' fonts
    // differ a little from the screen's own: measure with what they use.
    static QImage device = [] {
        QImage image(1, 1, QImage::Format_RGBA8888_Premultiplied);
        setScreenResolution(image);
        return image;
    }();
    return QFontMetrics(font, &device);
}
