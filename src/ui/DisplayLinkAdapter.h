#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <optional>

// Preferred frame-rate range handed to a link, in frames per second.
struct FrameRateRange {
    float minimum = 0;
    float maximum = 0;
    float preferred = 0;
    bool operator==(const FrameRateRange&) const = default;
};

// What one refresh reports: the previous tick's time, this tick's time and the
// nominal interval, all in seconds on a monotonic clock. timestamp is absent on
// the first tick.
struct DisplayLinkFrame {
    std::optional<double> timestamp;
    double targetTimestamp = 0;
    double duration = 0;
};

// A per-frame source on the main thread: a precise timer paced at the preferred
// rate on a fixed grid of ticks, never faster than the screen refreshes.
class DisplayLink : public QObject {
    Q_OBJECT
public:
    DisplayLink(FrameRateRange range, double screenRefreshRate, QObject* parent = nullptr);

    FrameRateRange range() const { return m_range; }
    double duration() const { return m_duration; } // seconds per tick
    bool isValid() const { return m_valid; }
    // Stops the link for good.
    void invalidate();

signals:
    void fired(const DisplayLinkFrame& frame);

private:
    void fire();
    void scheduleNext();

    FrameRateRange m_range;
    double m_duration;
    bool m_valid = true;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::optional<double> m_lastTick;
    long long m_slot = 0; // grid slot of the next tick
};

// Owns at most one display link and forwards each refresh to a callback as a
// frame interval in seconds. Main thread only.
class DisplayLinkAdapter : public QObject {
    Q_OBJECT
public:
    explicit DisplayLinkAdapter(QObject* parent = nullptr);

    // Replaces the link with a new one paced at fps (range 5 ... fps). Without a
    // screen no link is made; the old one stays stored, invalidated.
    void start(double fps);
    void tick(const DisplayLinkFrame& frame);

    // The interval a tick hands on: the real one when plausible, else the
    // nominal duration, else 1/60 s.
    static double frameInterval(const DisplayLinkFrame& frame);

    DisplayLink* link() const { return m_link; }
    // Invalidates and forgets the link (the owner's stop).
    void stop();
    void setCallback(std::function<void(double)> callback) { m_callback = std::move(callback); }

private:
    QPointer<DisplayLink> m_link;
    std::function<void(double)> m_callback;
};
