#include "WindowGeometry.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {

// Room left around a default-sized window for the frame and panels.
constexpr double kDefaultFill = 0.9;
// Beyond any screen arrangement in use; keeps later arithmetic far from overflow.
constexpr int kCoordinateLimit = 1 << 20;
// Between the main window's frame and a side window's.
constexpr int kSideGap = 8;

qint64 overlapArea(const QRect& a, const QRect& b) {
    const QRect overlap = a.intersected(b);
    return overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
}

} // namespace

QRect defaultWindowGeometry(const QSize& preferred, const QRect& available) {
    if (preferred.isEmpty() || available.isEmpty())
        return QRect(available.topLeft(), preferred);
    const double scale = std::min({1.0, kDefaultFill * available.width() / preferred.width(),
                                   kDefaultFill * available.height() / preferred.height()});
    const QSize size(std::max(1, int(std::lround(preferred.width() * scale))),
                     std::max(1, int(std::lround(preferred.height() * scale))));
    QRect rect(QPoint(0, 0), size);
    rect.moveCenter(available.center());
    return rect;
}

QString formatWindowGeometry(const QRect& geometry) {
    return QStringLiteral("%1 %2 %3 %4")
        .arg(geometry.x())
        .arg(geometry.y())
        .arg(geometry.width())
        .arg(geometry.height());
}

std::optional<QRect> parseWindowGeometry(const QVariant& stored) {
    if (stored.metaType().id() != QMetaType::QString)
        return std::nullopt;
    const QStringList parts = stored.toString().split(QLatin1Char(' '));
    if (parts.size() != 4)
        return std::nullopt;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        // Wider than int, so that no value has a magnitude it cannot hold.
        const qint64 value = parts[i].toLongLong(&ok);
        if (!ok || value < -kCoordinateLimit || value > kCoordinateLimit)
            return std::nullopt;
        values[i] = int(value);
    }
    if (values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return QRect(values[0], values[1], values[2], values[3]);
}

QRect fitIntoScreens(const QRect& saved, const QList<QRect>& available, int titleBarHeight) {
    if (available.isEmpty())
        return saved;
    for (const QRect& screen : available) {
        if (screen.contains(saved))
            return saved;
    }
    const QRect* target = &available.first();
    qint64 best = 0;
    for (const QRect& screen : available) {
        const qint64 area = overlapArea(saved, screen);
        if (area > best) {
            best = area;
            target = &screen;
        }
    }
    const QRect area =
        target->adjusted(0, std::clamp(titleBarHeight, 0, target->height() / 2), 0, 0);
    const QSize size = saved.size().boundedTo(area.size());
    const int x = std::clamp(saved.x(), area.left(), area.right() - size.width() + 1);
    const int y = std::clamp(saved.y(), area.top(), area.bottom() - size.height() + 1);
    return QRect(QPoint(x, y), size);
}

QRect besideWindow(const QSize& preferred, const QRect& mainFrame, const QRect& available,
                   int titleBarHeight) {
    if (available.isEmpty())
        return QRect(mainFrame.topRight() + QPoint(kSideGap, 0), preferred);
    // Before a window is mapped its frame is unknown, and a window manager may
    // put either the frame or the client area at the place asked for: room for
    // a title bar is left above and below, so that both stay on the screen.
    const int title = std::clamp(titleBarHeight, 0, available.height() / 4);
    const QRect area = available.adjusted(0, title, 0, -title);
    const QSize size = preferred.boundedTo(area.size()).expandedTo(QSize(1, 1));
    int x = area.right() - size.width() + 1;
    if (mainFrame.right() + kSideGap + size.width() <= area.right())
        x = mainFrame.right() + kSideGap + 1;
    else if (mainFrame.left() - kSideGap - size.width() >= area.left())
        x = mainFrame.left() - kSideGap - size.width();
    const int y =
        std::clamp(mainFrame.top() + titleBarHeight, area.top(), area.bottom() - size.height() + 1);
    return QRect(QPoint(x, y), size);
}
