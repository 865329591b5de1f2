#include "BuildInfo.h"
#include "ContentView.h"
#include "FrameLog.h"
#include "LumenweaveApp.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSurfaceFormat>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <string_view>

namespace {

// Read before the GUI starts: help needs no display.
bool asksFor(int argc, char** argv, std::initializer_list<std::string_view> names) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--")
            return false;
        if (std::find(names.begin(), names.end(), argument) != names.end())
            return true;
    }
    return false;
}

constexpr const char* kHelp =
    "使い方: lumenweave [オプション]\n"
    "\n"
    "ガボールパッチの場をウィンドウいっぱいに描き、動かし、色を付け、\n"
    "ディスプレイに合わせて補正し、立体視で見せます。\n"
    "設定は「設定...」(Ctrl+,) で変えられ、\n"
    "$XDG_CONFIG_HOME/Lumenweave/Lumenweave.conf に保存されます。\n"
    "\n"
    "オプション:\n"
    "  -h, --help                この説明を表示して終わります。\n"
    "  -v, --version             バージョンを表示して終わります。\n"
    "  --frame-log <ファイル>    画面に出したフレームごとに1行を CSV で書きます\n"
    "                            (present_s,pass_ms,interval_ms,tick_skipped)。\n"
    "                            FIFO や - (標準出力) にも書けます。\n"
    "  --frame-log-overwrite     --frame-log のファイルがあれば置き換えます\n"
    "                            (付けなければ、あるファイルには書きません)。\n";

} // namespace

int main(int argc, char** argv) {
    if (asksFor(argc, argv, {"-h", "--help", "-help", "-?"})) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (asksFor(argc, argv, {"-v", "--version"})) {
        std::printf("Lumenweave %s (ビルド %s)\n", kVersion, kBuildStamp);
        return 0;
    }
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
    // Help and version were answered above; these stay so that they are no unknown options.
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption frameLogOption(QStringLiteral("frame-log"), QString(),
                                            QStringLiteral("FILE"));
    parser.addOption(frameLogOption);
    const QCommandLineOption frameLogOverwriteOption(QStringLiteral("frame-log-overwrite"));
    parser.addOption(frameLogOverwriteOption);
    // Qt's own messages here would be in English.
    if (!parser.parse(application.arguments())) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            std::fprintf(stderr, "lumenweave: 知らないオプションです: %s%s (--help で一覧)\n",
                         unknown.first().size() == 1 ? "-" : "--", qPrintable(unknown.first()));
        else
            std::fprintf(stderr, "lumenweave: --frame-log にはファイル名が要ります\n");
        return 1;
    }
    std::unique_ptr<FrameLog> frameLog;
    if (parser.isSet(frameLogOption)) {
        QString error;
        frameLog = FrameLog::open(parser.value(frameLogOption),
                                  parser.isSet(frameLogOverwriteOption), &error);
        if (!frameLog) {
            std::fprintf(stderr, "lumenweave: フレームログを書けません: %s: %s\n",
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
