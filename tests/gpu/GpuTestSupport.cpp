#include "GpuTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace gputest {

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
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, sink)) > 0) {
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
    folders.push_back(std::make_unique<QTemporaryDir>());
    const QString path = folders.back()->path();
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
