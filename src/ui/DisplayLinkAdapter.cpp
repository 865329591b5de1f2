#include "DisplayLinkAdapter.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>

DisplayLink::DisplayLink(FrameRateRange range, double screenRefreshRate, QObject* parent)
    : QObject(parent), m_range(range) {
    double rate = std::max<double>(range.preferred, range.minimum);
    if (std::isfinite(screenRefreshRate) && screenRefreshRate > 0)
        rate = std::min(rate, screenRefreshRate);
    if (!std::isfinite(rate) || rate <= 0)
        rate = 60.0;
    m_duration = 1.0 / rate;
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &DisplayLink::fire);
    m_clock.start();
    scheduleNext();
}

void DisplayLink::scheduleNext() {
    // Ticks keep to a grid of whole durations from the start, so a late tick
    // (the main thread was busy) does not push every later one back, and a
    // duration that is no whole number of milliseconds still comes out right
    // on average. A tick that missed its slot goes at the next one.
    const double now = double(m_clock.nsecsElapsed()) * 1e-9;
    m_slot = std::max(m_slot + 1, static_cast<long long>(std::floor(now / m_duration)) + 1);
    m_timer.start(std::max(0, int(std::lround((double(m_slot) * m_duration - now) * 1000.0))));
}

void DisplayLink::invalidate() {
    m_valid = false;
    m_timer.stop();
}

void DisplayLink::fire() {
    if (!m_valid)
        return;
    scheduleNext();
    const double now = double(m_clock.nsecsElapsed()) * 1e-9;
    DisplayLinkFrame frame{m_lastTick, now, m_duration};
    m_lastTick = now;
    emit fired(frame);
}

DisplayLinkAdapter::DisplayLinkAdapter(QObject* parent) : QObject(parent) {}

void DisplayLinkAdapter::start(double fps) {
    if (m_link)
        m_link->invalidate();
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const FrameRateRange range{5.0f, float(fps), float(fps)};
    auto* link = new DisplayLink(range, screen->refreshRate(), this);
    connect(link, &DisplayLink::fired, this, &DisplayLinkAdapter::tick);
    if (m_link)
        m_link->deleteLater();
    m_link = link;
}

void DisplayLinkAdapter::stop() {
    if (m_link) {
        m_link->invalidate();
        m_link->deleteLater();
    }
    m_link = nullptr;
}

double DisplayLinkAdapter::frameInterval(const DisplayLinkFrame& frame) {
    if (frame.timestamp) {
        const double dt = frame.targetTimestamp - *frame.timestamp;
        if (dt > 0 && dt < 1.0)
            return dt;
    }
    return frame.duration > 0 ? frame.duration : 1.0 / 60.0;
}

void DisplayLinkAdapter::tick(const DisplayLinkFrame& frame) {
    const double dt = frameInterval(frame);
    if (m_callback)
        m_callback(dt);
}
