#include "AppModel.h"

#include <QMetaMethod>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Records every AppModel signal in emission order.
class SignalLog : public QObject {
    Q_OBJECT
public:
    explicit SignalLog(AppModel& model) {
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("record()"));
        const QMetaObject* meta = model.metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                connect(&model, meta->method(i), this, slot);
        }
    }
    QStringList names;

public slots:
    void record() {
        names << QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name());
    }
};

struct Fixture {
    std::shared_ptr<MemoryPreferencesStore> store = std::make_shared<MemoryPreferencesStore>();
    QVariant stored(const char* key) const { return store->objectForKey(QLatin1String(key)); }
};

} // namespace

TEST(AppModel, EmptyStoreGivesDefaultsAndWritesOnlyTheTwoFixedKeys) {
    Fixture f;
    AppModel m(f.store);
    EXPECT_EQ(m.maxPatchSize(), 128.0);
    EXPECT_EQ(m.displayGamma(), 1.0);
    EXPECT_EQ(m.sirdsStripColumns(), 3);
    EXPECT_EQ(m.renderingMode(), AppModel::RenderingMode::metal);
    EXPECT_FALSE(m.isStereoscopicMode() || m.isAutostereogramMode() || m.isAnyAnimationEnabled());
    EXPECT_EQ(f.store->values().size(), 2);
    EXPECT_EQ(f.stored("renderingMode").toString(), QStringLiteral("Metal"));
    EXPECT_EQ(f.stored("colorModeBlackLevel").toDouble(), 1.0);
}

TEST(AppModel, RestoreAppliesTheRulesAndWritesBack) {
    Fixture f;
    f.store->put("sirdsStripColumns", QStringLiteral("9"));
    f.store->put("displayGamma", QStringLiteral("0.2"));
    f.store->put("displayBlackLift", QStringLiteral("-1"));
    f.store->put("renderingMode", QStringLiteral("CPU"));
    f.store->put("colorModeBlackLevel", QStringLiteral("0.3"));
    f.store->put("isStereoscopicMode", QStringLiteral("true"));
    f.store->put("isAutostereogramMode", QStringLiteral("true"));
    f.store->put("maxPatchSize", QStringLiteral("1e308"));
    f.store->put("rotationAnimationSpeed", QStringLiteral("-1e308"));
    AppModel m(f.store);

    EXPECT_EQ(m.sirdsStripColumns(), 6);
    EXPECT_EQ(f.stored("sirdsStripColumns").toLongLong(), 6);
    EXPECT_EQ(m.displayGamma(), 0.5);
    EXPECT_EQ(f.stored("displayGamma").toDouble(), 0.5);
    EXPECT_EQ(m.displayBlackLift(), 0.0);
    EXPECT_EQ(f.stored("displayBlackLift").toDouble(), 0.0);
    EXPECT_EQ(m.renderingMode(), AppModel::RenderingMode::metal);
    EXPECT_EQ(f.stored("renderingMode").toString(), QStringLiteral("Metal"));
    EXPECT_EQ(m.colorModeBlackLevel(), 1.0);
    EXPECT_EQ(f.stored("colorModeBlackLevel").toDouble(), 1.0);
    // The later key wins the exclusion, and both are rewritten.
    EXPECT_TRUE(m.isAutostereogramMode());
    EXPECT_FALSE(m.isStereoscopicMode());
    EXPECT_EQ(f.stored("isStereoscopicMode"), QVariant(false));
    EXPECT_EQ(f.stored("isAutostereogramMode"), QVariant(true));
    // Finite values outside what the controls offer are kept as stored.
    EXPECT_EQ(m.maxPatchSize(), 1e308);
    EXPECT_EQ(m.rotationAnimationSpeed(), -1e308);

    Fixture low;
    low.store->put("sirdsStripColumns", qint64(1));
    low.store->put("displayGamma", 3.0);
    EXPECT_EQ(AppModel(low.store).sirdsStripColumns(), 2);
    EXPECT_EQ(low.stored("displayGamma").toDouble(), 2.0);
}

TEST(AppModel, UnreadableOrUnsafeStoredValuesKeepTheDefaultAndStayInTheStore) {
    Fixture f;
    const QString huge(400, QLatin1Char('9'));
    f.store->put("maxPatchSize", QStringLiteral("abc"));
    f.store->put("animationMaxFPS", huge);
    f.store->put("phaseAnimationSpeed", QStringLiteral("nan"));
    f.store->put("animationRenderScale", QStringLiteral("inf"));
    f.store->put("randomSpinInterval", QStringLiteral("0"));
    f.store->put("sirdsStripColumns", QStringLiteral("2.5"));
    f.store->put("isColorMode", QStringLiteral("1"));
    f.store->put("displayGamma", true);
    AppModel m(f.store);

    EXPECT_EQ(m.maxPatchSize(), 128.0);
    EXPECT_EQ(m.animationMaxFPS(), 30.0);
    EXPECT_EQ(m.phaseAnimationSpeed(), 1.0);
    EXPECT_EQ(m.animationRenderScale(), 1.0);
    EXPECT_EQ(m.randomSpinInterval(), 2.0);
    EXPECT_EQ(m.sirdsStripColumns(), 3);
    EXPECT_FALSE(m.isColorMode());
    EXPECT_EQ(m.displayGamma(), 1.0);
    EXPECT_EQ(f.stored("maxPatchSize").toString(), QStringLiteral("abc"));
    EXPECT_EQ(f.stored("animationMaxFPS").toString(), huge);
    EXPECT_EQ(f.stored("randomSpinInterval").toString(), QStringLiteral("0"));
    EXPECT_EQ(f.stored("isColorMode").toString(), QStringLiteral("1"));

    Fixture negative;
    negative.store->put("randomSpinInterval", -3.0);
    EXPECT_EQ(AppModel(negative.store).randomSpinInterval(), 2.0);
    Fixture positive;
    positive.store->put("randomSpinInterval", QStringLiteral("0.5"));
    EXPECT_EQ(AppModel(positive.store).randomSpinInterval(), 0.5);
}

TEST(AppModel, ClampedAssignmentNotifiesTwiceAndStoresTheClampedValue) {
    Fixture f;
    AppModel m(f.store);
    QList<double> seen;
    QObject::connect(&m, &AppModel::displayGammaChanged, [&] { seen << m.displayGamma(); });
    SignalLog log(m);
    m.setDisplayGamma(3.0);
    EXPECT_EQ(m.displayGamma(), 2.0);
    EXPECT_EQ(f.stored("displayGamma").toDouble(), 2.0);
    EXPECT_EQ(log.names,
              (QStringList{"displayGammaChanged", "changed", "displayGammaChanged", "changed"}));
    // Observers never see the unclamped value.
    EXPECT_EQ(seen, (QList<double>{2.0, 2.0}));

    m.setSirdsStripColumns(-100);
    EXPECT_EQ(m.sirdsStripColumns(), 2);
    m.setDisplayBlackLift(1.5);
    EXPECT_EQ(m.displayBlackLift(), 1.0);
    m.setColorModeBlackLevel(0.5);
    EXPECT_EQ(m.colorModeBlackLevel(), 1.0);
    EXPECT_EQ(f.stored("colorModeBlackLevel").toDouble(), 1.0);
    // A NaN must not recurse without end.
    m.setDisplayGamma(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(m.displayGamma(), 0.5);
}

TEST(AppModel, SameValueWritesTheStoreButNotifiesNobody) {
    Fixture f;
    AppModel m(f.store);
    SignalLog log(m);
    const int before = f.store->writeCount();
    m.setMaxPatchSize(128.0);
    m.setIsColorMode(false);
    m.setSirdsStripColumns(3);
    m.setDisplayGamma(1.0);
    EXPECT_TRUE(log.names.isEmpty());
    EXPECT_EQ(f.store->writeCount(), before + 4);
    EXPECT_EQ(f.stored("maxPatchSize").toDouble(), 128.0);

    m.setMaxPatchSize(64.0);
    EXPECT_EQ(log.names, (QStringList{"maxPatchSizeChanged", "changed"}));
    EXPECT_EQ(f.stored("maxPatchSize").toDouble(), 64.0);
}

TEST(AppModel, DepthModesExcludeEachOtherBothWays) {
    Fixture f;
    AppModel m(f.store);
    m.setIsStereoscopicMode(true);
    QList<std::pair<bool, bool>> seen;
    QObject::connect(&m, &AppModel::changed, [&] {
        seen << std::pair{m.isStereoscopicMode(), m.isAutostereogramMode()};
    });
    SignalLog log(m);
    m.setIsAutostereogramMode(true);
    EXPECT_FALSE(m.isStereoscopicMode());
    EXPECT_TRUE(m.isAutostereogramMode());
    EXPECT_EQ(f.stored("isStereoscopicMode"), QVariant(false));
    EXPECT_EQ(f.stored("isAutostereogramMode"), QVariant(true));
    EXPECT_EQ(log.names, (QStringList{"isStereoscopicModeChanged", "changed",
                                      "isAutostereogramModeChanged", "changed"}));
    // Both modes are never seen on together.
    for (const auto& [stereo, autostereo] : seen)
        EXPECT_FALSE(stereo && autostereo);

    m.setIsStereoscopicMode(true);
    EXPECT_TRUE(m.isStereoscopicMode());
    EXPECT_FALSE(m.isAutostereogramMode());
    EXPECT_EQ(f.stored("isAutostereogramMode"), QVariant(false));
    // Turning one off leaves the other alone.
    m.setIsAutostereogramMode(false);
    EXPECT_TRUE(m.isStereoscopicMode());
}

TEST(AppModel, TransientPropertiesNotifyButNeverWrite) {
    Fixture f;
    AppModel m(f.store);
    SignalLog log(m);
    const int before = f.store->writeCount();
    const QUuid nonce = m.randomizeNonce();
    m.requestRandomize();
    EXPECT_NE(m.randomizeNonce(), nonce);
    m.setIsAnimationPaused(!m.isAnimationPaused());
    EXPECT_TRUE(m.isAnimationPaused());
    m.setIsAnimationPaused(true);
    EXPECT_EQ(log.names, (QStringList{"randomizeNonceChanged", "changed",
                                      "isAnimationPausedChanged", "changed"}));
    EXPECT_EQ(f.store->writeCount(), before);
}

TEST(AppModel, AnyAnimationIgnoresIlluminantAndPause) {
    Fixture f;
    AppModel m(f.store);
    m.setIsIlluminantMode(true);
    EXPECT_FALSE(m.isAnyAnimationEnabled());
    m.setIsBreathingEnabled(true);
    m.setIsAnimationPaused(true);
    EXPECT_TRUE(m.isAnyAnimationEnabled());
}

TEST(AppModel, ResetRestoresDefaultsAndRewritesEveryKey) {
    Fixture f;
    AppModel m(f.store);
    m.setShowStatusBar(true);
    m.setDisplayGamma(1.7);
    m.setSirdsStripColumns(5);
    m.setIsCrossEyedStereo(true);
    m.setIsAutostereogramMode(true);
    m.setIsAnimationPaused(true);
    m.resetToDefaults();
    EXPECT_EQ(m.displayGamma(), 1.0);
    EXPECT_EQ(m.sirdsStripColumns(), 3);
    EXPECT_FALSE(m.isCrossEyedStereo() || m.isAutostereogramMode() || m.isStereoscopicMode());
    EXPECT_EQ(f.stored("isAutostereogramMode"), QVariant(false));
    EXPECT_EQ(f.stored("isStereoscopicMode"), QVariant(false));
    // Not part of the reset.
    EXPECT_TRUE(m.showStatusBar());
    EXPECT_TRUE(m.isAnimationPaused());

    // At defaults: nobody hears of it, yet all twenty keys are written again.
    SignalLog log(m);
    const int before = f.store->writeCount();
    m.resetToDefaults();
    EXPECT_TRUE(log.names.isEmpty());
    EXPECT_EQ(f.store->writeCount(), before + 20);
}

TEST(AppModel, SettingsFileRoundTripsBetweenRuns) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const QString file = config.filePath(QStringLiteral("Lumenweave/Lumenweave.conf"));
    {
        AppModel first;
        first.setMaxPatchSize(64.0);
        first.setPhaseAnimationSpeed(0.1 + 0.2); // needs all 17 digits in the file
        first.setIsRotationAnimationEnabled(true);
        first.setDisplayBlackLift(0.004);
        first.setSirdsStripColumns(5);
        first.setIsAnimationPaused(true);
        // On disk as soon as the assignment returns.
        EXPECT_EQ(QSettings(file, QSettings::IniFormat).value("maxPatchSize").toDouble(), 64.0);
    }
    {
        QSettings raw(file, QSettings::IniFormat);
        raw.setValue(QStringLiteral("displayGamma"), QStringLiteral("abc"));
    }
    AppModel second;
    EXPECT_EQ(second.maxPatchSize(), 64.0);
    EXPECT_EQ(second.phaseAnimationSpeed(), 0.1 + 0.2);
    EXPECT_TRUE(second.isRotationAnimationEnabled());
    EXPECT_EQ(second.displayBlackLift(), 0.004);
    EXPECT_EQ(second.sirdsStripColumns(), 5);
    EXPECT_FALSE(second.isAnimationPaused());
    EXPECT_EQ(second.displayGamma(), 1.0);
    EXPECT_EQ(QSettings(file, QSettings::IniFormat).value(QStringLiteral("displayGamma")),
              QVariant(QStringLiteral("abc")));
}

#include "AppModelTest.moc"
