#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

// The typed key-value store behind the settings model. Every write is durable
// (synced) before it returns.
class PreferencesStore {
public:
    virtual ~PreferencesStore() = default;

    // The value last written under key, in this or an earlier run; an invalid
    // QVariant when there is none. Values read back from a file may be strings.
    virtual QVariant objectForKey(const QString& key) const = 0;

    virtual void setBool(const QString& key, bool value) = 0;
    virtual void setDouble(const QString& key, double value) = 0;
    virtual void setInteger(const QString& key, qint64 value) = 0;
    virtual void setObject(const QString& key, const QString& value) = 0;
};

// Strict typed reads: a value that is not exactly of the kind asked for gives nothing.
std::optional<double> readDouble(const QVariant& value);  // finite numbers only
std::optional<qint64> readInteger(const QVariant& value); // whole numbers only
std::optional<bool> readBool(const QVariant& value);      // true / false only

// QSettings in its native format. The default constructor uses organization and
// application "Lumenweave" ($XDG_CONFIG_HOME/Lumenweave/Lumenweave.conf).
class QSettingsPreferencesStore : public PreferencesStore {
public:
    QSettingsPreferencesStore();
    explicit QSettingsPreferencesStore(const QString& iniFilePath);
    ~QSettingsPreferencesStore() override;

    QVariant objectForKey(const QString& key) const override;
    void setBool(const QString& key, bool value) override;
    void setDouble(const QString& key, double value) override;
    void setInteger(const QString& key, qint64 value) override;
    void setObject(const QString& key, const QString& value) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Keeps the values in memory, for tests and tools. Values are held with their
// native types; put() places a raw value (a string, say) as a file might hold it.
class MemoryPreferencesStore : public PreferencesStore {
public:
    QVariant objectForKey(const QString& key) const override;
    void setBool(const QString& key, bool value) override;
    void setDouble(const QString& key, double value) override;
    void setInteger(const QString& key, qint64 value) override;
    void setObject(const QString& key, const QString& value) override;

    void put(const QString& key, const QVariant& value) { m_values.insert(key, value); }
    const QHash<QString, QVariant>& values() const { return m_values; }
    // Number of set* calls so far; put() does not count.
    int writeCount() const { return m_writeCount; }

private:
    void write(const QString& key, const QVariant& value);

    QHash<QString, QVariant> m_values;
    int m_writeCount = 0;
};
