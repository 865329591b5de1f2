#include "SystemLoadMonitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <optional>

namespace {

const char* const kService = "net.hadess.PowerProfiles";
const char* const kPath = "/net/hadess/PowerProfiles";
const char* const kInterface = "net.hadess.PowerProfiles";
const char* const kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr int kThermalPollMs = 5000;

std::optional<long long> readMillidegrees(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const long long value = file.readAll().trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

QString readText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll().trimmed());
}

ThermalState stateOfTrip(const QString& type) {
    if (type == QLatin1String("critical") || type == QLatin1String("hot"))
        return ThermalState::critical;
    if (type == QLatin1String("passive"))
        return ThermalState::serious;
    if (type == QLatin1String("active"))
        return ThermalState::fair;
    return ThermalState::nominal;
}

} // namespace

ThermalState thermalStateFromZones(const std::vector<ThermalZoneReading>& zones) {
    ThermalState worst = ThermalState::nominal;
    for (const auto& zone : zones) {
        for (const auto& trip : zone.trips) {
            // A zero or negative trip is a placeholder that some drivers report.
            if (trip.temperature > 0 && zone.temperature >= trip.temperature)
                worst = std::max(worst, stateOfTrip(trip.type));
        }
    }
    return worst;
}

std::vector<ThermalZoneReading> readThermalZones(const QString& thermalRoot) {
    std::vector<ThermalZoneReading> zones;
    const QDir root(thermalRoot);
    const QStringList names =
        root.entryList({QStringLiteral("thermal_zone*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString dir = root.filePath(name);
        const auto temperature = readMillidegrees(dir + QStringLiteral("/temp"));
        if (!temperature)
            continue;
        ThermalZoneReading zone;
        zone.temperature = *temperature;
        for (int i = 0;; ++i) {
            const QString prefix = dir + QStringLiteral("/trip_point_%1_").arg(i);
            const auto tripTemp = readMillidegrees(prefix + QStringLiteral("temp"));
            if (!tripTemp)
                break;
            zone.trips.push_back({readText(prefix + QStringLiteral("type")), *tripTemp});
        }
        zones.push_back(std::move(zone));
    }
    return zones;
}

SystemLoadMonitor::SystemLoadMonitor(QObject* parent)
    : SystemLoadMonitor(QStringLiteral("/sys/class/thermal"), true, parent) {}

SystemLoadMonitor::SystemLoadMonitor(const QString& thermalRoot, bool watchPowerProfiles,
                                     QObject* parent)
    : QObject(parent), m_thermalRoot(thermalRoot) {
    m_thermal = thermalStateFromZones(readThermalZones(m_thermalRoot));
    m_pollTimer.setInterval(kThermalPollMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &SystemLoadMonitor::pollThermalState);
    m_pollTimer.start();
    if (watchPowerProfiles)
        watchPowerProfile();
}

void SystemLoadMonitor::pollThermalState() {
    const ThermalState state = thermalStateFromZones(readThermalZones(m_thermalRoot));
    if (state == m_thermal)
        return;
    m_thermal = state;
    emit thermalStateChanged();
}

void SystemLoadMonitor::setActivePowerProfile(const QString& profile) {
    const bool lowPower = profile == QLatin1String("power-saver");
    if (lowPower == m_lowPower)
        return;
    m_lowPower = lowPower;
    emit powerStateChanged();
}

void SystemLoadMonitor::watchPowerProfile() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                QString::fromLatin1(kPropertiesInterface), QStringLiteral("PropertiesChanged"),
                this, SLOT(onPowerProfilesPropertiesChanged(QString, QVariantMap, QStringList)));
    // Asked asynchronously so that a missing daemon never delays the window.
    QDBusMessage get = QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), QString::fromLatin1(kPath),
        QString::fromLatin1(kPropertiesInterface), QStringLiteral("Get"));
    get << QString::fromLatin1(kInterface) << QStringLiteral("ActiveProfile");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<QDBusVariant> reply = *call;
                if (!reply.isError())
                    setActivePowerProfile(reply.value().variant().toString());
                call->deleteLater();
            });
}

void SystemLoadMonitor::onPowerProfilesPropertiesChanged(const QString& interfaceName,
                                                         const QVariantMap& changedProperties,
                                                         const QStringList&) {
    if (interfaceName != QLatin1String(kInterface))
        return;
    const auto it = changedProperties.find(QStringLiteral("ActiveProfile"));
    if (it != changedProperties.end())
        setActivePowerProfile(it->toString());
}
