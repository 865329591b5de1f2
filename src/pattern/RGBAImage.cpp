#include "RGBAImage.h"

#include <cmath>

std::optional<RGBAImage> makeRGBAImage(int width, int height) {
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide)
        return std::nullopt;
    RGBAImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull())
        return std::nullopt;
    image.fill(Qt::transparent);
    return image;
}

int imageSide(double value) {
    if (!std::isfinite(value) || value < 1)
        return 1;
    if (value >= kMaxImageSide)
        return kMaxImageSide;
    return static_cast<int>(value);
}
