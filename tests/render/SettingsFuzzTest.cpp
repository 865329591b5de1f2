// Hostile settings files through the real file store, the settings model, the
// tile set and the animation clock. Every file comes from its own seed, printed
// with any failure, so that a failure reproduces.
#include "IniDocument.h"
#include "RenderTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace {

const QByteArrayList kOwnedKeys =
    QByteArray("maxPatchSize phaseAnimationSpeed rotationAnimationSpeed isPhaseAnimationEnabled "
               "isRotationAnimationEnabled animationMaxFPS animationRenderScale renderingMode "
               "showStatusBar isRandomTileSpinEnabled isBreathingEnabled randomSpinInterval "
               "isStereoscopicMode stereoPhaseDisparity isColorMode colorModeBlackLevel "
               "isIlluminantMode isColorInverted displayGamma displayBlackLift "
               "isAutostereogramMode sirdsStripColumns isCrossEyedStereo stereoLayout "
               "stereoPairWidth stereoPairGap showFusionMarks")
        .split(' ');

using Rng = std::mt19937_64;

template <typename T> const T& pick(Rng& rng, std::initializer_list<T> list) {
    return list.begin()[rng() % list.size()];
}

QByteArray junk(Rng& rng, int length) {
    QByteArray bytes;
    for (int i = 0; i < length; ++i)
        bytes += rng() % 4 == 0 ? pick(rng, {'\n', '\0', '[', ']', '=', ';', '"', '\\', ',', '@'})
                                : char(rng() % 256);
    return bytes;
}

QByteArray hostileValue(Rng& rng) {
    switch (rng() % 8) {
    case 0: // plausible
        return pick<QByteArray>(rng, {"true", "false", "1", "3", "0.5", "64", "192", "Metal", "2",
                                      "cross", "anaglyph"});
    case 1:
        return pick<QByteArray>(rng, {"1e308", "-1e308", "5e-324", "1e400", "-0", "1e-400"});
    case 2:
        return pick<QByteArray>(rng, {"nan", "NaN", "inf", "-inf", "Infinity", "+inf", "1e999"});
    case 3:
        return pick<QByteArray>(rng, {"abc", "TRUE", "yes", "1.5", "@Invalid()", "@ByteArray(x)",
                                      "1, 2", "\"quoted\"", "", "0x10", " 7 "});
    case 4:
        return QByteArray(int(rng() % 20000), pick(rng, {'9', 'x', ' '}));
    case 5:
        return junk(rng, int(rng() % 40));
    case 6:
        return "\"open quote";
    default:
        return "trailing\\";
    }
}

// A value for one of the application's keys: mostly of its kind (a switch on,
// a number at the ends of the doubles), else anything.
QByteArray valueFor(const QByteArray& key, Rng& rng) {
    if (rng() % 3 == 0)
        return hostileValue(rng);
    if (key.startsWith("is") || key.startsWith("show"))
        return rng() % 4 == 0 ? "false" : "true";
    return pick<QByteArray>(rng, {"1e308", "-1e308", "0.5", "3", "0", "-2"});
}

QByteArray hostileFile(Rng& rng) {
    QByteArray text;
    if (rng() % 3 != 0) // else the keys come without their group
        text += pick<QByteArray>(rng, {"[General]\n", "[general]\r\n", "  [General]  \n"});
    for (const QByteArray& key : kOwnedKeys)
        if (rng() % 3 != 0)
            text += key + '=' + valueFor(key, rng) + '\n';
    const int lines = int(rng() % 30);
    for (int i = 0; i < lines; ++i) {
        switch (rng() % 4) {
        case 0:
            text += junk(rng, int(rng() % 60)) + '\n';
            break;
        case 1:
            text += pick<QByteArray>(rng, {"[Window]\n", "[General]\n", "[Other%20Group]\n",
                                           ";comment\n", "#hash=1\n", "\n"});
            break;
        case 2: // keys of other programs, some of them odd
            text += pick<QByteArray>(rng, {"theirs", "a%20b", "x\\y", "Window\\geometry",
                                           "%U00e9t%C3%A9", "odd"}) +
                    '=' + hostileValue(rng) + '\n';
            break;
        default: { // the application's own again: duplicates
            const QByteArray key = kOwnedKeys[qsizetype(rng() % kOwnedKeys.size())];
            text +=
                key + '=' + valueFor(key, rng) + pick<QByteArray>(rng, {"\n", "\r\n", " ; note\n"});
        }
        }
    }
    return text;
}

// The settings the file should give back: those a reset sets, and the status bar.
QVariantList persisted(const AppModel& m) {
    return m.resettableValues() << m.showStatusBar();
}

// What a user can do meanwhile, through the panel's presets and switches.
void changeSomething(AppModel& m, Rng& rng) {
    const std::function<void()> changes[] = {
        [&] {
            m.setPhaseAnimationSpeed(pick(rng, {0.25, 1.0, 2.0}));
        },
        [&] { m.setIsRandomTileSpinEnabled(!m.isRandomTileSpinEnabled()); },
        [&] { m.setIsRotationAnimationEnabled(!m.isRotationAnimationEnabled()); },
        [&] { m.setIsAnimationPaused(!m.isAnimationPaused()); },
        [&] { m.setIsStereoscopicMode(!m.isStereoscopicMode()); },
        [&] {
            m.setMaxPatchSize(pick(rng, {64.0, 128.0, 192.0}));
        }};
    changes[rng() % std::size(changes)]();
}

} // namespace

TEST(SettingsFuzz, HostileFilesNeitherPoisonThePictureNorLoseOtherKeys) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Lumenweave.conf"));
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("file seed " + std::to_string(seed));
        Rng rng(seed);
        const QByteArray text = hostileFile(rng);
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text);
        }
        QHash<QString, QVariant> others = IniDocument(text).values();
        for (const QByteArray& key : kOwnedKeys)
            others.remove(QString::fromLatin1(key));

        QVariantList settings;
        {
            AppModel model(std::make_shared<FilePreferencesStore>(path));
            RenderState state(model);
            state.setExecutor([](std::function<void()>) {}); // no passes: the clock alone
            state.setRandomSource({[&rng](std::int64_t n) { return std::int64_t(rng() % n); },
                                   [&rng](double a, double b) {
                                       return a + (b - a) * double(rng() >> 11) * 0x1p-53;
                                   }});
            const double scale = pick(rng, {1.0, 1.5, 2.0});
            state.setBackingScaleProvider([scale] { return scale; });
            state.patternSeed = rng();
            state.viewSize = QSizeF(1 + rng() % 1600, 1 + rng() % 1200);
            state.lastProxy = state.viewSize;
            state.maxPatchSize = model.maxPatchSize();
            state.prepareAnimationTiles();

            const CanvasGeometry g = canvasGeometry(
                state.viewSize.width(), state.viewSize.height(), scale, state.maxPatchSize,
                model.isAutostereogramMode(), model.isStereoscopicMode(), model.sirdsStripColumns(),
                model.stereoLayout(), state.stereoPairSize());
            EXPECT_TRUE(g.P >= 16 && g.P <= kMaxImageSide && g.canvasW <= kMaxImageSide &&
                        g.canvasH <= kMaxImageSide);
            EXPECT_TRUE(g.renderW >= 1 && g.renderH >= 1 && g.renderH <= g.canvasH &&
                        (model.isAutostereogramMode() || g.renderW <= g.canvasW));
            EXPECT_LE(state.tiles.animationTileVariantIndices.size(),
                      size_t(g.canvasW) * size_t(g.canvasH));

            const double nan = std::numeric_limits<double>::quiet_NaN();
            for (int tick = 0; tick < 300; ++tick) {
                if (tick % 50 == 49) {
                    changeSomething(model, rng);
                    state.maxPatchSize = model.maxPatchSize();
                    state.clearTileSet();
                    state.prepareAnimationTiles();
                }
                state.animationTick(pick(rng, {1.0 / 60, 1.0 / 30, 0.0, -1.0, nan, 1e308, 0.5}));
            }
            EXPECT_TRUE(std::isfinite(state.phase) && std::isfinite(state.breathingPhase) &&
                        std::isfinite(state.illuminantHue));
            for (const TileParams& set : state.tiles.animationTileParams)
                EXPECT_LT(std::abs(set.orientation), 360.0);
            for (const TileSpin& spin : state.randomSpinTiles)
                EXPECT_TRUE(spin.rotDeg >= 0 && spin.rotDeg < 540);
            EXPECT_TRUE(std::isfinite(state.takeSnapshot(true).stereoPhaseOffset));
            settings = persisted(model);
        } // the model and its store go: the file is written

        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QHash<QString, QVariant> after = IniDocument(file.readAll()).values();
        for (auto it = others.cbegin(); it != others.cend(); ++it)
            EXPECT_EQ(after.value(it.key()), it.value()) << it.key().toStdString();
        // The file reads back as the settings the run ended with, and holds
        // every value the start assigns: nothing to write.
        const auto store = std::make_shared<FilePreferencesStore>(path);
        const AppModel reread(store);
        EXPECT_EQ(persisted(reread), settings);
        EXPECT_FALSE(store->hasPendingChanges());
        if (HasFailure())
            break;
    }
}
