#pragma once

#include "RGBAImage.h"

#include <QByteArray>
#include <QString>
#include <cstdlib>
#include <functional>

namespace gputest {

// Largest difference of any byte of two images of the same size; -1 when the
// sizes or formats differ.
inline int maxByteDifference(const RGBAImage& a, const RGBAImage& b) {
    if (a.size() != b.size() || a.format() != b.format()) {
        return -1;
    }
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* pa = a.constScanLine(y);
        const uchar* pb = b.constScanLine(y);
        for (int i = 0; i < 4 * a.width(); ++i) {
            worst = std::max(worst, std::abs(int(pa[i]) - int(pb[i])));
        }
    }
    return worst;
}

// Number of bytes that differ between two images of the same size.
inline long long differingBytes(const RGBAImage& a, const RGBAImage& b) {
    long long count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* pa = a.constScanLine(y);
        const uchar* pb = b.constScanLine(y);
        for (int i = 0; i < 4 * a.width(); ++i) {
            count += pa[i] != pb[i] ? 1 : 0;
        }
    }
    return count;
}

// Everything written to standard output while body runs.
QByteArray captureStdout(const std::function<void()>& body);

// The folder of shaders built beside the test executable.
QString builtShaderDirectory();

// A fresh temporary folder holding copies of the named built shaders (and,
// optionally, files with given contents), removed at the end of the test run.
QString shaderFolderWith(const QStringList& copied,
                         const QList<QPair<QString, QByteArray>>& written = {});

} // namespace gputest
