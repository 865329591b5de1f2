#pragma once

#include "RGBAImage.h"

#include <QByteArray>
#include <QStringList>
#include <functional>

namespace gputest {

// Largest byte difference of two images (999 when their sizes differ) and how
// many bytes differ at all.
struct ByteDifference {
    int largest = 0;
    long long count = 0;
    long long total = 0;
};
ByteDifference compareBytes(const RGBAImage& a, const RGBAImage& b);

// Everything written to standard output while body runs.
QByteArray captureStdout(const std::function<void()>& body);

QString builtShaderDirectory();

// A new temporary folder (kept until the run ends) with copies of the named
// built shaders and the given files.
QString shaderFolderWith(const QStringList& copied,
                         const QList<QPair<QString, QByteArray>>& written = {});

} // namespace gputest
