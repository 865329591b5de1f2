#include "SaveDialog.h"

#include <QDir>

QFileDialog* saveDialog(QWidget* parent, const QString& objectName, const QString& title,
                        QStandardPaths::StandardLocation folderKind, const QString& nameFilter,
                        const QString& suffix, const QString& fileName) {
    QString folder = QStandardPaths::writableLocation(folderKind);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        folder = QDir::homePath();
    auto* dialog = new QFileDialog(parent, title);
    dialog->setObjectName(objectName);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(nameFilter);
    dialog->setDefaultSuffix(suffix);
    dialog->setDirectory(folder);
    dialog->selectFile(fileName);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}
