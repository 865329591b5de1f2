#include "VideoExport.h"

#include "CanvasTexturePool.h"
#include "ContentView.h"
#include "RenderOptions.h"
#include "SaveDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>

namespace {

constexpr int kNoticeMs = 3000; // as the image export's notice

QString suffixOf(VideoFile::Format format) {
    switch (format) {
    case VideoFile::Format::ffv1Matroska:
        return QStringLiteral("mkv");
    case VideoFile::Format::h264Mp4:
        return QStringLiteral("mp4");
    case VideoFile::Format::vp9WebM:
        return QStringLiteral("webm");
    }
    return {};
}

// H.264 and VP9 halve the colour resolution and need even sides: the view is
// made a pixel smaller where its side is odd, which drops the top row or the
// right column of the field (its grid grows from the bottom-left corner).
RenderRequest fittedTo(RenderRequest request, VideoFile::Format format) {
    if (format == VideoFile::Format::ffv1Matroska)
        return request;
    const double pixel = 1.0 / request.backingScale;
    const QSize size = request.frameSize();
    if (size.width() % 2 != 0)
        request.viewWidth -= pixel;
    if (size.height() % 2 != 0)
        request.viewHeight -= pixel;
    return request;
}

// The frames a choice makes: a loop's, or the length rounded to whole frames.
std::optional<std::int64_t> frameCount(const VideoExport::Choice& choice,
                                       const std::optional<Rational>& loop) {
    if (choice.loop) {
        if (!loop)
            return std::nullopt;
        const auto frames = Rational::multiply(*loop, Rational(choice.fps));
        return frames ? std::optional<std::int64_t>(std::int64_t(frames->numerator()))
                      : std::nullopt;
    }
    return std::max<std::int64_t>(1, std::llround(choice.seconds * choice.fps));
}

QString noLoopText(const AnimationSettings& a) {
    const bool turning = (a.rotation && a.rotationSpeed != 0) ||
                         (a.phaseDrift && a.phaseSpeed != 0) || a.breathing || a.illuminant;
    if (!turning)
        return VideoExport::tr(
            "回転、位相、呼吸、照明色のどれも動いていないので、ループにできません。");
    return VideoExport::tr("%1 分以内にちょうど元に戻る長さがありません。")
        .arg(kMaxLoopSeconds / 60);
}

} // namespace

struct VideoExport::Job {
    RenderRequest request;
    QString path;
    VideoFile::Format format = VideoFile::Format::ffv1Matroska;
    int fps = 30;
    std::int64_t frames = 0;
    std::atomic<bool> cancelled{false};
    std::atomic<std::int64_t> done{0};
    // Set by the worker; read on the main thread once it has ended.
    bool written = false;
    QString reason;

    void cancel() {
        cancelled = true;
        std::lock_guard guard(lock);
        if (video)
            video->cancel();
    }

    void run() {
        try {
            write();
        } catch (const std::exception&) {
            reason = tr("メモリが足りません。");
        }
        std::lock_guard guard(lock);
        video = nullptr;
    }

private:
    void write() {
        // Textures of its own: the window's rings are never handed out here.
        CanvasPools pools;
        const CanvasPools::Use use(pools);
        RequestRenderer renderer(request);
        VideoFile file(path, format);
        {
            std::lock_guard guard(lock);
            video = &file;
        }
        for (std::int64_t k = 0; k < frames; ++k) {
            if (cancelled)
                return;
            const auto t = Rational::divide(Rational(k), Rational(fps));
            const FrameImage frame = renderer.frameAt(t.value_or(Rational(0)));
            if (frame.failure != FrameImage::Failure::none) {
                reason = tr("絵を作れませんでした。");
                return;
            }
            if (k == 0 && !file.open(frame.image.width(), frame.image.height(), fps, 1)) {
                reason = file.reason();
                return;
            }
            if (!file.writeFrame(frame.image)) {
                reason = cancelled ? QString() : file.reason();
                return;
            }
            done = k + 1;
        }
        if (cancelled)
            return;
        written = file.finish();
        if (!written && !cancelled)
            reason = file.reason();
    }

    std::mutex lock; // guards video, which cancel() reaches from the main thread
    VideoFile* video = nullptr;
};

VideoExport::VideoExport(AppModel& model, ContentView& view, QWidget* window)
    : QObject(window), m_model(model), m_view(view), m_window(window) {}

VideoExport::~VideoExport() {
    if (!m_thread)
        return;
    m_job->cancel();
    // The worker may wait for the main thread (its GL surface is made there).
    while (!m_thread->wait(20))
        QCoreApplication::processEvents();
    delete m_thread;
}

RenderRequest VideoExport::requestOfTheShownField() const {
    const RenderState& state = m_view.renderState();
    RenderRequest r;
    r.takeSettings(m_model, state.pointsPerCentimetre);
    r.seed = state.patternSeed;
    r.viewWidth = state.viewSize.width();
    r.viewHeight = state.viewSize.height();
    r.backingScale = state.currentBackingScale();
    r.maxPatchSize = state.maxPatchSize;
    // At full pixel resolution, as the image export, whatever the animation's render scale.
    r.animationRenderScale = 1;
    return r;
}

bool VideoExport::isRunning() const {
    return m_thread != nullptr;
}

void VideoExport::cancel() {
    if (m_job)
        m_job->cancel();
}

void VideoExport::ask() {
    if (isRunning()) {
        if (m_progress) {
            m_progress->raise();
            m_progress->activateWindow();
        }
        return;
    }
    // The field of the moment the command was given.
    const RenderRequest request = requestOfTheShownField();

    auto* dialog = new QDialog(m_window);
    dialog->setObjectName(QStringLiteral("videoExportDialog"));
    dialog->setWindowTitle(tr("動画を書き出す"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* form = new QFormLayout(dialog);
    auto* seconds = new QDoubleSpinBox(dialog);
    seconds->setRange(0.1, double(kMaxVideoSeconds));
    seconds->setDecimals(1);
    seconds->setSuffix(tr(" 秒"));
    seconds->setValue(m_lastChoice.seconds);
    auto* fps = new QSpinBox(dialog);
    fps->setRange(1, 240);
    fps->setValue(m_lastChoice.fps);
    auto* format = new QComboBox(dialog);
    format->addItem(tr("FFV1（.mkv、可逆）"), int(VideoFile::Format::ffv1Matroska));
    format->addItem(tr("H.264（.mp4）"), int(VideoFile::Format::h264Mp4));
    format->addItem(tr("VP9（.webm）"), int(VideoFile::Format::vp9WebM));
    format->setCurrentIndex(format->findData(int(m_lastChoice.format)));
    auto* loop = new QCheckBox(tr("動きがちょうど元に戻る長さにする"), dialog);
    loop->setChecked(m_lastChoice.loop);
    auto* summary = new QLabel(dialog);
    // The dialog follows its content as the summary changes.
    form->setSizeConstraint(QLayout::SetFixedSize);
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton(tr("書き出す..."), QDialogButtonBox::AcceptRole);
    buttons->addButton(tr("キャンセル"), QDialogButtonBox::RejectRole);
    form->addRow(tr("長さ:"), seconds);
    form->addRow(tr("fps:"), fps);
    form->addRow(tr("形式:"), format);
    form->addRow(tr("ループ:"), loop);
    form->addRow(summary);
    form->addRow(buttons);

    const auto choice = [=] {
        Choice c;
        c.seconds = seconds->value();
        c.fps = fps->value();
        c.format = VideoFile::Format(format->currentData().toInt());
        c.loop = loop->isChecked();
        return c;
    };
    const auto update = [=] {
        const Choice c = choice();
        const auto cycle =
            loopDuration(request.animation, Rational(c.fps), Rational(kMaxLoopSeconds));
        const auto frames = frameCount(c, cycle);
        const QSize size = fittedTo(request, c.format).frameSize();
        seconds->setEnabled(!c.loop);
        QString text;
        if (c.loop && cycle)
            text = tr("ループの長さ %1 秒。\n").arg(cycle->toDouble(), 0, 'g', 10);
        else if (c.loop)
            text = noLoopText(request.animation) + QLatin1Char('\n');
        if (frames)
            text += tr("%1 フレーム、%2×%3 ピクセル。")
                        .arg(*frames)
                        .arg(size.width())
                        .arg(size.height());
        summary->setText(text);
        ok->setEnabled(frames.has_value());
    };
    connect(seconds, &QDoubleSpinBox::valueChanged, dialog, update);
    connect(fps, &QSpinBox::valueChanged, dialog, update);
    connect(format, &QComboBox::currentIndexChanged, dialog, update);
    connect(loop, &QCheckBox::toggled, dialog, update);
    update();
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, choice, request] {
        const Choice c = choice();
        m_lastChoice = c;
        dialog->accept();
        const QString suffix = suffixOf(c.format);
        // The desktop's videos folder (XDG_VIDEOS_DIR).
        auto* files =
            saveDialog(m_window, QStringLiteral("videoFileDialog"), tr("動画を書き出す"),
                       QStandardPaths::MoviesLocation, tr("動画 (*.%1)").arg(suffix), suffix,
                       QStringLiteral("lumenweave-%1.%2")
                           .arg(request.seed, 16, 16, QLatin1Char('0'))
                           .arg(suffix));
        connect(files, &QFileDialog::fileSelected, this,
                [this, c, request](const QString& path) { startWith(request, c, path); });
        files->open();
    });
    dialog->open();
}

bool VideoExport::start(const Choice& choice, const QString& path) {
    return startWith(requestOfTheShownField(), choice, path);
}

bool VideoExport::startWith(RenderRequest request, const Choice& choice, const QString& path) {
    if (isRunning())
        return false;
    if (request.viewWidth <= 0 || request.viewHeight <= 0) {
        showFailure(path, tr("まだ何も表示していません。"));
        return false;
    }
    const auto cycle =
        loopDuration(request.animation, Rational(choice.fps), Rational(kMaxLoopSeconds));
    const auto frames = frameCount(choice, cycle);
    if (!frames) {
        showFailure(path, noLoopText(request.animation));
        return false;
    }
    if (choice.loop)
        request.loop = cycle;
    m_job = std::make_shared<Job>();
    m_job->request = fittedTo(request, choice.format);
    m_job->path = path;
    m_job->format = choice.format;
    m_job->fps = choice.fps;
    m_job->frames = *frames;

    m_progress = new QProgressDialog(tr("動画を書き出しています..."), tr("中止"), 0,
                                     int(std::min<std::int64_t>(*frames, INT_MAX)), m_window);
    m_progress->setObjectName(QStringLiteral("videoProgressDialog"));
    m_progress->setWindowTitle(tr("動画を書き出す"));
    // The window stays usable and keeps animating.
    m_progress->setWindowModality(Qt::NonModal);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setMinimumDuration(0);
    m_progress->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_progress, &QProgressDialog::canceled, this, &VideoExport::cancel);
    m_progress->show();
    m_progressTimer = new QTimer(this);
    connect(m_progressTimer, &QTimer::timeout, this, [this, total = *frames] {
        const std::int64_t done = m_job->done;
        if (m_progress) {
            m_progress->setValue(int(std::min<std::int64_t>(done, INT_MAX)));
            m_progress->setLabelText(
                tr("動画を書き出しています... フレーム %1 / %2").arg(done).arg(total));
        }
    });
    m_progressTimer->start(100);

    m_thread = QThread::create([job = m_job] { job->run(); });
    connect(m_thread, &QThread::finished, this, &VideoExport::ended);
    m_thread->start(QThread::LowPriority);
    return true;
}

void VideoExport::ended() {
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    delete m_progressTimer;
    m_progressTimer = nullptr;
    const bool written = m_job->written;
    const bool cancelled = m_job->cancelled;
    if (m_progress) {
        // Closing it says "canceled"; the export is over already.
        disconnect(m_progress, nullptr, this, nullptr);
        m_progress->close();
    }
    if (written)
        m_view.showModeMessage(tr("書き出しました: %1").arg(QFileInfo(m_job->path).fileName()),
                               kNoticeMs);
    else if (!cancelled)
        showFailure(m_job->path, m_job->reason);
    emit finished(written);
}

void VideoExport::showFailure(const QString& path, const QString& reason) {
    auto* box = new QMessageBox(
        QMessageBox::Warning, tr("動画を書き出せませんでした"),
        tr("「%1」に動画を書き出せませんでした。").arg(QDir::toNativeSeparators(path)),
        QMessageBox::Close, m_window);
    box->setObjectName(QStringLiteral("videoFailureBox"));
    box->setInformativeText(reason);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
