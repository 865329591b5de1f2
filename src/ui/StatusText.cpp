#include "StatusText.h"

#include "FrameImage.h"
#include "OptionEnums.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString tr(const char* text, const char* comment) {
    return QCoreApplication::translate("ContentView", text, comment);
}

// Truncates towards zero; values outside int (or not numbers) saturate.
long long truncated(double v) {
    if (std::isnan(v))
        return 0;
    constexpr double limit = double(std::numeric_limits<int>::max());
    return static_cast<long long>(std::clamp(std::trunc(v), -limit, limit));
}

QString mark(bool on) {
    return on ? QStringLiteral("✓") : QStringLiteral("✗");
}

QString colourLine(const StatusTextInputs& in) {
    QString word;
    if (in.isIlluminantMode)
        word = tr("全体色", "color mode");
    else if (in.isColorMode)
        word = tr("個別色", "color mode");
    else
        word = tr("モノクロ", "color mode");

    QStringList extras;
    if (in.isColorInverted)
        extras << tr("反転", "invert toggle");
    if (in.displayBlackLift > 0.001) {
        const QString label = in.isColorInverted ? tr("白レベル", "black/white level")
                                                 : tr("黒レベル", "black/white level");
        const QString format = label + QStringLiteral(":%.0f%%");
        extras << QString::asprintf(format.toUtf8().constData(), in.displayBlackLift * 100);
    }
    QString line = tr("色:", "status overlay") + word;
    if (!extras.isEmpty())
        line += QStringLiteral("  ") + extras.join(QStringLiteral("  "));
    return line;
}

QString animationLine(const StatusTextInputs& in) {
    const char* comment = "animation toggle";
    return tr("アニメ:", "status overlay") + QLatin1Char(' ') + tr("回転", comment) +
           mark(in.isRotationAnimationEnabled) + QLatin1Char(' ') + tr("位相", comment) +
           mark(in.isPhaseAnimationEnabled) + QLatin1Char(' ') + tr("パルス", comment) +
           mark(in.isBreathingEnabled) + QLatin1Char(' ') + tr("ランダムスピン", comment) +
           mark(in.isRandomTileSpinEnabled);
}

QString depthLine(const StatusTextInputs& in) {
    QString line = tr("立体視:", "status overlay");
    if (in.isStereoscopicMode) {
        line += tr("ステレオペア", "stereo mode") + QStringLiteral("  ") +
                StereoLayouts::label(in.stereoLayout) + QStringLiteral("  ") +
                tr("深さ:", "status overlay") + depthPresetLabel(in.stereoPhaseDisparity);
    } else if (in.isAutostereogramMode) {
        const int columns = int(std::clamp<qint64>(in.sirdsStripColumns, 2, 6));
        const QString format = tr("%d列", "SIRDS strip column count");
        line += QStringLiteral("SIRDS  ") + QString::asprintf(format.toUtf8().constData(), columns);
    } else {
        line += tr("なし", "stereo mode");
    }
    return line;
}

} // namespace

QString depthPresetLabel(double disparity) {
    return DepthOptions::label(DepthOptions::nearestOption(disparity));
}

QString statusText(const StatusTextInputs& in) {
    if (!in.showStatusDetail) {
        switch (in.motion) {
        case StatusTextInputs::Motion::running:
            return QString::asprintf("%3dfps", in.lastFps);
        case StatusTextInputs::Motion::paused:
            return tr("一時停止", "status overlay");
        case StatusTextInputs::Motion::still:
            return tr("静止", "status overlay");
        }
    }

    const QString tileLine = tr("タイル:", "status overlay") +
                             QString::number(truncated(in.maxPatchSize)) + QStringLiteral("px  ") +
                             tr("幅:", "status overlay") +
                             QString::number(truncated(in.viewWidth)) + QStringLiteral("pt");
    const QString seedLine = tr("シード:", "status overlay") + seedText(in.patternSeed);
    const QString buildLine = tr("ビルド:", "status overlay") + QString::fromLatin1(kBuildStamp);
    return QStringList{tileLine,      colourLine(in), animationLine(in),
                       depthLine(in), seedLine,       buildLine}
        .join(QLatin1Char('\n'));
}
