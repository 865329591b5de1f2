#pragma once

#include "OutputFile.h"

#include <QImage>
#include <QString>
#include <optional>

// Writes image as a PNG to output's target (see OutputFile): a file whole or not
// at all, a stream as it goes. Nothing on success, else what failed.
std::optional<WriteFailure> savePng(const QImage& image, OutputFile& output);
std::optional<WriteFailure> savePng(const QImage& image, const QString& path);
