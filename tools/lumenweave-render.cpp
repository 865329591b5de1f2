// Renders the field with the application's own tile set preparation and render
// pass: one frame, a frame at a given time, a numbered PNG sequence or a video.
// Stimuli, figures, clips and end-to-end checks.

#include "FrameImage.h"
#include "PngFile.h"
#include "RenderOptions.h"
#include "RenderRequest.h"
#include "ToolDisplay.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

struct Failure {
    QString message;
};

[[noreturn]] void fail(const QString& message) {
    throw Failure{message};
}

QString tr(const char* text) {
    return QCoreApplication::translate("lumenweave-render", text);
}

QString failureText(FrameImage::Failure failure) {
    using Failure = FrameImage::Failure;
    switch (failure) {
    case Failure::none:
        break;
    case Failure::noTileSet:
        return tr("描くタイルがありません");
    case Failure::noPatch:
        return tr("パッチを一つも作れませんでした");
    case Failure::noCanvas:
        return tr("キャンバスを作れませんでした");
    case Failure::noRightEye:
        return tr("右目の絵を作れませんでした");
    case Failure::noMemory:
        return tr("立体視のペアのためのメモリがありません");
    }
    return {};
}

QImage frameImage(RequestRenderer& renderer, const Rational& t) {
    FrameImage frame = renderer.frameAt(t);
    if (frame.failure != FrameImage::Failure::none)
        fail(failureText(frame.failure));
    return frame.image;
}

// Frames done, their rate and the time left, on one line of a terminal.
class Progress {
public:
    explicit Progress(std::int64_t total) : m_total(total), m_shown(isatty(STDERR_FILENO)) {}
    ~Progress() {
        if (m_shown && m_printed)
            std::fputc('\n', stderr);
    }

    void frameDone(std::int64_t done) {
        if (!m_shown)
            return;
        const double elapsed = seconds(Clock::now() - m_start);
        if (done < m_total && elapsed - m_lastPrint < 0.25)
            return;
        m_lastPrint = elapsed;
        const double rate = elapsed > 0 ? double(done) / elapsed : 0;
        const int left = rate > 0 ? int(double(m_total - done) / rate + 0.5) : 0;
        std::fprintf(stderr, "\r%s",
                     qPrintable(tr("フレーム %1/%2  %3 fps  残り %4:%5  ")
                                    .arg(done)
                                    .arg(m_total)
                                    .arg(rate, 0, 'f', 1)
                                    .arg(left / 60)
                                    .arg(left % 60, 2, 10, QLatin1Char('0'))));
        std::fflush(stderr);
        m_printed = true;
    }

private:
    using Clock = std::chrono::steady_clock;
    static double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

    std::int64_t m_total;
    bool m_shown;
    bool m_printed = false;
    Clock::time_point m_start = Clock::now();
    double m_lastPrint = -1;
};

Rational frameTime(const RenderOptions& o, std::int64_t k) {
    const auto offset = Rational::divide(Rational(k), o.fps);
    const auto t = offset ? Rational::add(o.request.time, *offset) : std::nullopt;
    if (!t)
        fail(tr("フレーム %1 の時刻を計算できません").arg(k));
    return *t;
}

// out.png → out-0000.png, out-0001.png …: at least four digits, as many as the last needs.
QString sequenceName(const QString& path, std::int64_t k, std::int64_t count) {
    const QFileInfo info(path);
    const int digits =
        std::max<int>(4, int(QString::number(std::max<std::int64_t>(count - 1, 0)).size()));
    return info.completeBaseName() + QStringLiteral("-%1.").arg(k, digits, 10, QLatin1Char('0')) +
           info.suffix();
}

// Every frame goes to a folder beside the target first and is moved into place
// only when all are written, so a failure part way leaves nothing new and no
// earlier file replaced.
void writeSequence(const RenderOptions& o, RequestRenderer& renderer) {
    const QDir folder = QFileInfo(o.output).absoluteDir();
    QTemporaryDir work(folder.filePath(QStringLiteral(".lumenweave-render-XXXXXX")));
    if (!work.isValid())
        fail(tr("%1 に書けません: %2").arg(folder.path(), work.errorString()));
    const std::int64_t count = o.frameCount();
    Progress progress(count);
    QStringList names;
    for (std::int64_t k = 0; k < count; ++k) {
        names << sequenceName(o.output, k, count);
        if (const QString error =
                savePng(frameImage(renderer, frameTime(o, k)), work.filePath(names.back()));
            !error.isEmpty())
            fail(error);
        progress.frameDone(k + 1);
    }
    for (const QString& name : names) {
        const QByteArray from = QFile::encodeName(work.filePath(name));
        const QByteArray to = QFile::encodeName(folder.filePath(name));
        if (std::rename(from.constData(), to.constData()) != 0)
            fail(tr("%1 に書けません: %2")
                     .arg(folder.filePath(name), QString::fromLocal8Bit(std::strerror(errno))));
    }
}

int run(const RenderOptions& o) {
    if (o.loop)
        std::fprintf(stderr, "%s\n",
                     qPrintable(tr("lumenweave-render: ループの長さ %1 秒（%2 フレーム、%3 fps）")
                                    .arg(o.duration.toDouble(), 0, 'g', 10)
                                    .arg(o.frameCount())
                                    .arg(o.fps.toDouble(), 0, 'g', 10)));
    RequestRenderer renderer(o.request);
    switch (o.kind) {
    case RenderOptions::Output::png:
        if (const QString error = savePng(frameImage(renderer, o.request.time), o.output);
            !error.isEmpty())
            fail(error);
        return 0;
    case RenderOptions::Output::pngSequence:
        writeSequence(o, renderer);
        return 0;
    case RenderOptions::Output::video:
        fail(tr("動画の書き出しはこのビルドにはありません"));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedRenderOptions parsed = parseRenderOptions(arguments);
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "lumenweave-render: %s\n", qPrintable(parsed.error));
        return 1;
    }
    const RenderOptions& options = parsed.options;
    if (options.help) {
        std::fputs(qPrintable(renderOptionsHelp()), stdout);
        return 0;
    }
    if (!hasDisplay()) {
        std::fputs(qPrintable(tr("lumenweave-render: ディスプレイがありません。xvfb-run -a の下で"
                                 "動かしてください\n")),
                   stderr);
        return 2;
    }
    // Past a file-size limit a write should fail and be reported, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QGuiApplication app(argc, argv);
    try {
        return run(options);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "lumenweave-render: %s\n", qPrintable(failure.message));
        return 1;
    }
}
