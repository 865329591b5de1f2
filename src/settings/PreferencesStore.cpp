#include "PreferencesStore.h"

#include <QSettings>
#include <cmath>

namespace {

bool isNumericType(int typeId) {
    switch (typeId) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

// The whole string must be a number; QString::toDouble accepts no trailing text.
std::optional<double> parseDouble(const QVariant& value) {
    const int typeId = value.metaType().id();
    bool ok = false;
    double d = 0.0;
    if (isNumericType(typeId)) {
        d = value.toDouble(&ok);
    } else if (typeId == QMetaType::QString) {
        d = value.toString().toDouble(&ok);
    }
    if (!ok)
        return std::nullopt;
    return d;
}

} // namespace

std::optional<double> readDouble(const QVariant& value) {
    const auto d = parseDouble(value);
    if (!d || !std::isfinite(*d))
        return std::nullopt;
    return d;
}

std::optional<qint64> readInteger(const QVariant& value) {
    const int typeId = value.metaType().id();
    if (typeId == QMetaType::Int || typeId == QMetaType::LongLong || typeId == QMetaType::UInt)
        return value.toLongLong();
    if (typeId == QMetaType::QString) {
        bool ok = false;
        const qint64 i = value.toString().toLongLong(&ok);
        if (ok)
            return i;
    }
    // "3.0" or a stored 3.0 still names a whole number; 2.5 or 1e30 do not.
    const auto d = readDouble(value);
    if (!d || std::trunc(*d) != *d || *d < -9.2e18 || *d > 9.2e18)
        return std::nullopt;
    return static_cast<qint64>(*d);
}

std::optional<bool> readBool(const QVariant& value) {
    const int typeId = value.metaType().id();
    if (typeId == QMetaType::Bool)
        return value.toBool();
    if (typeId == QMetaType::QString) {
        const QString s = value.toString();
        if (s == QLatin1String("true"))
            return true;
        if (s == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

struct QSettingsPreferencesStore::Impl {
    std::unique_ptr<QSettings> settings;

    void write(const QString& key, const QVariant& value) {
        settings->setValue(key, value);
        settings->sync();
    }
};

QSettingsPreferencesStore::QSettingsPreferencesStore() : d(std::make_unique<Impl>()) {
    d->settings =
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                    QStringLiteral("Lumenweave"), QStringLiteral("Lumenweave"));
}

QSettingsPreferencesStore::QSettingsPreferencesStore(const QString& iniFilePath)
    : d(std::make_unique<Impl>()) {
    d->settings = std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat);
}

QSettingsPreferencesStore::~QSettingsPreferencesStore() = default;

QVariant QSettingsPreferencesStore::objectForKey(const QString& key) const {
    return d->settings->value(key);
}

void QSettingsPreferencesStore::setBool(const QString& key, bool value) {
    d->write(key, value);
}

void QSettingsPreferencesStore::setDouble(const QString& key, double value) {
    d->write(key, value);
}

void QSettingsPreferencesStore::setInteger(const QString& key, qint64 value) {
    d->write(key, value);
}

void QSettingsPreferencesStore::setObject(const QString& key, const QString& value) {
    d->write(key, value);
}

QVariant MemoryPreferencesStore::objectForKey(const QString& key) const {
    return m_values.value(key);
}

void MemoryPreferencesStore::setBool(const QString& key, bool value) {
    write(key, value);
}

void MemoryPreferencesStore::setDouble(const QString& key, double value) {
    write(key, value);
}

void MemoryPreferencesStore::setInteger(const QString& key, qint64 value) {
    write(key, value);
}

void MemoryPreferencesStore::setObject(const QString& key, const QString& value) {
    write(key, value);
}

void MemoryPreferencesStore::write(const QString& key, const QVariant& value) {
    m_values.insert(key, value);
    ++m_writeCount;
}
