#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

// A PNG's size as Pillow reads it, "WxH", empty when it is no whole PNG: an
// independent reader, not the writer's own library read back. The system's
// Python, where Debian installs Pillow.
inline QString pillowSize(const QByteArray& png) {
    QProcess python;
    python.start("/usr/bin/python3",
                 {"-c", "import io, sys, PIL.Image\n"
                        "im = PIL.Image.open(io.BytesIO(sys.stdin.buffer.read()))\n"
                        "im.load(); print(f'{im.width}x{im.height}', end='')"});
    python.write(png);
    python.closeWriteChannel();
    python.waitForFinished(30000);
    return python.exitCode() == 0 ? QString::fromUtf8(python.readAllStandardOutput()) : QString();
}
