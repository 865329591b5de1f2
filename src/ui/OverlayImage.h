#pragma once

#include <QFontMetrics>
#include <QImage>
#include <QSize>

// A transparent picture of size points at scale pixels per point, for an overlay
// the presenter paints over the field. Fonts given in points come out at the size
// the screen's widgets use.
QImage makeOverlayImage(QSize size, double scale);

// Metrics of font as it comes out in those pictures, for laying them out.
QFontMetrics overlayFontMetrics(const QFont& font);
