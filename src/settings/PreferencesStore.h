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

    // Makes every value written so far durable now (quit, a termination
    // signal), waiting a bounded time. A store that keeps nothing on disk has
    // nothing to do.
    virtual void flush() {}
    // Starts making them durable and returns at once (a closing window).
    virtual void flushSoon() { flush(); }
};

// Strict typed reads: a value that is not exactly of the kind asked for gives nothing.
std::optional<double> readDouble(const QVariant& value);  // finite numbers only
std::optional<qint64> readInteger(const QVariant& value); // whole numbers only
std::optional<bool> readBool(const QVariant& value);      // true / false only

// The settings file, in QSettings' INI format. Values are kept in memory and
// reach the file at most once per kFlushIntervalMs while they keep changing, on
// flush() and on destruction; a value equal to what the file holds writes
// nothing. The file is written by a thread of the store's own: under a lock
// file beside it (Lumenweave.conf.lock, as QSettings takes), the file is read
// afresh, only the lines of the keys written are edited (keys of other programs
// or instances and lines this code would write differently stay byte for
// byte), and the file is replaced whole (a crash leaves the old or the new
// one). A symlink is written through when it leads to a regular file; when the
// path leads to anything else (a device, a FIFO, a directory, nowhere), nothing
// is read or written, one line on standard error says so, and the values live
// in memory.
class FilePreferencesStore : public PreferencesStore {
public:
    static constexpr int kFlushIntervalMs = 250;
    // flush() waits no longer than this for the writer.
    static constexpr int kFlushWaitMs = 5000;

    // <configHome()>/Lumenweave/Lumenweave.conf
    FilePreferencesStore();
    explicit FilePreferencesStore(const QString& path);
    ~FilePreferencesStore() override;

    static QString defaultPath();
    // $XDG_CONFIG_HOME when it is an absolute path, else ~/.config, the home
    // folder taken from the user database when $HOME is unset or relative.
    static QString configHome();
    QString path() const;
    // Values written that the file does not hold yet.
    bool hasPendingChanges() const;

    QVariant objectForKey(const QString& key) const override;
    void setBool(const QString& key, bool value) override;
    void setDouble(const QString& key, double value) override;
    void setInteger(const QString& key, qint64 value) override;
    void setObject(const QString& key, const QString& value) override;
    void flush() override;
    void flushSoon() override;

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
