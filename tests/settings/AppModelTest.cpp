#include "AppModel.h"

#include <QMetaMethod>
#include <gtest/gtest.h>

namespace {

// Records every AppModel signal in emission order.
class SignalLog : public QObject {
    Q_OBJECT
public:
    explicit SignalLog(AppModel& model) {
        const QMetaObject* meta = model.metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                connect(&model, meta->method(i), this,
                        metaObject()->method(metaObject()->indexOfSlot("record()")));
    }
    QStringList names;

public slots:
    void record() { names << sender()->metaObject()->method(senderSignalIndex()).name(); }
};

// A model restored from a store holding `entries`.
struct Fixture {
    explicit Fixture(std::initializer_list<std::pair<const char*, QVariant>> entries = {})
        : store(std::make_shared<MemoryPreferencesStore>()) {
        for (const auto& [key, value] : entries)
            store->put(QLatin1String(key), value);
        model = std::make_unique<AppModel>(store);
    }
    QVariant stored(const char* key) const { return store->objectForKey(QLatin1String(key)); }
    std::shared_ptr<MemoryPreferencesStore> store;
    std::unique_ptr<AppModel> model;
};

class AppModelTest : public ::testing::Test, public Fixture {
protected:
    AppModel& m = *model;
};

} // namespace

TEST(AppModel, RestoreClampsRewritesKeepsUnreadableValuesAndReadsTheOlderLayoutKey) {
    struct Row {
        const char* key;
        QVariant raw;
        double (AppModel::*get)() const;
        double expected;
        bool unreadable = false; // the default is used and the raw value stays
    } rows[] = {
        {"displayGamma", QStringLiteral("0.2"), &AppModel::displayGamma, 0.5},
        {"displayBlackLift", QStringLiteral("-1"), &AppModel::displayBlackLift, 0.0},
        {"colorModeBlackLevel", QStringLiteral("0.3"), &AppModel::colorModeBlackLevel, 1.0},
        // Finite values outside what the controls offer are kept.
        {"maxPatchSize", QStringLiteral("1e308"), &AppModel::maxPatchSize, 1e308},
        {"rotationAnimationSpeed", -1e308, &AppModel::rotationAnimationSpeed, -1e308},
        {"randomSpinInterval", QStringLiteral("0.5"), &AppModel::randomSpinInterval, 0.5},
        {"maxPatchSize", QStringLiteral("abc"), &AppModel::maxPatchSize, 128.0, true},
        {"randomSpinInterval", QStringLiteral("0"), &AppModel::randomSpinInterval, 2.0, true},
        {"randomSpinInterval", -3.0, &AppModel::randomSpinInterval, 2.0, true},
        {"stereoPairWidth", QStringLiteral("-5"), &AppModel::stereoPairWidth, 0.0},
        {"stereoPairGap", 1e9, &AppModel::stereoPairGap, 20.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key + (": " + row.raw.toString().left(10).toStdString()));
        Fixture f({{row.key, row.raw}});
        EXPECT_EQ(((*f.model).*row.get)(), row.expected);
        if (row.unreadable)
            EXPECT_EQ(f.stored(row.key), row.raw);
        else
            EXPECT_EQ(f.stored(row.key).toDouble(), row.expected);
    }

    Fixture high({{"sirdsStripColumns", QStringLiteral("9")}, {"renderingMode", "CPU"}});
    EXPECT_EQ(high.model->sirdsStripColumns(), 6);
    EXPECT_EQ(high.stored("sirdsStripColumns").toLongLong(), 6);
    EXPECT_EQ(high.model->renderingMode(), AppModel::RenderingMode::gpu);
    EXPECT_EQ(high.stored("renderingMode").toString(), QStringLiteral("Metal"));
    EXPECT_EQ(Fixture({{"sirdsStripColumns", qint64(1)}}).model->sirdsStripColumns(), 2);

    // The later key wins the exclusion, and both are rewritten.
    Fixture both({{"isStereoscopicMode", "true"}, {"isAutostereogramMode", "true"}});
    EXPECT_TRUE(both.model->isAutostereogramMode());
    EXPECT_FALSE(both.model->isStereoscopicMode());
    EXPECT_EQ(both.stored("isStereoscopicMode"), QVariant(false));
    EXPECT_EQ(both.stored("isAutostereogramMode"), QVariant(true));

    // The stereo layout from its key, else from the older cross-eyed key.
    const QVariant none;
    struct LayoutRow {
        QVariant layout, crossEyed;
        StereoLayout expected;
    } layouts[] = {
        {none, none, StereoLayout::parallel},
        {none, QStringLiteral("true"), StereoLayout::cross},
        {QStringLiteral("interleaved"), QStringLiteral("true"), StereoLayout::interleaved},
        // What this build cannot read falls back, and stays in the file.
        {QStringLiteral("Anaglyph"), none, StereoLayout::parallel},
        {QStringLiteral("topBottom"), QStringLiteral("true"), StereoLayout::cross},
    };
    for (const LayoutRow& row : layouts) {
        SCOPED_TRACE(row.layout.toString().toStdString() + " / " +
                     row.crossEyed.toString().toStdString());
        Fixture f;
        if (row.layout.isValid())
            f.store->put(QStringLiteral("stereoLayout"), row.layout);
        if (row.crossEyed.isValid())
            f.store->put(QStringLiteral("isCrossEyedStereo"), row.crossEyed);
        f.model = std::make_unique<AppModel>(f.store);
        EXPECT_EQ(f.model->stereoLayout(), row.expected);
        const bool readable = StereoLayouts::fromRawValue(row.layout.toString()).has_value();
        EXPECT_EQ(f.stored("stereoLayout"),
                  readable ? QVariant(StereoLayouts::rawValue(row.expected)) : row.layout);
        EXPECT_EQ(f.stored("isCrossEyedStereo"),
                  readable ? QVariant(row.expected == StereoLayout::cross) : row.crossEyed);
    }
}

TEST_F(AppModelTest, ClampedAssignmentNotifiesTwiceAndDepthModesExcludeEachOther) {
    QList<double> seen;
    QObject::connect(&m, &AppModel::displayGammaChanged, [&] { seen << m.displayGamma(); });
    SignalLog log(m);
    m.setDisplayGamma(3.0);
    EXPECT_EQ(stored("displayGamma").toDouble(), 2.0);
    EXPECT_EQ(log.names,
              (QStringList{"displayGammaChanged", "changed", "displayGammaChanged", "changed"}));
    EXPECT_EQ(seen, (QList<double>{2.0, 2.0})); // never the unclamped value

    m.setSirdsStripColumns(-100);
    EXPECT_EQ(m.sirdsStripColumns(), 2);
    m.setDisplayBlackLift(1.5);
    EXPECT_EQ(m.displayBlackLift(), 1.0);
    m.setDisplayGamma(std::numeric_limits<double>::quiet_NaN()); // must not recurse forever
    EXPECT_EQ(m.displayGamma(), 0.5);

    // The depth modes exclude each other (stereo on is seen by the view test).
    m.setIsStereoscopicMode(true);
    bool bothSeen = false;
    QObject::connect(&m, &AppModel::changed,
                     [&] { bothSeen |= m.isStereoscopicMode() && m.isAutostereogramMode(); });
    log.names.clear();
    m.setIsAutostereogramMode(true);
    EXPECT_FALSE(m.isStereoscopicMode());
    EXPECT_EQ(stored("isStereoscopicMode"), QVariant(false));
    EXPECT_EQ(stored("isAutostereogramMode"), QVariant(true));
    EXPECT_EQ(log.names, (QStringList{"isStereoscopicModeChanged", "changed",
                                      "isAutostereogramModeChanged", "changed"}));
    EXPECT_FALSE(bothSeen);

    m.setIsStereoscopicMode(true);
    m.setIsAutostereogramMode(false); // turning one off leaves the other alone
    EXPECT_TRUE(m.isStereoscopicMode());
}

TEST_F(AppModelTest, EmptyStoreGivesDefaultsAndSameValuesWriteSilently) {
    EXPECT_FALSE(m.isStereoscopicMode() || m.isAutostereogramMode() || m.isAnyAnimationEnabled());
    EXPECT_EQ(store->values().size(), 2) << "only the two fixed keys";
    EXPECT_EQ(stored("renderingMode").toString(), QStringLiteral("Metal"));
    EXPECT_EQ(stored("colorModeBlackLevel").toDouble(), 1.0);

    SignalLog log(m);
    int writes = store->writeCount();
    m.setMaxPatchSize(128.0);
    m.setIsColorMode(false);
    m.setSirdsStripColumns(3);
    EXPECT_TRUE(log.names.isEmpty());
    EXPECT_EQ(store->writeCount(), writes + 3);
    m.setMaxPatchSize(64.0);
    EXPECT_EQ(log.names, (QStringList{"maxPatchSizeChanged", "changed"}));
    EXPECT_EQ(stored("maxPatchSize").toDouble(), 64.0);

    log.names.clear();
    writes = store->writeCount();
    const QUuid nonce = m.randomizeNonce();
    m.requestRandomize();
    EXPECT_NE(m.randomizeNonce(), nonce);
    m.setIsAnimationPaused(true);
    m.setIsAnimationPaused(true);
    EXPECT_EQ(log.names, (QStringList{"randomizeNonceChanged", "changed",
                                      "isAnimationPausedChanged", "changed"}));
    EXPECT_EQ(store->writeCount(), writes);

    // Neither the pause nor the illuminant drift counts as animation.
    m.setIsIlluminantMode(true);
    EXPECT_FALSE(m.isAnyAnimationEnabled());
    m.setIsBreathingEnabled(true);
    EXPECT_TRUE(m.isAnyAnimationEnabled());
}

TEST_F(AppModelTest, ResetRestoresDefaultsAndRewritesEveryKey) {
    m.setShowStatusBar(true);
    m.setDisplayGamma(1.7);
    m.setSirdsStripColumns(5);
    m.setStereoLayout(StereoLayout::anaglyph);
    m.setStereoPairWidth(6);
    m.setIsAutostereogramMode(true);
    m.setIsAnimationPaused(true);
    m.resetToDefaults();
    EXPECT_EQ(m.displayGamma(), 1.0);
    EXPECT_EQ(m.sirdsStripColumns(), 3);
    EXPECT_FALSE(m.stereoPairWidth() || m.isAutostereogramMode());
    EXPECT_EQ(m.stereoLayout(), StereoLayout::parallel);
    EXPECT_EQ(stored("isAutostereogramMode"), QVariant(false));
    EXPECT_TRUE(m.showStatusBar() && m.isAnimationPaused()); // not part of the reset

    // At defaults: nobody hears of it, yet every key is written again (the
    // layout under its key and the older cross-eyed one).
    SignalLog log(m);
    const int writes = store->writeCount();
    m.resetToDefaults();
    EXPECT_TRUE(log.names.isEmpty());
    EXPECT_EQ(store->writeCount(), writes + 24);
}

#include "AppModelTest.moc"
