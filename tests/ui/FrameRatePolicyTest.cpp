#include "FrameRatePolicy.h"
#include "DisplayLinkAdapter.h"
#include "SystemLoadMonitor.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

AnimationActivity phaseAt(double cap) {
    AnimationActivity a;
    a.phase = true;
    a.maxFPS = cap;
    return a;
}

} // namespace

TEST(FrameRatePolicy, RateTable) {
    struct Row {
        const char* what;
        AnimationActivity activity;
        bool lowPower;
        ThermalState thermal;
        std::optional<double> rate;
    };
    AnimationActivity spin120;
    spin120.spin = true;
    spin120.maxFPS = 120;
    AnimationActivity spin10 = spin120;
    spin10.maxFPS = 10;
    AnimationActivity illuminant;
    illuminant.illuminant = true;
    AnimationActivity breathing;
    breathing.breathing = true;
    AnimationActivity rotationAndSpin;
    rotationAndSpin.rotation = true;
    rotationAndSpin.spin = true;
    rotationAndSpin.maxFPS = 90;

    const Row rows[] = {
        {"phase, cap 60", phaseAt(60), false, ThermalState::nominal, 60.0},
        {"low power and serious", phaseAt(60), true, ThermalState::serious, 15.0},
        {"cap above 120", phaseAt(200), false, ThermalState::nominal, 120.0},
        {"cap below the floor", phaseAt(2), false, ThermalState::nominal, 15.0},
        {"fair heat", phaseAt(60), false, ThermalState::fair, 45.0},
        {"spin, cap 120", spin120, false, ThermalState::nominal, 60.0},
        {"spin, cap 10", spin10, false, ThermalState::nominal, 15.0},
        {"illuminant alone", illuminant, false, ThermalState::nominal, 30.0},
        {"illuminant, low power", illuminant, true, ThermalState::nominal, 15.0},
        {"illuminant, critical", illuminant, false, ThermalState::critical, 15.0},
        {"breathing alone", breathing, false, ThermalState::nominal, 15.0},
        {"rotation beats spin cap", rotationAndSpin, false, ThermalState::nominal, 90.0},
        {"nothing active", AnimationActivity{}, false, ThermalState::nominal, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(animationFrameRate(row.activity, loadFactor(row.lowPower, row.thermal)),
                  row.rate);
    }
    EXPECT_DOUBLE_EQ(loadFactor(true, ThermalState::critical), 0.125);
}

TEST(DisplayLinkAdapter, IntervalFallsBackToDurationThenSixtieth) {
    EXPECT_DOUBLE_EQ(DisplayLinkAdapter::frameInterval({1.0, 1.25, 1.0 / 30}), 0.25);
    // First tick, equal stamps, a stall and time going backwards use the duration.
    EXPECT_DOUBLE_EQ(DisplayLinkAdapter::frameInterval({std::nullopt, 5.0, 0.04}), 0.04);
    EXPECT_DOUBLE_EQ(DisplayLinkAdapter::frameInterval({2.0, 2.0, 0.04}), 0.04);
    EXPECT_DOUBLE_EQ(DisplayLinkAdapter::frameInterval({2.0, 3.0, 0.04}), 0.04);
    EXPECT_DOUBLE_EQ(DisplayLinkAdapter::frameInterval({3.0, 2.0, 0.04}), 0.04);
    EXPECT_DOUBLE_EQ(DisplayLinkAdapter::frameInterval({2.0, 2.0, 0.0}), 1.0 / 60);
}

TEST(DisplayLinkAdapter, StartsTicksAndStops) {
    DisplayLinkAdapter adapter;
    std::vector<double> intervals;
    adapter.setCallback([&](double dt) { intervals.push_back(dt); });
    adapter.start(60);
    ASSERT_NE(adapter.link(), nullptr);
    EXPECT_EQ(adapter.link()->range(), (FrameRateRange{5.0f, 60.0f, 60.0f}));
    QPointer<DisplayLink> first = adapter.link();

    adapter.start(30); // a retune replaces the link
    ASSERT_NE(adapter.link(), first.data());
    EXPECT_TRUE(first.isNull() || !first->isValid());
    EXPECT_EQ(adapter.link()->range().maximum, 30.0f);

    QTRY_VERIFY_WITH_TIMEOUT(intervals.size() >= 3, 5000);
    for (double dt : intervals) {
        EXPECT_GT(dt, 0.0);
        EXPECT_LT(dt, 1.0);
    }
    adapter.stop();
    EXPECT_EQ(adapter.link(), nullptr);
    const size_t count = intervals.size();
    QTest::qWait(100);
    EXPECT_EQ(intervals.size(), count);
}

TEST(SystemLoadMonitor, ThermalStateFromTripPoints) {
    using Zone = ThermalZoneReading;
    const Zone cool{40000, {{"active", 60000}, {"passive", 90000}, {"critical", 105000}}};
    const Zone fan{65000, cool.trips};
    const Zone throttling{92000, cool.trips};
    const Zone hot{106000, cool.trips};
    const Zone placeholder{50000, {{"passive", 0}}};
    EXPECT_EQ(thermalStateFromZones({}), ThermalState::nominal);
    EXPECT_EQ(thermalStateFromZones({cool, placeholder}), ThermalState::nominal);
    EXPECT_EQ(thermalStateFromZones({cool, fan}), ThermalState::fair);
    EXPECT_EQ(thermalStateFromZones({throttling, fan}), ThermalState::serious);
    EXPECT_EQ(thermalStateFromZones({cool, hot}), ThermalState::critical);
}

TEST(SystemLoadMonitor, ReadsSysfsAndSignalsOnlyOnChange) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString zone = root.filePath(QStringLiteral("thermal_zone0"));
    ASSERT_TRUE(QDir().mkpath(zone));
    auto write = [&](const QString& name, const QByteArray& value) {
        QFile f(zone + QLatin1Char('/') + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(value + "\n");
    };
    write(QStringLiteral("temp"), "45000");
    write(QStringLiteral("trip_point_0_type"), "passive");
    write(QStringLiteral("trip_point_0_temp"), "80000");

    SystemLoadMonitor monitor(root.path(), false);
    EXPECT_EQ(monitor.thermalState(), ThermalState::nominal);
    QSignalSpy thermal(&monitor, &SystemLoadMonitor::thermalStateChanged);
    QSignalSpy power(&monitor, &SystemLoadMonitor::powerStateChanged);

    write(QStringLiteral("temp"), "85000");
    monitor.pollThermalState();
    monitor.pollThermalState();
    EXPECT_EQ(monitor.thermalState(), ThermalState::serious);
    EXPECT_EQ(thermal.count(), 1);

    monitor.setActivePowerProfile(QStringLiteral("power-saver"));
    monitor.setActivePowerProfile(QStringLiteral("power-saver"));
    EXPECT_TRUE(monitor.isLowPowerModeEnabled());
    monitor.setActivePowerProfile(QStringLiteral("balanced"));
    EXPECT_FALSE(monitor.isLowPowerModeEnabled());
    EXPECT_EQ(power.count(), 2);
}
