#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <vector>

enum class ThermalState { nominal, fair, serious, critical };

// One thermal zone as sysfs reports it: the current temperature and its trip
// points, in millidegrees Celsius.
struct ThermalZoneReading {
    struct Trip {
        QString type; // "active", "passive", "hot", "critical"
        long long temperature = 0;
    };
    long long temperature = 0;
    std::vector<Trip> trips;
};

// The worst state over all zones: an active (fan) trip reached is fair, a
// passive (throttling) trip serious, a hot or critical trip critical.
ThermalState thermalStateFromZones(const std::vector<ThermalZoneReading>& zones);

// Reads every thermal_zone* below a sysfs thermal folder; unreadable zones are left out.
std::vector<ThermalZoneReading> readThermalZones(const QString& thermalRoot);

// Low-power mode and thermal pressure of the machine, for the frame-rate policy.
// Low power is power-profiles-daemon's "power-saver" profile on the system bus;
// the thermal state is polled from sysfs. Both read normal where unavailable.
class SystemLoadMonitor : public QObject {
    Q_OBJECT
public:
    explicit SystemLoadMonitor(QObject* parent = nullptr);
    // Without the D-Bus side; thermal zones from thermalRoot (tests).
    SystemLoadMonitor(const QString& thermalRoot, bool watchPowerProfile,
                      QObject* parent = nullptr);

    bool isLowPowerModeEnabled() const { return m_lowPower; }
    ThermalState thermalState() const { return m_thermal; }

    // Reads the thermal zones now (the poll does this every few seconds).
    void pollThermalState();
    // Takes a power profile name as the daemon reports it.
    void setActivePowerProfile(const QString& profile);

signals:
    void powerStateChanged();
    void thermalStateChanged();

private slots:
    void onPowerProfilesPropertiesChanged(const QString& interfaceName,
                                          const QVariantMap& changedProperties,
                                          const QStringList& invalidatedProperties);

private:
    void watchPowerProfile();

    QString m_thermalRoot;
    QTimer m_pollTimer;
    bool m_lowPower = false;
    ThermalState m_thermal = ThermalState::nominal;
};
