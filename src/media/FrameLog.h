#pragma once

#include "OutputFile.h"

#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// The frame log: one CSV line per frame put on screen, for people who need to
// know when their stimulus was shown. Columns: present_s (monotonic seconds of
// the present), pass_ms (the render pass behind the frame), interval_ms (since
// the previous frame; empty on the first line), tick_skipped (1 when an
// animation tick came while a pass was still running since the previous frame).
//
// Lines are written by a thread of the log's own, so a slow reader or a full
// disk never holds up the frames: while the reader lags, lines beyond a
// bounded queue are dropped and counted. A failed write is said once on
// standard error and the log stops; the program goes on.
class FrameLog {
public:
    // A regular file is created with the header (an existing one only with
    // overwrite, and then replaced whole); a FIFO, a character device or "-"
    // is opened by the log's thread, which waits for a FIFO's reader. Nothing,
    // and the reason in Japanese in error, when path cannot take the log.
    static std::unique_ptr<FrameLog> open(const QString& path, bool overwrite,
                                          QString* error = nullptr);
    // Writes what is queued for at most kQuitWaitMs, then gives up the rest.
    ~FrameLog();
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;

    static constexpr int kQuitWaitMs = 500;
    static constexpr std::size_t kQueueBytes = 1 << 20;

    // Never blocks.
    void frameShown(double presentSeconds, double passSeconds, bool tickSkipped);

private:
    FrameLog(std::unique_ptr<OutputFile> output, bool opened);
    void run(bool opened);
    void write(bool opened);
    void stopWith(const WriteFailure& failure);

    std::unique_ptr<OutputFile> m_output;
    std::optional<double> m_previous;

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::string m_queue;       // lines not yet handed to the writer
    std::size_t m_dropped = 0; // lines dropped for want of room, or left at the end
    bool m_stopping = false;
    bool m_failed = false;
    bool m_done = false; // the writer has ended
    std::thread m_writer;
};
