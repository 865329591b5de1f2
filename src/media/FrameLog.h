#pragma once

#include <QString>
#include <cstdio>
#include <memory>
#include <optional>

// The frame log: one CSV line per frame put on screen, for people who need to
// know when their stimulus was shown. Columns: present_s (monotonic seconds of
// the present), pass_ms (the render pass behind the frame), interval_ms (since
// the previous frame; empty on the first line), tick_skipped (1 when an
// animation tick came while a pass was still running since the previous frame).
class FrameLog {
public:
    // Creates or truncates path and writes the header; nothing (and the reason
    // in error) when the file cannot be written.
    static std::unique_ptr<FrameLog> open(const QString& path, QString* error = nullptr);
    ~FrameLog();
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;

    void frameShown(double presentSeconds, double passSeconds, bool tickSkipped);

private:
    explicit FrameLog(std::FILE* file);

    std::FILE* m_file;
    std::optional<double> m_previous;
    double m_lastFlush = 0;
};
