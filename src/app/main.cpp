#include "ContentView.h"
#include "FrameLog.h"
#include "LumenweaveApp.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSurfaceFormat>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // Past a file-size limit an image export should fail and be reported, not
    // end the process with a temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    // Render workers' GL contexts share textures with the presenter's.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QCoreApplication::setOrganizationName(QStringLiteral("Lumenweave"));
    QCoreApplication::setApplicationName(QStringLiteral("Lumenweave"));
    QGuiApplication::setDesktopFileName(QStringLiteral("lumenweave"));
    QApplication application(argc, argv);
    LumenweaveApp::installQtTranslations(application);
    quitOnTerminationSignals();

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption frameLogOption(
        QStringLiteral("frame-log"),
        QStringLiteral("Write one CSV line per frame put on screen to FILE."),
        QStringLiteral("FILE"));
    parser.addOption(frameLogOption);
    parser.process(application);
    std::unique_ptr<FrameLog> frameLog;
    if (parser.isSet(frameLogOption)) {
        QString error;
        frameLog = FrameLog::open(parser.value(frameLogOption), &error);
        if (!frameLog) {
            std::fprintf(stderr, "lumenweave: cannot write the frame log %s: %s\n",
                         qPrintable(parser.value(frameLogOption)), qPrintable(error));
            return 1;
        }
    }

    LumenweaveApp app;
    if (frameLog)
        app.contentView()->setFrameLog(std::move(frameLog));
    app.show();
    return application.exec();
}
