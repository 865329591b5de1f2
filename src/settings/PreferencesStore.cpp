#include "PreferencesStore.h"

#include "IniDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

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

namespace {

QString fileKind(mode_t mode) {
    if (S_ISCHR(mode))
        return QStringLiteral("キャラクタデバイス");
    if (S_ISBLK(mode))
        return QStringLiteral("ブロックデバイス");
    if (S_ISFIFO(mode))
        return QStringLiteral("FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("ソケット");
    if (S_ISDIR(mode))
        return QStringLiteral("ディレクトリ");
    return QStringLiteral("特殊なファイル");
}

// Where the settings go: the path itself, or the regular file a symlink leads
// to. Anything else is a problem, and nothing is read or written.
struct Target {
    QString path;
    bool exists = false;
    QString problem;
};

Target resolveTarget(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) {
        if (errno == ENOENT)
            return {path, false, {}};
        return {{}, false, QString::fromLocal8Bit(std::strerror(errno))};
    }
    if (S_ISREG(st.st_mode))
        return {path, true, {}};
    if (!S_ISLNK(st.st_mode))
        return {{},
                false,
                QStringLiteral("通常のファイルではありません（%1）").arg(fileKind(st.st_mode))};
    if (::stat(native.constData(), &st) != 0)
        return {{}, false, QStringLiteral("リンク先がありません")};
    if (!S_ISREG(st.st_mode))
        return {{},
                false,
                QStringLiteral("リンク先が通常のファイルではありません（%1）")
                    .arg(fileKind(st.st_mode))};
    return {QFileInfo(path).canonicalFilePath(), true, {}};
}

// Equal as the settings model reads it: "64" on disk is the double 64.
bool holds(const QVariant& stored, const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return readBool(stored) == value.toBool();
    case QMetaType::Double:
        return readDouble(stored) == value.toDouble();
    case QMetaType::LongLong:
        return readInteger(stored) == value.toLongLong();
    default:
        return stored.typeId() == QMetaType::QString && stored.toString() == value.toString();
    }
}

} // namespace

struct FilePreferencesStore::Impl {
    QString path;
    QHash<QString, QVariant> values; // as read, then as written
    QHash<QString, QVariant> onDisk; // what the file holds, as far as is known
    QMap<QString, QVariant> pending; // written here, not yet in the file
    QTimer timer;
    bool troubleReported = false; // one line per spell of trouble

    explicit Impl(const QString& filePath) : path(filePath) {
        timer.setSingleShot(true);
        timer.setInterval(kFlushIntervalMs);
        QObject::connect(&timer, &QTimer::timeout, [this] { flush(); });
        if (const auto text = read())
            onDisk = values = IniDocument(*text).values();
    }

    void report(const QString& line) {
        if (troubleReported)
            return;
        troubleReported = true;
        std::fputs(qPrintable(QStringLiteral("[設定] ") + line + QLatin1Char('\n')), stderr);
        std::fflush(stderr);
    }

    // The file's current text (empty when there is none yet); nothing when it
    // cannot be read or must not be touched.
    std::optional<QByteArray> read(Target* where = nullptr) {
        const Target target = resolveTarget(path);
        if (where)
            *where = target;
        if (!target.problem.isEmpty()) {
            report(QStringLiteral("設定は保存されません: %1: %2").arg(path, target.problem));
            return std::nullopt;
        }
        if (!target.exists)
            return QByteArray();
        QFile file(target.path);
        if (!file.open(QIODevice::ReadOnly)) {
            report(QStringLiteral("設定を読めません: %1: %2").arg(path, file.errorString()));
            return std::nullopt;
        }
        return file.readAll();
    }

    void set(const QString& key, const QVariant& value) {
        values.insert(key, value);
        if (holds(onDisk.value(key), value))
            pending.remove(key);
        else
            pending.insert(key, value);
        if (!pending.isEmpty() && !timer.isActive())
            timer.start();
    }

    void flush() {
        timer.stop();
        if (pending.isEmpty())
            return;
        // Edits go onto the file as it is now, so keys another program wrote
        // since this one started stay too.
        Target target;
        const auto text = read(&target);
        if (!text)
            return;
        IniDocument document(*text);
        for (auto it = pending.cbegin(); it != pending.cend(); ++it)
            document.setValue(it.key(), it.value());
        if (document.text() != *text && !write(target, document.text()))
            return;
        for (auto it = pending.cbegin(); it != pending.cend(); ++it)
            onDisk.insert(it.key(), it.value());
        pending.clear();
        troubleReported = false;
    }

    bool write(const Target& target, const QByteArray& text) {
        if (!target.exists)
            QDir().mkpath(QFileInfo(target.path).absolutePath());
        QSaveFile file(target.path);
        // commit() misses a failure of its own last flush, so flush first.
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush() ||
            !file.commit()) {
            report(QStringLiteral("設定を保存できません: %1: %2").arg(path, file.errorString()));
            return false;
        }
        return true;
    }
};

FilePreferencesStore::FilePreferencesStore() : FilePreferencesStore(defaultPath()) {}

FilePreferencesStore::FilePreferencesStore(const QString& path) : d(std::make_unique<Impl>(path)) {}

FilePreferencesStore::~FilePreferencesStore() {
    d->flush();
}

QString FilePreferencesStore::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Lumenweave/Lumenweave.conf");
}

QString FilePreferencesStore::path() const {
    return d->path;
}

bool FilePreferencesStore::hasPendingChanges() const {
    return !d->pending.isEmpty();
}

QVariant FilePreferencesStore::objectForKey(const QString& key) const {
    return d->values.value(key);
}

void FilePreferencesStore::setBool(const QString& key, bool value) {
    d->set(key, value);
}

void FilePreferencesStore::setDouble(const QString& key, double value) {
    d->set(key, value);
}

void FilePreferencesStore::setInteger(const QString& key, qint64 value) {
    d->set(key, value);
}

void FilePreferencesStore::setObject(const QString& key, const QString& value) {
    d->set(key, value);
}

void FilePreferencesStore::flush() {
    d->flush();
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
