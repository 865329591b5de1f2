#include "OutputFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("WriteFailure", text);
}

bool isStreamKind(mode_t mode) {
    return S_ISFIFO(mode) || S_ISCHR(mode);
}

WriteFailure::Refusal refusalFor(mode_t mode) {
    return S_ISDIR(mode) ? WriteFailure::Refusal::directory : WriteFailure::Refusal::notWritable;
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

} // namespace

QString WriteFailure::message() const {
    QString why;
    switch (refusal) {
    case Refusal::none:
        why = QString::fromLocal8Bit(std::strerror(errorNumber));
        break;
    case Refusal::directory:
        why = tr("フォルダです");
        break;
    case Refusal::notWritable:
        why = tr("通常のファイル、FIFO、キャラクタデバイスのどれでもないので、そのままにします");
        break;
    case Refusal::danglingLink:
        why = tr("シンボリックリンクの先がありません");
        break;
    case Refusal::other:
        why = detail;
        break;
    }
    return tr("%1 に書けません: %2").arg(path, why);
}

QString WriteFailure::reason() const {
    switch (refusal) {
    case Refusal::directory:
        return tr("同じ名前のフォルダがあります。");
    case Refusal::notWritable:
        return tr("通常のファイル、FIFO、キャラクタデバイスのどれでもないため、書き込みません。");
    case Refusal::danglingLink:
        return tr("リンク先のないシンボリックリンクです。");
    case Refusal::other:
        return tr("書き出すデータを作れませんでした。");
    case Refusal::none:
        break;
    }
    switch (errorNumber) {
    case ENOSPC:
        return tr("ディスクの空きが足りません。");
    case EDQUOT:
        return tr("ディスクの使用量の割り当てを超えました。");
    case EFBIG:
        return tr("ファイルの大きさの上限を超えました。");
    case EROFS:
        return tr("保存先は読み取り専用です。");
    case EACCES:
    case EPERM:
        return tr("保存先に書き込む権限がありません。");
    case ENOENT:
        return tr("保存先のフォルダがありません。");
    case ENOTDIR:
        return tr("保存先のパスの途中にフォルダでないものがあります。");
    case ENAMETOOLONG:
        return tr("ファイル名が長すぎます。");
    case ELOOP:
        return tr("シンボリックリンクが循環しています。");
    case EISDIR:
        return tr("同じ名前のフォルダがあります。");
    case ENXIO:
        return tr("FIFO を読むプログラムがありません。");
    case EPIPE:
        return tr("読み手が途中で読むのをやめました。");
    case EIO:
        return tr("装置の入出力エラーです。");
    case ECANCELED:
        return tr("書き出しを中止しました。");
    default:
        return tr("書き込みに失敗しました（エラー番号 %1）。").arg(errorNumber);
    }
}

OutputFile::Kind OutputFile::kindOf(const QString& path, WriteFailure* refusal) {
    auto refuse = [&](WriteFailure::Refusal why, int errorNumber) {
        if (refusal)
            *refusal = {path, why, errorNumber, {}};
        return Kind::refused;
    };
    if (path == QLatin1String("-"))
        return Kind::stream;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        return errno == ENOENT ? Kind::file : refuse(WriteFailure::Refusal::none, errno);
    if (S_ISREG(st.st_mode))
        return Kind::file;
    if (isStreamKind(st.st_mode))
        return Kind::stream;
    if (!S_ISLNK(st.st_mode))
        return refuse(refusalFor(st.st_mode), 0);
    if (::stat(native.constData(), &st) != 0)
        return errno == ENOENT ? refuse(WriteFailure::Refusal::danglingLink, 0)
                               : refuse(WriteFailure::Refusal::none, errno);
    if (S_ISREG(st.st_mode))
        return Kind::file;
    return isStreamKind(st.st_mode) ? Kind::stream : refuse(refusalFor(st.st_mode), 0);
}

OutputFile::OutputFile(QString path, std::chrono::milliseconds readerWait)
    : m_path(std::move(path)), m_readerWait(readerWait) {
    m_failure.path = m_path;
}

OutputFile::~OutputFile() {
    if (m_fd >= 0 && m_ownsFd)
        ::close(m_fd);
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
}

bool OutputFile::fail(int errorNumber) {
    if (m_failure.errorNumber == 0 && m_failure.refusal == WriteFailure::Refusal::none)
        m_failure.errorNumber = errorNumber;
    return false;
}

bool OutputFile::open() {
    m_kind = kindOf(m_path, &m_failure);
    if (m_kind == Kind::refused)
        return false;
    if (m_cancelled)
        return fail(ECANCELED);
    const QByteArray native = QFile::encodeName(m_path);
    if (m_kind == Kind::stream)
        return openStream(native);
    // Through a symlink the file it leads to is replaced, and the link stays.
    char resolved[PATH_MAX];
    const bool exists = ::realpath(native.constData(), resolved) != nullptr;
    return openTemporary(exists ? QByteArray(resolved) : native);
}

bool OutputFile::openTemporary(const QByteArray& target) {
    struct stat old {};
    const bool replacing = ::stat(target.constData(), &old) == 0;
    const QByteArray folder = folderOf(target);
    const QByteArray name = target.mid(target.lastIndexOf('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate =
            folder + "/." + name + '.' +
            QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
        // A new file gets the permissions the umask allows, as any other would.
        const int fd = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              replacing ? 0600 : 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return fail(errno);
        }
        m_fd = fd;
        m_ownsFd = true;
        m_temporary = candidate;
        m_target = target;
        if (replacing) {
            // The replacement keeps the old file's permissions and, where
            // allowed, its owner.
            ::fchmod(fd, old.st_mode & 07777);
            [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
        }
        return true;
    }
    return fail(EEXIST);
}

bool OutputFile::openStream(const QByteArray& target) {
    if (target == "-") {
        m_fd = STDOUT_FILENO;
        m_ownsFd = false;
        return true;
    }
    // Non-blocking: a FIFO no one reads yet says so (ENXIO) instead of
    // blocking, and is tried again until a reader comes or the wait ends.
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const int fd = ::open(target.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            m_fd = fd;
            m_ownsFd = true;
            return true;
        }
        if (errno != ENXIO && errno != EINTR)
            return fail(errno);
        if (m_cancelled)
            return fail(ECANCELED);
        if (m_readerWait >= std::chrono::milliseconds(0) &&
            std::chrono::steady_clock::now() - start >= m_readerWait)
            return fail(ENXIO);
        ::poll(nullptr, 0, 20);
    }
}

bool OutputFile::waitWritable() {
    pollfd p{m_fd, POLLOUT, 0};
    for (;;) {
        if (m_cancelled)
            return false;
        const int ready = ::poll(&p, 1, 50);
        // An error or a hang-up is left for the write to report.
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return true;
    }
}

bool OutputFile::write(const char* data, qint64 size) {
    if (m_fd < 0 || m_failure.errorNumber != 0)
        return fail(EBADF);
    // Standard output may be a blocking pipe shared with others: write no more
    // than a pipe takes at once after poll() says it takes something.
    const bool sharedStream = m_kind == Kind::stream && !m_ownsFd;
    while (size > 0) {
        if (m_cancelled)
            return fail(ECANCELED);
        if (sharedStream && !waitWritable())
            return fail(ECANCELED);
        const size_t chunk = sharedStream ? std::min<qint64>(size, PIPE_BUF)
                                          : std::min<qint64>(size, qint64(1) << 24);
        const ssize_t written = ::write(m_fd, data, chunk);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (!waitWritable())
                    return fail(ECANCELED);
                continue;
            }
            return fail(errno);
        }
        data += written;
        size -= written;
    }
    return true;
}

bool OutputFile::seek(qint64 position) {
    if (!isSeekable())
        return fail(ESPIPE);
    return ::lseek(m_fd, position, SEEK_SET) == position || fail(errno);
}

bool OutputFile::publish() {
    if (m_fd < 0 || m_failure.errorNumber != 0)
        return fail(EBADF);
    if (m_kind == Kind::file && !m_temporary.isEmpty()) {
        if (::rename(m_temporary.constData(), m_target.constData()) != 0)
            return fail(errno);
        m_temporary.clear();
    }
    return true;
}

bool OutputFile::commit() {
    if (m_fd < 0 || m_failure.errorNumber != 0)
        return fail(EBADF);
    if (m_cancelled)
        return fail(ECANCELED);
    if (m_kind == Kind::stream) {
        const int fd = std::exchange(m_fd, -1);
        return !m_ownsFd || ::close(fd) == 0 || fail(errno);
    }
    // Synced before the rename, so a crash leaves the old file or the whole new one.
    const bool synced = ::fdatasync(m_fd) == 0 || fail(errno);
    const bool closed = ::close(std::exchange(m_fd, -1)) == 0 || fail(errno);
    if (!synced || !closed)
        return false;
    if (m_temporary.isEmpty()) // published already
        return true;
    if (::rename(m_temporary.constData(), m_target.constData()) != 0)
        return fail(errno);
    m_temporary.clear();
    return true;
}
