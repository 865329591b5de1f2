#include "LumenweaveApp.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QSurfaceFormat>

int main(int argc, char** argv) {
    // Render workers' GL contexts share textures with the presenter's.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QCoreApplication::setOrganizationName(QStringLiteral("Lumenweave"));
    QCoreApplication::setApplicationName(QStringLiteral("Lumenweave"));
    QGuiApplication::setDesktopFileName(QStringLiteral("lumenweave"));
    QApplication application(argc, argv);
    LumenweaveApp::installQtTranslations(application);
    quitOnTerminationSignals();

    LumenweaveApp app;
    app.show();
    return application.exec();
}
