#pragma once

#include "RGBAImage.h"

#include <QColor>
#include <QImage>
#include <algorithm>
#include <climits>
#include <cstdlib>

// The largest difference of any byte of two images; INT_MAX when sizes differ.
inline int maxChannelDifference(const QImage& a, const QImage& b) {
    const QImage ca = a.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const QImage cb = b.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (ca.isNull() || ca.size() != cb.size())
        return INT_MAX;
    int worst = 0; // four bytes a pixel: rows carry no padding
    for (qsizetype i = 0; i < ca.sizeInBytes(); ++i)
        worst = std::max(worst, std::abs(ca.constBits()[i] - cb.constBits()[i]));
    return worst;
}

// A w x h image whose pixels tell the label, the column and the row apart.
inline RGBAImage pattern(int w, int h, int label = 0) {
    RGBAImage image = *makeRGBAImage(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixelColor(
                x, y, QColor((label * 40 + x * 37 + y * 11) % 256, x * 7 % 256, y * 29 % 256));
    return image;
}
