// Renders one frame of the field to a PNG with the application's own tile set
// preparation and render pass: stimuli, figures and end-to-end checks.

#include "AppModel.h"
#include "FrameImage.h"
#include "PngFile.h"
#include "PreferencesStore.h"
#include "RenderPass.h"
#include "RenderState.h"
#include "ToolDisplay.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QRegularExpression>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

struct Failure {
    QString message;
};

[[noreturn]] void fail(const QString& message) {
    throw Failure{message};
}

// Plain decimal notation only: no sign but '-', no spaces, no nan or inf spellings.
bool isDecimal(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^-?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][-+]?[0-9]+)?$"));
    return pattern.match(text).hasMatch();
}

double number(const QCommandLineParser& parser, const QString& name, double lo, double hi) {
    const QString text = parser.value(name);
    bool ok = false;
    const double v = isDecimal(text) ? text.toDouble(&ok) : 0.0;
    if (!ok || !std::isfinite(v) || v < lo || v > hi)
        fail(QStringLiteral("--%1 needs a number from %2 to %3, not '%4'")
                 .arg(name)
                 .arg(lo)
                 .arg(hi)
                 .arg(text));
    return v;
}

qint64 wholeNumber(const QCommandLineParser& parser, const QString& name, qint64 lo, qint64 hi) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,18}$"));
    const QString text = parser.value(name);
    const qint64 v = digits.match(text).hasMatch() ? text.toLongLong() : lo - 1;
    if (v < lo || v > hi)
        fail(QStringLiteral("--%1 needs a whole number from %2 to %3, not '%4'")
                 .arg(name)
                 .arg(lo)
                 .arg(hi)
                 .arg(text));
    return v;
}

std::uint64_t seedValue(const QString& text) {
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+$"));
    static const QRegularExpression hex(QStringLiteral("^0[xX][0-9a-fA-F]+$"));
    bool ok = false;
    std::uint64_t v = 0;
    // toULongLong reports overflow past 2^64 - 1 as a failure.
    if (hex.match(text).hasMatch())
        v = text.mid(2).toULongLong(&ok, 16);
    else if (decimal.match(text).hasMatch())
        v = text.toULongLong(&ok, 10);
    if (!ok)
        fail(QStringLiteral("--seed needs a decimal or 0x-hex number from 0 to "
                            "18446744073709551615, not '%1'")
                 .arg(text));
    return v;
}

QSizeF sizeValue(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d+(?:\\.\\d+)?)x(\\d+(?:\\.\\d+)?)$"));
    const QRegularExpressionMatch m = pattern.match(text);
    const double w = m.hasMatch() ? m.captured(1).toDouble() : -1;
    const double h = m.hasMatch() ? m.captured(2).toDouble() : -1;
    if (w < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide)
        fail(QStringLiteral("--size needs WIDTHxHEIGHT in points (1 to %1), not '%2'")
                 .arg(kMaxImageSide)
                 .arg(text));
    return {w, h};
}

AppModel::RenderingMode generatorValue(const QString& text) {
    if (text == QLatin1String("cpu"))
        return AppModel::RenderingMode::cpu;
    if (text == QLatin1String("filter"))
        return AppModel::RenderingMode::imageFilter;
    if (text == QLatin1String("gpu"))
        return AppModel::RenderingMode::gpu;
    fail(QStringLiteral("--generator needs gpu, filter or cpu, not '%1'").arg(text));
}

QString failureText(FrameImage::Failure failure) {
    using Failure = FrameImage::Failure;
    switch (failure) {
    case Failure::none:
        break;
    case Failure::noTileSet:
        return QStringLiteral("no tile set to render");
    case Failure::noPatch:
        return QStringLiteral("no patch could be made");
    case Failure::noCanvas:
        return QStringLiteral("the canvas could not be made");
    case Failure::noRightEye:
        return QStringLiteral("the right eye could not be made");
    case Failure::noMemory:
        return QStringLiteral("no memory for the stereo pair");
    }
    return {};
}

int run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Renders one frame of the Gabor field to a PNG (a stereo pair side by "
                       "side)."));
    parser.addHelpOption();
    const auto option = [&parser](const char* name, const char* help, const char* valueName,
                                  const char* fallback) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help),
                                            QString::fromLatin1(valueName),
                                            QString::fromLatin1(fallback)));
    };
    option("seed", "Pattern seed, decimal or 0x hex.", "n", "0");
    option("size", "View size in points.", "WxH", "800x600");
    option("scale", "Backing scale, pixels per point.", "s", "1");
    option("patch-size", "Largest patch size in pixels.", "p", "128");
    option("phase", "Carrier phase in radians.", "rad", "0");
    option("breathing-phase", "Breathing phase in radians.", "rad", "0");
    option("disparity", "Stereo phase disparity in units of pi.", "d", "0.25");
    option("columns", "Autostereogram strip columns (2 to 6).", "n", "3");
    option("black-level", "Black level of the colour tint.", "b", "1");
    option("render-scale", "Render scale, 0.4 to 1.", "r", "1");
    option("generator", "gpu, filter (image filter) or cpu.", "name", "gpu");
    parser.addOption(QCommandLineOption(QStringLiteral("stereo"), QStringLiteral("Stereo pair.")));
    parser.addOption(
        QCommandLineOption(QStringLiteral("autostereogram"), QStringLiteral("Autostereogram.")));
    parser.addOption(
        QCommandLineOption(QStringLiteral("color"), QStringLiteral("Tint every set.")));
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("The PNG to write."));

    if (!parser.parse(arguments))
        fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.positionalArguments().size() != 1)
        fail(QStringLiteral("exactly one output file is needed"));
    const bool stereo = parser.isSet(QStringLiteral("stereo"));
    const bool autostereogram = parser.isSet(QStringLiteral("autostereogram"));
    if (stereo && autostereogram)
        fail(QStringLiteral("--stereo and --autostereogram exclude each other"));

    const std::uint64_t seed = seedValue(parser.value(QStringLiteral("seed")));
    const QSizeF size = sizeValue(parser.value(QStringLiteral("size")));
    const double scale = number(parser, QStringLiteral("scale"), 0.1, 8);
    const double patchSize = number(parser, QStringLiteral("patch-size"), 1, kMaxImageSide);
    const double big = 1e6;
    const double phase = number(parser, QStringLiteral("phase"), -big, big);
    const double breathingPhase = number(parser, QStringLiteral("breathing-phase"), -big, big);
    const double disparity = number(parser, QStringLiteral("disparity"), -big, big);
    const qint64 columns = wholeNumber(parser, QStringLiteral("columns"), 2, 6);
    const double blackLevel = number(parser, QStringLiteral("black-level"), 0, 1);
    const double renderScale = number(parser, QStringLiteral("render-scale"), 0.4, 1);
    const AppModel::RenderingMode generator =
        generatorValue(parser.value(QStringLiteral("generator")));

    // Its own settings in memory: the user's settings file is never touched.
    AppModel model(std::make_shared<MemoryPreferencesStore>());
    model.setRenderingMode(generator);
    model.setAnimationRenderScale(renderScale);
    model.setIsStereoscopicMode(stereo);
    model.setIsAutostereogramMode(autostereogram);
    model.setStereoPhaseDisparity(disparity);
    model.setSirdsStripColumns(columns);
    model.setIsColorMode(parser.isSet(QStringLiteral("color")));

    RenderState state(model);
    state.setBackingScaleProvider([scale] { return scale; });
    state.patternSeed = seed;
    state.viewSize = size;
    state.maxPatchSize = patchSize;
    state.phase = phase;
    state.breathingPhase = breathingPhase;
    state.prepareAnimationTiles();

    RenderSnapshot snapshot = state.takeSnapshot(true);
    // The application pins the black level at 1; figures may want another.
    snapshot.colorModeBlackLevel = blackLevel;
    // The window's image export makes its picture the same way.
    const FrameImage frame =
        renderFrameImage(snapshot, seed, model.renderingMode(), model.animationRenderScale(),
                         state.sirdsShiftCache());
    if (frame.failure != FrameImage::Failure::none)
        fail(failureText(frame.failure));
    const QString path = parser.positionalArguments().constFirst();
    if (const QString error = savePng(frame.image, path); !error.isEmpty())
        fail(error);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fputs("lumenweave-render: no display; run it under xvfb-run -a\n", stderr);
        return 2;
    }
    // Past a file-size limit a write should fail and be reported, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QGuiApplication app(argc, argv);
    try {
        return run(app.arguments());
    } catch (const Failure& failure) {
        std::fprintf(stderr, "lumenweave-render: %s\n", qPrintable(failure.message));
        return 1;
    }
}
