#pragma once

#include <QImage>
#include <QString>

// Writes image as a PNG at path, whole or not at all: the new file replaces the
// old one only once it is complete, so a full disk or a file-size limit leaves
// whatever was there. Returns an empty string on success, else what failed.
QString savePng(const QImage& image, const QString& path);
