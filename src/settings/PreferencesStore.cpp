#include "PreferencesStore.h"

#include "IniDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMap>
#include <QSaveFile>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Makes folder and the folders above it; 0, or the errno of what failed.
int makeFolders(const QString& folder) {
    const QByteArray native = QFile::encodeName(QDir::cleanPath(folder));
    for (qsizetype slash = native.indexOf('/', 1);; slash = native.indexOf('/', slash + 1)) {
        const QByteArray part = slash == -1 ? native : native.left(slash);
        if (::mkdir(part.constData(), 0777) != 0 && errno != EEXIST)
            return errno;
        if (slash == -1)
            return 0;
    }
}

constexpr int kLockWaitMs = 3000;

// The file's writer. Shared by the store and the writer's thread, so that a
// write still running when the store goes away (a quit that waited long
// enough) finishes on its own.
struct SettingsWriter {
    explicit SettingsWriter(QString filePath) : path(std::move(filePath)) {}

    const QString path;
    std::mutex lock;
    std::condition_variable wake;
    QMap<QString, QVariant> unwritten; // handed over, not yet in the file
    std::uint64_t requested = 0;       // writes asked for
    std::uint64_t attempted = 0;       // of those, ended (written or failed)
    bool stopping = false;
    std::atomic<bool> troubleReported{false}; // one line per spell of trouble

    void report(const QString& line) {
        if (troubleReported.exchange(true))
            return;
        std::fputs(qPrintable(QStringLiteral("[設定] ") + line + QLatin1Char('\n')), stderr);
        std::fflush(stderr);
    }

    // The file's current text (empty when there is none yet); nothing when it
    // cannot be read or must not be touched.
    std::optional<QByteArray> read(Target& target) {
        target = resolveTarget(path);
        if (!target.problem.isEmpty()) {
            report(QStringLiteral("設定は保存されません: %1: %2").arg(path, target.problem));
            return std::nullopt;
        }
        if (!target.exists)
            return QByteArray();
        QFile file(target.path);
        errno = 0;
        if (!file.open(QIODevice::ReadOnly)) {
            const QString why = errno ? systemError(errno) : file.errorString();
            report(QStringLiteral("設定を読めません: %1: %2").arg(path, why));
            return std::nullopt;
        }
        return file.readAll();
    }

    void run() {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            wake.wait(guard, [this] { return stopping || attempted < requested; });
            if (attempted >= requested)
                return;
            const std::uint64_t target = requested;
            const QMap<QString, QVariant> values = unwritten;
            guard.unlock();
            const bool written = write(values);
            guard.lock();
            // A value changed again meanwhile is still to be written.
            for (auto it = values.cbegin(); written && it != values.cend(); ++it) {
                if (unwritten.value(it.key()) == it.value())
                    unwritten.remove(it.key());
            }
            attempted = target;
            wake.notify_all();
        }
    }

    // One read-merge-write under the lock file, which QSettings takes too: two
    // instances quitting at once each add their keys to what the other wrote.
    bool write(const QMap<QString, QVariant>& values) {
        Target target = resolveTarget(path);
        if (!target.problem.isEmpty()) {
            report(QStringLiteral("設定は保存されません: %1: %2").arg(path, target.problem));
            return false;
        }
        if (!target.exists) {
            if (const int error = makeFolders(QFileInfo(target.path).absolutePath()))
                return failed(systemError(error));
        }
        QLockFile fileLock(target.path + QStringLiteral(".lock"));
        if (!fileLock.tryLock(kLockWaitMs))
            return failed(lockProblem(fileLock, target.path));
        const std::optional<QByteArray> text = read(target);
        if (!text)
            return false;
        IniDocument document(*text);
        document.setValues(values);
        if (document.text() != *text && !replace(target, document.text()))
            return false;
        troubleReported = false;
        return true;
    }

    bool replace(const Target& target, const QByteArray& text) {
        QSaveFile file(target.path);
        errno = 0;
        // commit() misses a failure of its own last flush, so flush first.
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush() ||
            !file.commit())
            return failed(errno ? systemError(errno) : file.errorString());
        return true;
    }

    bool failed(const QString& why) {
        report(QStringLiteral("設定を保存できません: %1: %2").arg(path, why));
        return false;
    }

    static QString lockProblem(const QLockFile& fileLock, const QString& file) {
        switch (fileLock.error()) {
        case QLockFile::LockFailedError:
            return QStringLiteral("ほかのプロセスが設定ファイルをロックしたままです");
        case QLockFile::PermissionError: {
            // The folder's own trouble: no right to write there, or read-only.
            const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
            return systemError(::access(folder.constData(), W_OK) != 0 ? errno : EACCES);
        }
        default:
            return QStringLiteral("ロックファイルを作れません");
        }
    }
};

} // namespace

struct FilePreferencesStore::Impl {
    std::shared_ptr<SettingsWriter> writer;
    std::thread thread;                 // the writer's, from the first write on
    QHash<QString, QVariant> values;    // as read, then as written
    QHash<QString, QVariant> fileHolds; // what the file holds once the writer is done
    QMap<QString, QVariant> pending;    // written here, not yet handed to the writer
    QTimer timer;

    explicit Impl(const QString& filePath) : writer(std::make_shared<SettingsWriter>(filePath)) {
        timer.setSingleShot(true);
        timer.setInterval(kFlushIntervalMs);
        QObject::connect(&timer, &QTimer::timeout, [this] { flushSoon(); });
        Target target;
        if (const auto text = writer->read(target))
            fileHolds = values = IniDocument(*text).values();
    }

    ~Impl() {
        flush();
        {
            std::lock_guard<std::mutex> guard(writer->lock);
            writer->stopping = true;
        }
        writer->wake.notify_all();
        if (!thread.joinable())
            return;
        bool idle = false;
        {
            std::lock_guard<std::mutex> guard(writer->lock);
            idle = writer->attempted >= writer->requested;
        }
        // A write that outlasted the wait finishes on its own; the process
        // may end first.
        if (idle)
            thread.join();
        else
            thread.detach();
    }

    void set(const QString& key, const QVariant& value) {
        values.insert(key, value);
        if (holds(fileHolds.value(key), value))
            pending.remove(key);
        else
            pending.insert(key, value);
        if (!pending.isEmpty() && !timer.isActive())
            timer.start();
    }

    void flushSoon() {
        timer.stop();
        {
            std::lock_guard<std::mutex> guard(writer->lock);
            // A failed write is tried again with the next one.
            if (pending.isEmpty() && writer->unwritten.isEmpty())
                return;
            for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
                writer->unwritten.insert(it.key(), it.value());
                fileHolds.insert(it.key(), it.value());
            }
            pending.clear();
            ++writer->requested;
        }
        if (!thread.joinable())
            thread = std::thread([shared = writer] { shared->run(); });
        writer->wake.notify_all();
    }

    void flush() {
        flushSoon();
        std::unique_lock<std::mutex> guard(writer->lock);
        const std::uint64_t target = writer->requested;
        writer->wake.wait_for(guard, std::chrono::milliseconds(kFlushWaitMs),
                              [&] { return writer->attempted >= target; });
    }

    bool hasPendingChanges() {
        std::lock_guard<std::mutex> guard(writer->lock);
        return !pending.isEmpty() || !writer->unwritten.isEmpty();
    }
};

FilePreferencesStore::FilePreferencesStore() : FilePreferencesStore(defaultPath()) {}

FilePreferencesStore::FilePreferencesStore(const QString& path) : d(std::make_unique<Impl>(path)) {}

FilePreferencesStore::~FilePreferencesStore() = default;

QString FilePreferencesStore::defaultPath() {
    return configHome() + QStringLiteral("/Lumenweave/Lumenweave.conf");
}

QString FilePreferencesStore::configHome() {
    // A relative $XDG_CONFIG_HOME is to be ignored, not taken from wherever
    // the program was started.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    QString home = qEnvironmentVariable("HOME");
    if (!QDir::isAbsolutePath(home)) {
        if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
            home = QFile::decodeName(user->pw_dir);
    }
    return QDir::cleanPath(home + QStringLiteral("/.config"));
}

QString FilePreferencesStore::path() const {
    return d->writer->path;
}

bool FilePreferencesStore::hasPendingChanges() const {
    return d->hasPendingChanges();
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

void FilePreferencesStore::flushSoon() {
    d->flushSoon();
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
