// Renders the field with the application's own tile set preparation and render
// pass: one frame, a frame at a given time, a numbered PNG sequence or a video.
// Stimuli, figures, clips and end-to-end checks.

#include "FrameImage.h"
#include "PngFile.h"
#include "RenderBatch.h"
#include "RenderOptions.h"
#include "RenderRequest.h"
#include "TerminalProgress.h"
#include "ToolDisplay.h"
#include "VideoFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

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

// While a video, a PNG sequence or a batch is written, an interrupt or a
// termination stops it and leaves nothing; elsewhere they end the process, and
// so does a second one (a write still waiting for a FIFO's reader, say).
volatile std::sig_atomic_t interrupted = 0;
std::atomic<VideoFile*> videoToStop{nullptr};

void interrupt(int signal) {
    interrupted = 1;
    std::signal(signal, SIG_DFL);
    // Only atomic stores: a wait for a FIFO's reader gives up too.
    if (VideoFile* video = videoToStop.load())
        video->cancel();
}

class StopOnSignal {
public:
    StopOnSignal(bool active, VideoFile* video = nullptr) : m_active(active) {
        if (!m_active)
            return;
        videoToStop = video;
        std::signal(SIGINT, interrupt);
        std::signal(SIGTERM, interrupt);
    }
    ~StopOnSignal() {
        if (!m_active)
            return;
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        videoToStop = nullptr;
    }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

private:
    bool m_active;
};

void stopIfInterrupted() {
    if (interrupted)
        fail(tr("中止しました"));
}

QImage frameImage(RequestRenderer& renderer, const Rational& t) {
    FrameImage frame = renderer.frameAt(t);
    if (frame.failure != FrameImage::Failure::none)
        fail(failureText(frame.failure));
    return frame.image;
}

Rational frameTime(const RenderOptions& o, std::int64_t k) {
    const auto t = o.frameTime(k);
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
void writeSequence(const RenderOptions& o, RequestRenderer& renderer, bool quiet) {
    const QDir folder = QFileInfo(o.output).absoluteDir();
    QTemporaryDir work(folder.filePath(QStringLiteral(".lumenweave-render-XXXXXX")));
    if (!work.isValid())
        fail(tr("%1 に書けません: %2").arg(folder.path(), work.errorString()));
    const std::int64_t count = o.frameCount();
    TerminalProgress progress(count, tr("フレーム %1/%2  %3 fps  残り %4:%5  "), !quiet);
    const StopOnSignal stop(!quiet);
    QStringList names;
    for (std::int64_t k = 0; k < count; ++k) {
        stopIfInterrupted();
        names << sequenceName(o.output, k, count);
        if (const auto failure =
                savePng(frameImage(renderer, frameTime(o, k)), work.filePath(names.back())))
            fail(failure->message());
        progress.done(k + 1);
    }
    for (const QString& name : names) {
        const QByteArray from = QFile::encodeName(work.filePath(name));
        const QByteArray to = QFile::encodeName(folder.filePath(name));
        if (std::rename(from.constData(), to.constData()) != 0)
            fail(tr("%1 に書けません: %2")
                     .arg(folder.filePath(name), QString::fromLocal8Bit(std::strerror(errno))));
    }
}

void writeVideo(const RenderOptions& o, RequestRenderer& renderer, bool quiet) {
    VideoFile video(o.output, *VideoFile::formatOf(o.output));
    const std::int64_t count = o.frameCount();
    TerminalProgress progress(count, tr("フレーム %1/%2  %3 fps  残り %4:%5  "), !quiet);
    const StopOnSignal stop(!quiet, &video);
    for (std::int64_t k = 0; k < count; ++k) {
        stopIfInterrupted();
        const QImage image = frameImage(renderer, frameTime(o, k));
        // The first frame gives the video its size.
        if (k == 0 && !video.open(image.width(), image.height(), int(o.fps.numerator()),
                                  int(o.fps.denominator())))
            fail(video.error());
        if (!video.writeFrame(image))
            fail(video.error());
        progress.done(k + 1);
    }
    stopIfInterrupted();
    if (!video.finish())
        fail(video.error());
}

// Beyond the largest side this machine makes, a frame would come out smaller
// than asked for: refused, naming the limits.
void checkFrameSize(const RequestRenderer& renderer, const RenderOptions& o) {
    const RenderRequest& r = o.request;
    const bool onGpu = r.renderingMode == AppModel::RenderingMode::gpu && !r.withoutGpu;
    const QString refusal =
        frameSizeRefusal(renderer.snapshotAt(r.time), r.animationRenderScale,
                         onGpu ? GpuTexture::largestSide() : kMaxImageSide, onGpu);
    if (!refusal.isEmpty())
        fail(refusal);
}

// Writes what o asks for; quiet (a batch entry) leaves out the progress line
// and the loop's length.
void run(const RenderOptions& o, bool quiet) {
    stopIfInterrupted();
    if (o.loop && !quiet)
        std::fprintf(stderr, "%s\n",
                     qPrintable(tr("lumenweave-render: ループの長さ %1 秒（%2 フレーム、%3 fps）")
                                    .arg(o.duration.toDouble(), 0, 'g', 10)
                                    .arg(o.frameCount())
                                    .arg(o.fps.toDouble(), 0, 'g', 10)));
    RequestRenderer renderer(o.request);
    checkFrameSize(renderer, o);
    switch (o.kind) {
    case RenderOptions::Output::png: {
        // A folder, a socket or a dangling link is refused before any work.
        if (WriteFailure refusal;
            OutputFile::kindOf(o.output, &refusal) == OutputFile::Kind::refused)
            fail(refusal.message());
        const QImage image = frameImage(renderer, o.request.time);
        stopIfInterrupted();
        if (const auto failure = savePng(image, o.output))
            fail(failure->message());
        return;
    }
    case RenderOptions::Output::pngSequence:
        writeSequence(o, renderer, quiet);
        return;
    case RenderOptions::Output::video:
        writeVideo(o, renderer, quiet);
        return;
    }
}

void say(const QString& line) {
    std::fprintf(stderr, "lumenweave-render: %s\n", qPrintable(line));
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedRenderOptions parsed = parseRenderOptions(arguments);
    if (!parsed.error.isEmpty()) {
        say(parsed.error);
        return 1;
    }
    RenderOptions options = parsed.options;
    if (options.help) {
        std::fputs(qPrintable(renderOptionsHelp()), stdout);
        return 0;
    }
    // Past a file-size limit a write should fail and be reported, not end the
    // process; a reader that goes away is a failed write, said in one line.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // The GPU, when a picture needs it, is the application's thread's.
    std::optional<QGuiApplication> app;
    const auto startGpu = [&] {
        if (!app && hasDisplay()) {
            QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
            app.emplace(argc, argv);
        }
        return app.has_value();
    };
    if (!options.batch.isEmpty()) {
        const StopOnSignal stop(true);
        return runBatch(
            options.batch, options.verbose,
            [](const RenderOptions& o) {
                try {
                    run(o, true);
                    return QString();
                } catch (const Failure& failure) {
                    return failure.message;
                }
            },
            startGpu, [] { return interrupted != 0; });
    }
    RenderRequest& request = options.request;
    using Mode = AppModel::RenderingMode;
    // Without a display the GPU generator's pictures come from its CPU route:
    // the same bytes.
    request.withoutGpu = request.renderingMode == Mode::gpu && !hasDisplay();
    if (request.renderingMode != Mode::cpu && !request.withoutGpu && !startGpu()) {
        say(tr(
            "--generator filter にはディスプレイが必要です。xvfb-run -a の下で動かしてください"));
        return 2;
    }
    if (options.verbose)
        say(request.withoutGpu ? tr("ディスプレイがないので、GPU と同じバイトを CPU で描きます")
            : request.renderingMode == Mode::cpu ? tr("CPU の生成器で描きます")
                                                 : tr("GPU で描きます"));
    try {
        run(options, false);
        return 0;
    } catch (const Failure& failure) {
        say(failure.message);
        return 1;
    }
}
