#include "FrameLog.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

constexpr char kHeader[] = "present_s,pass_ms,interval_ms,tick_skipped\n";

QString tr(const char* text) {
    return QCoreApplication::translate("FrameLog", text);
}

void say(const QString& line) {
    std::fputs(qPrintable(QStringLiteral("lumenweave: ") + line + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

} // namespace

std::unique_ptr<FrameLog> FrameLog::open(const QString& path, bool overwrite, QString* error) {
    WriteFailure refusal;
    const OutputFile::Kind kind = OutputFile::kindOf(path, &refusal);
    if (kind == OutputFile::Kind::refused) {
        if (error)
            *error = refusal.reason();
        return nullptr;
    }
    auto output = std::make_unique<OutputFile>(path);
    if (kind == OutputFile::Kind::stream)
        return std::unique_ptr<FrameLog>(new FrameLog(std::move(output), false));
    if (!overwrite && QFileInfo::exists(path)) {
        if (error)
            *error = tr("すでにあります。置き換えるには --frame-log-overwrite を付けてください。");
        return nullptr;
    }
    // Creating a file in a folder does not block: done here, so that a wrong
    // path is told before any window.
    if (!output->open() || !output->write(kHeader, sizeof kHeader - 1) || !output->publish()) {
        if (error)
            *error = output->failure().reason();
        return nullptr;
    }
    return std::unique_ptr<FrameLog>(new FrameLog(std::move(output), true));
}

FrameLog::FrameLog(std::unique_ptr<OutputFile> output, bool opened) : m_output(std::move(output)) {
    m_writer = std::thread([this, opened] { run(opened); });
}

FrameLog::~FrameLog() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    // The writer finishes the queue, unless a reader that does not read (or a
    // FIFO no one opens) holds it up: then the wait ends it.
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_wake.wait_for(lock, std::chrono::milliseconds(kQuitWaitMs), [this] { return m_done; }))
        m_output->cancel();
    lock.unlock();
    m_writer.join();
    if (m_dropped > 0)
        say(tr("フレームログの %1 行は書けませんでした（読み手が追いつきませんでした）: %2")
                .arg(m_dropped)
                .arg(m_output->path()));
}

void FrameLog::frameShown(double presentSeconds, double passSeconds, bool tickSkipped) {
    char line[128];
    int length = 0;
    if (m_previous)
        length = std::snprintf(line, sizeof line, "%.6f,%.3f,%.3f,%d\n", presentSeconds,
                               passSeconds * 1000.0, (presentSeconds - *m_previous) * 1000.0,
                               tickSkipped ? 1 : 0);
    else
        length = std::snprintf(line, sizeof line, "%.6f,%.3f,,%d\n", presentSeconds,
                               passSeconds * 1000.0, tickSkipped ? 1 : 0);
    m_previous = presentSeconds;
    if (length <= 0 || std::size_t(length) >= sizeof line)
        return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_failed)
            return;
        if (m_queue.size() + std::size_t(length) > kQueueBytes) {
            ++m_dropped;
            return;
        }
        m_queue.append(line, std::size_t(length));
    }
    m_wake.notify_all();
}

void FrameLog::stopWith(const WriteFailure& failure) {
    const bool cancelled = failure.errorNumber == ECANCELED;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_failed = true;
        if (cancelled)
            m_dropped += std::size_t(std::count(m_queue.begin(), m_queue.end(), '\n'));
        m_queue.clear();
    }
    // Our own stop at quit is no failure worth a line of its own.
    if (!cancelled)
        say(tr("フレームログの書き込みを止めました: %1: %2").arg(failure.path, failure.reason()));
}

void FrameLog::run(bool opened) {
    write(opened);
    std::lock_guard<std::mutex> guard(m_lock);
    m_done = true;
    m_wake.notify_all();
}

void FrameLog::write(bool opened) {
    // A FIFO is opened here, where waiting for its reader holds up nothing;
    // lines queue up meanwhile.
    if (!opened && (!m_output->open() || !m_output->write(kHeader, sizeof kHeader - 1)))
        return stopWith(m_output->failure());
    std::string batch;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
            if (m_queue.empty())
                break;
            batch.swap(m_queue);
        }
        if (!m_output->write(batch.data(), qint64(batch.size()))) {
            if (m_output->failure().errorNumber == ECANCELED) {
                std::lock_guard<std::mutex> guard(m_lock);
                m_dropped += std::size_t(std::count(batch.begin(), batch.end(), '\n'));
            }
            return stopWith(m_output->failure());
        }
        batch.clear();
    }
    if (!m_output->commit())
        stopWith(m_output->failure());
}
