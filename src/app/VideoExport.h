#pragma once

#include "AppModel.h"
#include "RenderRequest.h"
#include "VideoFile.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class ContentView;
class QProgressDialog;
class QThread;
class QTimer;
class QWidget;

// "動画を書き出す...": a small dialog (length, fps, format, loop), where to
// write, then the frames of the field shown rendered and encoded on a thread of
// its own behind a progress dialog that can cancel, while the window keeps
// animating. The file is the one lumenweave-render writes for the same seed,
// size and settings; a cancelled or failed export leaves none.
class VideoExport : public QObject {
    Q_OBJECT
public:
    struct Choice {
        double seconds = 10; // ignored for a loop
        int fps = 30;
        VideoFile::Format format = VideoFile::Format::ffv1Matroska;
        bool loop = false;
    };

    VideoExport(AppModel& model, ContentView& view, QWidget* window);
    ~VideoExport() override; // a running export is cancelled and waited for

    // The dialogs, then the export.
    void ask();
    // The field shown now, with choice, to path; no dialog but the progress.
    // Returns whether it started; why not is said in a message box.
    bool start(const Choice& choice, const QString& path);
    bool isRunning() const;
    void cancel();

    // What the field shown now would be written as.
    RenderRequest requestOfTheShownField() const;

signals:
    // On the main thread, once per started export.
    void finished(bool written);

private:
    struct Job;
    bool startWith(RenderRequest request, const Choice& choice, const QString& path);
    void ended();
    void showFailure(const QString& path, const QString& reason);

    AppModel& m_model;
    ContentView& m_view;
    QPointer<QWidget> m_window;
    std::shared_ptr<Job> m_job;
    QThread* m_thread = nullptr;
    QPointer<QProgressDialog> m_progress;
    QTimer* m_progressTimer = nullptr;
    Choice m_lastChoice;
};
