#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <QVariant>
#include <optional>

// Window geometry as the settings file keeps it ("x y w h", whole numbers), and
// its fitting into the screens present now. Rectangles are the client area in
// global coordinates, without the window manager's frame.

// The preferred size, shrunk (keeping its proportions) to leave room for the
// frame within the available area, centred in it.
QRect defaultWindowGeometry(const QSize& preferred, const QRect& available);

QString formatWindowGeometry(const QRect& geometry);
// Four whole numbers in a plausible range, a positive size; anything else is nothing.
std::optional<QRect> parseWindowGeometry(const QVariant& stored);

// A saved rectangle that lies within one of the available areas comes back as
// it was. Otherwise it is moved (and shrunk if need be) into the screen it
// overlaps most, or the first one (the primary) when it overlaps none, leaving
// titleBarHeight above it for the frame's title bar.
QRect fitIntoScreens(const QRect& saved, const QList<QRect>& available, int titleBarHeight);

// Where a side window (the control panel) of the preferred size opens: beside
// the main window's frame, on its right where there is room, else on its left,
// else at the area's right edge; level with its top; shrunk and moved to lie
// whole within the available area, titleBarHeight away from its top and bottom.
QRect besideWindow(const QSize& preferred, const QRect& mainFrame, const QRect& available,
                   int titleBarHeight);
