#include "FrameLog.h"

#include <QFile>
#include <cerrno>
#include <cstring>

std::unique_ptr<FrameLog> FrameLog::open(const QString& path, QString* error) {
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "w");
    if (!file) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    std::fputs("present_s,pass_ms,interval_ms,tick_skipped\n", file);
    return std::unique_ptr<FrameLog>(new FrameLog(file));
}

FrameLog::FrameLog(std::FILE* file) : m_file(file) {}

FrameLog::~FrameLog() {
    std::fclose(m_file);
}

void FrameLog::frameShown(double presentSeconds, double passSeconds, bool tickSkipped) {
    if (m_previous)
        std::fprintf(m_file, "%.6f,%.3f,%.3f,%d\n", presentSeconds, passSeconds * 1000.0,
                     (presentSeconds - *m_previous) * 1000.0, tickSkipped ? 1 : 0);
    else
        std::fprintf(m_file, "%.6f,%.3f,,%d\n", presentSeconds, passSeconds * 1000.0,
                     tickSkipped ? 1 : 0);
    m_previous = presentSeconds;
    // Buffered, but never more than a second behind, so a run that is killed
    // still leaves its log.
    if (presentSeconds - m_lastFlush >= 1.0) {
        std::fflush(m_file);
        m_lastFlush = presentSeconds;
    }
}
