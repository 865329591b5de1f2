#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
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
    // holds it, or adds a line after the whole last line of the key's group
    // ("General" for a key without one).
    void setValue(const QString& key, const QVariant& value);
    // The same for many keys, reading the text once (large files).
    void setValues(const QMap<QString, QVariant>& values);

private:
    struct Line {
        QString section; // normalised group of the line, empty at the top level
        QString key;     // normalised full key; empty for headers and lines without '='
        qsizetype equals;
        qsizetype end;     // of the line's content, before a comment
        qsizetype lineEnd; // of the physical line, after its comment, before the break
    };
    QList<Line> lines() const;
    // Where the text starts, past a UTF-8 byte order mark.
    qsizetype bodyStart() const;
    void addValues(const QMap<QString, QByteArray>& encoded);

    QByteArray m_text;
};
