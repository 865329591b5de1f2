#pragma once

#include <QCoreApplication>
#include <QString>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <unistd.h>

// Items done, their rate and the time left, on one line of standard error when
// that is a terminal, redrawn at most four times a second. Any thread.
class TerminalProgress {
public:
    // format: %1 done, %2 total, %3 items per second, %4:%5 minutes and seconds
    // left. Silent when shown is false.
    TerminalProgress(std::int64_t total, QString format, bool shown = true)
        : m_total(total), m_format(std::move(format)), m_shown(shown && isatty(STDERR_FILENO)) {}
    ~TerminalProgress() {
        if (m_shown && m_printed)
            std::fputc('\n', stderr);
    }

    void done(std::int64_t done) {
        if (!m_shown)
            return;
        std::lock_guard guard(m_lock);
        const double elapsed = seconds(Clock::now() - m_start);
        if (done < m_total && elapsed - m_lastPrint < 0.25)
            return;
        m_lastPrint = elapsed;
        const double rate = elapsed > 0 ? double(done) / elapsed : 0;
        const int left = rate > 0 ? int(double(m_total - done) / rate + 0.5) : 0;
        std::fprintf(stderr, "\r%s",
                     qPrintable(m_format.arg(done)
                                    .arg(m_total)
                                    .arg(rate, 0, 'f', 1)
                                    .arg(left / 60)
                                    .arg(left % 60, 2, 10, QLatin1Char('0'))));
        std::fflush(stderr);
        m_printed = true;
    }

    // One line of its own on standard error, above the progress line.
    void say(const QString& line) {
        std::lock_guard guard(m_lock);
        // Clears the progress line first; it comes back with the next item.
        std::fprintf(stderr, "%s%s\n", m_shown && m_printed ? "\r\033[K" : "", qPrintable(line));
        std::fflush(stderr);
        m_lastPrint = -1;
    }

private:
    using Clock = std::chrono::steady_clock;
    static double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

    std::int64_t m_total;
    QString m_format;
    bool m_shown;
    bool m_printed = false;
    std::mutex m_lock;
    Clock::time_point m_start = Clock::now();
    double m_lastPrint = -1;
};
