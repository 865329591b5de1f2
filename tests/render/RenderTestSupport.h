#pragma once

#include "AppModel.h"
#include "PreferencesStore.h"
#include "RenderState.h"

#include <QCoreApplication>
#include <QImage>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

// A settings model that never touches the user's settings file.
inline std::unique_ptr<AppModel> makeMemoryModel() {
    return std::make_unique<AppModel>(std::make_shared<MemoryPreferencesStore>());
}

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
