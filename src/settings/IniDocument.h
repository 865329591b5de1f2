#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

// The settings file's text, in the INI dialect that QSettings reads and writes.
// Reading follows QSettings' rules; writing a key rewrites only the value of the
// lines that hold it (or adds one line), so every other byte of the file stays as
// it was: keys of other programs, comments, duplicates and values this code would
// not know how to write back.
class IniDocument {
public:
    explicit IniDocument(QByteArray text = {}) : m_text(std::move(text)) {}

    const QByteArray& text() const { return m_text; }

    // Every key with its value as QSettings reads it: a string, a string list, or
    // an invalid QVariant for "@Invalid()". Keys in a group are "Group/key"; of
    // duplicates the last one counts.
    QHash<QString, QVariant> values() const;

    // Writes value (bool, double, qint64 or QString) under key on every line that
    // holds it, or adds a line to the key's group ("General" for a key without one).
    void setValue(const QString& key, const QVariant& value);

private:
    struct Line {
        QString section; // normalised group of the line, empty at the top level
        QString key;     // normalised full key; empty for headers and lines without '='
        qsizetype equals;
        qsizetype end;
    };
    QList<Line> lines() const;
    // Whether edited holds key with the encoded value and every other key as now.
    bool keepsOtherValues(const QByteArray& edited, const QString& key,
                          const QByteArray& encoded) const;

    QByteArray m_text;
};
