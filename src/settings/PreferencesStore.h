#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

// The typed key-value store behind the settings model, and behind anything else
// the application keeps between runs (window geometry, say, under "Window/...").
// A key may name a group: "Group/key". Main thread only.
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

    // Makes every value written so far durable now (quit, a closing window, a
    // termination signal). A store that keeps nothing on disk has nothing to do.
    virtual void flush() {}
};

// Strict typed reads: a value that is not exactly of the kind asked for gives nothing.
std::optional<double> readDouble(const QVariant& value);  // finite numbers only
std::optional<qint64> readInteger(const QVariant& value); // whole numbers only
std::optional<bool> readBool(const QVariant& value);      // true / false only

// The settings file, in QSettings' INI format. Values are kept in memory and
// reach the file at most once per kFlushIntervalMs while they keep changing, on
// flush() and on destruction; a value equal to what the file holds writes
// nothing. A write replaces the file whole (a crash leaves the old or the new
// one) and touches only the lines of the keys written: keys of other programs and
// lines this code would write differently stay byte for byte. A symlink is
// written through when it leads to a regular file; when the path leads to
// anything else (a device, a FIFO, a directory, nowhere), nothing is read or
// written, one line on standard error says so, and the values live in memory.
class FilePreferencesStore : public PreferencesStore {
public:
    static constexpr int kFlushIntervalMs = 250;

    // $XDG_CONFIG_HOME/Lumenweave/Lumenweave.conf
    FilePreferencesStore();
    explicit FilePreferencesStore(const QString& path);
    ~FilePreferencesStore() override;

    static QString defaultPath();
    QString path() const;
    // Values written that the file does not hold yet.
    bool hasPendingChanges() const;

    QVariant objectForKey(const QString& key) const override;
    void setBool(const QString& key, bool value) override;
    void setDouble(const QString& key, double value) override;
    void setInteger(const QString& key, qint64 value) override;
    void setObject(const QString& key, const QString& value) override;
    void flush() override;

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
