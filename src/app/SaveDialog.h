#pragma once

#include <QFileDialog>
#include <QStandardPaths>

// A save dialog for a file of one kind (nameFilter, suffix), opening in the
// desktop's folder for it (made if it is not there yet, else the home folder)
// with fileName proposed; deleted when it closes. Qt's own dialog, which speaks
// Japanese whatever the desktop's language.
QFileDialog* saveDialog(QWidget* parent, const QString& objectName, const QString& title,
                        QStandardPaths::StandardLocation folderKind, const QString& nameFilter,
                        const QString& suffix, const QString& fileName);
