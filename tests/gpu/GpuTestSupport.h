#pragma once

#include "RGBAImage.h"

#include <QByteArray>
#include <QStringList>
#include <functional>

namespace gputest {

struct ByteDifference {
    int largest = 0;     // 999 when the sizes differ
    long long count = 0; // bytes that differ at all
    long long total = 0;
};
ByteDifference compareBytes(const RGBAImage& a, const RGBAImage& b);

// Everything written to standard output while body runs.
QByteArray captureStdout(const std::function<void()>& body);

// The shader folder built beside the test executable.
QString builtShaderDirectory();

// A new temporary folder with copies of the named built shaders and the given
// files; kept until the test run ends.
QString shaderFolderWith(const QStringList& copied,
                         const QList<QPair<QString, QByteArray>>& written = {});

} // namespace gputest
