#include "FrameRatePolicy.h"
#include "DisplayLinkAdapter.h"
#include "SystemLoadMonitor.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

TEST(FrameRatePolicy, RateTableAndTheLoadItTakes) {
    using T = ThermalState;
    const AnimationActivity phase60{.phase = true, .maxFPS = 60};
    const AnimationActivity illuminant{.illuminant = true};
    const struct Row {
        const char* what;
        AnimationActivity activity;
        bool lowPower;
        ThermalState thermal;
        std::optional<double> rate;
    } rows[] = {
        {"phase, cap 60", phase60, false, T::nominal, 60.0},
        {"low power and serious", phase60, true, T::serious, 15.0},
        {"cap above 120", {.phase = true, .maxFPS = 200}, false, T::nominal, 120.0},
        {"cap below the floor", {.phase = true, .maxFPS = 2}, false, T::nominal, 15.0},
        {"fair heat", phase60, false, T::fair, 45.0},
        {"spin, cap 120", {.spin = true, .maxFPS = 120}, false, T::nominal, 60.0},
        {"spin, cap 10", {.spin = true, .maxFPS = 10}, false, T::nominal, 15.0},
        {"illuminant alone", illuminant, false, T::nominal, 30.0},
        {"illuminant, low power", illuminant, true, T::nominal, 15.0},
        {"breathing alone", {.breathing = true}, false, T::nominal, 15.0},
        {"rotation, spin", {.rotation = true, .spin = true, .maxFPS = 90}, false, T::nominal, 90},
        {"nothing active", {}, false, T::nominal, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(animationFrameRate(row.activity, loadFactor(row.lowPower, row.thermal)),
                  row.rate);
    }
    EXPECT_DOUBLE_EQ(loadFactor(true, T::critical), 0.125);

    // The load: the zones' trip points, read from sysfs, and the power profile.
    using Zone = ThermalZoneReading;
    const Zone cool{40000, {{"active", 60000}, {"passive", 90000}, {"critical", 105000}}};
    const Zone fan{65000, cool.trips};
    EXPECT_EQ(thermalStateFromZones({}), ThermalState::nominal);
    EXPECT_EQ(thermalStateFromZones({cool, Zone{50000, {{"passive", 0}}}}), ThermalState::nominal);
    EXPECT_EQ(thermalStateFromZones({cool, fan}), ThermalState::fair);
    EXPECT_EQ(thermalStateFromZones({Zone{92000, cool.trips}, fan}), ThermalState::serious);
    EXPECT_EQ(thermalStateFromZones({cool, Zone{106000, cool.trips}}), ThermalState::critical);

    QTemporaryDir root;
    const QString zone = root.filePath(QStringLiteral("thermal_zone0"));
    ASSERT_TRUE(QDir().mkpath(zone));
    auto write = [&](const char* name, const QByteArray& value) {
        QFile f(zone + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(value + "\n");
    };
    write("temp", "45000");
    write("trip_point_0_type", "passive");
    write("trip_point_0_temp", "80000");

    SystemLoadMonitor monitor(root.path(), false);
    EXPECT_EQ(monitor.thermalState(), ThermalState::nominal);
    QSignalSpy thermal(&monitor, &SystemLoadMonitor::thermalStateChanged);
    QSignalSpy power(&monitor, &SystemLoadMonitor::powerStateChanged);

    write("temp", "85000");
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

TEST(DisplayLinkAdapter, StartsTicksAndStops) {
    // The interval: first tick, equal stamps, a stall and time going backwards use the duration.
    const std::pair<DisplayLinkFrame, double> cases[] = {
        {{1.0, 1.25, 1.0 / 30}, 0.25}, {{std::nullopt, 5.0, 0.04}, 0.04},
        {{2.0, 2.0, 0.04}, 0.04},      {{2.0, 3.0, 0.04}, 0.04},
        {{3.0, 2.0, 0.04}, 0.04},      {{2.0, 2.0, 0.0}, 1.0 / 60}};
    for (const auto& [frame, interval] : cases)
        EXPECT_DOUBLE_EQ(DisplayLinkAdapter::frameInterval(frame), interval);

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

    ASSERT_TRUE(QTest::qWaitFor([&] { return intervals.size() >= 3; }, 5000));
    for (double dt : intervals)
        EXPECT_TRUE(dt > 0.0 && dt < 1.0) << dt;
    adapter.stop();
    EXPECT_EQ(adapter.link(), nullptr);
    const size_t count = intervals.size();
    // Time for three ticks, as another link at the same rate counts it.
    DisplayLinkAdapter witness;
    int witnessTicks = 0;
    witness.setCallback([&](double) { ++witnessTicks; });
    witness.start(30);
    ASSERT_TRUE(QTest::qWaitFor([&] { return witnessTicks >= 3; }, 5000));
    EXPECT_EQ(intervals.size(), count);
}
