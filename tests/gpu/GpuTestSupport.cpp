#include "GpuTestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace gputest {

ByteDifference compareBytes(const RGBAImage& a, const RGBAImage& b) {
    ByteDifference d;
    if (a.size() != b.size() || a.format() != b.format()) {
        d.largest = 999;
        return d;
    }
    for (int y = 0; y < a.height(); ++y) {
        for (int i = 0; i < 4 * a.width(); ++i) {
            const int diff = std::abs(int(a.constScanLine(y)[i]) - int(b.constScanLine(y)[i]));
            d.largest = std::max(d.largest, diff);
            d.count += diff ? 1 : 0;
            ++d.total;
        }
    }
    return d;
}

QByteArray captureStdout(const std::function<void()>& body) {
    std::fflush(stdout);
    FILE* sink = std::tmpfile();
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(sink), STDOUT_FILENO);
    body();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    QByteArray captured;
    std::rewind(sink);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, sink)) > 0;) {
        captured.append(buffer, qsizetype(n));
    }
    std::fclose(sink);
    return captured;
}

QString builtShaderDirectory() {
    return QCoreApplication::applicationDirPath() + "/shaders";
}

QString shaderFolderWith(const QStringList& copied,
                         const QList<QPair<QString, QByteArray>>& written) {
    static std::vector<std::unique_ptr<QTemporaryDir>> folders;
    const QString path = folders.emplace_back(std::make_unique<QTemporaryDir>())->path();
    for (const QString& name : copied) {
        QFile::copy(builtShaderDirectory() + "/" + name, path + "/" + name);
    }
    for (const auto& [name, contents] : written) {
        QFile file(path + "/" + name);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(contents);
        }
    }
    return path;
}

} // namespace gputest
