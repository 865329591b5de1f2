#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>

// Why something the program writes did not arrive.
struct WriteFailure {
    enum class Refusal {
        none,         // the system refused: see errorNumber
        directory,    // the path names a folder
        notWritable,  // a socket, a block device or another kind never replaced
        danglingLink, // a symbolic link to nothing
        other,        // see detail
    };
    QString path;
    Refusal refusal = Refusal::none;
    int errorNumber = 0; // errno as the failing call left it
    QString detail;      // what failed when it was not the system (an encoder, say)

    // "PATH に書けません: why", one line, the reason in the system's words
    // where the system refused.
    QString message() const;
    // The reason as the user reads it, one Japanese sentence.
    QString reason() const;
};

// Where a program's output goes, and the writing of it. A regular file, a
// symbolic link to one, or a path where nothing is yet is written whole to a
// temporary file in the same folder and renamed over it by commit(), so a
// failure leaves what was there. A FIFO, a character device or "-" (standard
// output) is written to as a stream. Anything else is refused: it is never
// replaced. A write or an open that would block waits in poll(), so cancel()
// from another thread ends it; a writer on the main thread of a program with
// an interface runs this on a worker.
class OutputFile {
public:
    enum class Kind { file, stream, refused };
    static constexpr std::chrono::milliseconds kWaitForever{-1};

    // What the path is now, without touching it.
    static Kind kindOf(const QString& path, WriteFailure* refusal = nullptr);

    // readerWait: how long a FIFO that no one reads yet is waited for.
    explicit OutputFile(QString path, std::chrono::milliseconds readerWait = kWaitForever);
    ~OutputFile(); // an uncommitted temporary file is removed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool open();
    bool write(const char* data, qint64 size); // all of it, or a failure
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
    // Only a file is seekable (video containers rewrite their headers).
    bool isSeekable() const { return m_kind == Kind::file && m_fd >= 0; }
    bool seek(qint64 position);
    // A file is renamed over the target now and stays open for more writes (a
    // log read while it grows); a stream is left as it is.
    bool publish();
    // A file is synced and renamed over the target (unless published); a
    // stream is closed.
    bool commit();
    // Any thread: a waiting open or write gives up (ECANCELED), as do later ones.
    void cancel() { m_cancelled = true; }

    Kind kind() const { return m_kind; }
    const QString& path() const { return m_path; }
    const WriteFailure& failure() const { return m_failure; }

private:
    bool fail(int errorNumber);
    bool openTemporary(const QByteArray& target);
    bool openStream(const QByteArray& target);
    // Waits until fd takes more bytes (or the FIFO a reader); false if cancelled.
    bool waitWritable();

    QString m_path;
    std::chrono::milliseconds m_readerWait;
    Kind m_kind = Kind::refused;
    int m_fd = -1;
    bool m_ownsFd = false;
    QByteArray m_target;    // the file renamed over, symlinks resolved
    QByteArray m_temporary; // empty once renamed or removed
    WriteFailure m_failure;
    std::atomic<bool> m_cancelled{false};
};
