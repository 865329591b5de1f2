#include "StereoLayout.h"

#include <QCoreApplication>

namespace {

// "6 cm", "0.5 cm": the number as short as it reads.
QString centimetres(double value) {
    return QString::number(value, 'g', 3) + QStringLiteral(" cm");
}

} // namespace

namespace StereoLayouts {

QList<StereoLayout> allCases() {
    return {StereoLayout::parallel, StereoLayout::cross, StereoLayout::anaglyph,
            StereoLayout::interleaved};
}

QString rawValue(StereoLayout layout) {
    switch (layout) {
    case StereoLayout::parallel:
        return QStringLiteral("parallel");
    case StereoLayout::cross:
        return QStringLiteral("cross");
    case StereoLayout::anaglyph:
        return QStringLiteral("anaglyph");
    case StereoLayout::interleaved:
        return QStringLiteral("interleaved");
    }
    return {};
}

std::optional<StereoLayout> fromRawValue(const QString& raw) {
    for (StereoLayout layout : allCases()) {
        if (rawValue(layout) == raw)
            return layout;
    }
    return std::nullopt;
}

QString label(StereoLayout layout) {
    switch (layout) {
    case StereoLayout::parallel:
        return QCoreApplication::translate("StereoLayout", "並列", "stereo layout");
    case StereoLayout::cross:
        return QCoreApplication::translate("StereoLayout", "交差", "stereo layout");
    case StereoLayout::anaglyph:
        return QCoreApplication::translate("StereoLayout", "アナグリフ (赤/シアン)",
                                           "stereo layout");
    case StereoLayout::interleaved:
        return QCoreApplication::translate("StereoLayout", "行インターリーブ", "stereo layout");
    }
    return {};
}

bool isSideBySide(StereoLayout layout) {
    return layout == StereoLayout::parallel || layout == StereoLayout::cross;
}

} // namespace StereoLayouts

namespace StereoPairWidths {

QList<double> allCases() {
    return {0.0, 6.0, 8.0, 10.0};
}

QString label(double value) {
    if (value == 0)
        return QCoreApplication::translate("StereoPairWidth", "全体", "pair width");
    return centimetres(value);
}

} // namespace StereoPairWidths

namespace StereoPairGaps {

QList<double> allCases() {
    return {0.0, 0.5, 1.0, 2.0};
}

QString label(double value) {
    if (value == 0)
        return QCoreApplication::translate("StereoPairGap", "なし", "pair gap");
    return centimetres(value);
}

} // namespace StereoPairGaps
