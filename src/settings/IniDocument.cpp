#include "IniDocument.h"

#include <QSet>
#include <QStringList>
#include <algorithm>
#include <iterator>

namespace {

bool isIniSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

int hexValue(char16_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int octValue(char16_t c) {
    return c >= '0' && c <= '7' ? c - '0' : -1;
}

// Backslash escapes: the letter after the backslash and the character it stands for.
const char16_t kEscapes[][2] = {{'a', '\a'},  {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                {'r', '\r'},  {'t', '\t'}, {'v', '\v'}, {'"', '"'},
                                {'\\', '\\'}, {'?', '?'},  {'\'', '\''}};

// One logical line, split as QSettings splits them: a quoted stretch or a
// backslash carries it over a line break, and ';' starts a comment.
bool readIniLine(const QByteArray& data, qsizetype& pos, qsizetype& start, qsizetype& length,
                 qsizetype& equals) {
    const qsizetype size = data.size();
    bool inQuotes = false;
    equals = -1;
    start = pos;
    while (start < size && isIniSpace(data[start]))
        ++start;
    qsizetype i = start;
    while (i < size) {
        const char ch = data[i++];
        if (ch == '=') {
            if (!inQuotes && equals == -1)
                equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            if (i < size) {
                const char escaped = data[i++];
                // \r\n and \n\r are one line break.
                if (i < size &&
                    ((escaped == '\n' && data[i] == '\r') || (escaped == '\r' && data[i] == '\n')))
                    ++i;
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == ';') {
            if (i == start + 1) {
                while (i < size && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < size && isIniSpace(data[i]))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    pos = i;
    length = i - start;
    return length > 0;
}

// "a\b" names the key "a/b"; %XX and %UXXXX stand for one character.
QString unescapedKey(const QByteArray& raw) {
    const QString key = QString::fromUtf8(raw);
    if (!raw.contains('\\') && !raw.contains('%'))
        return key;
    QString result;
    qsizetype i = 0;
    while (i < key.size()) {
        const QChar ch = key[i];
        if (ch == QLatin1Char('\\')) {
            result += QLatin1Char('/');
            ++i;
            continue;
        }
        if (ch != QLatin1Char('%') || i == key.size() - 1) {
            result += ch;
            ++i;
            continue;
        }
        qsizetype first = i + 1;
        int digits = 2;
        if (key[first] == QLatin1Char('U')) {
            ++first;
            digits = 4;
        }
        bool ok = first + digits <= key.size();
        const ushort code = ok ? key.mid(first, digits).toUShort(&ok, 16) : 0;
        if (!ok) {
            result += QLatin1Char('%');
            ++i;
            continue;
        }
        result += QChar(code);
        i = first + digits;
    }
    return result;
}

QByteArray escapedKey(const QString& key) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray result;
    for (const QChar qch : key) {
        const char16_t ch = qch.unicode();
        if (ch == '/') {
            result += '\\';
        } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                   (ch >= '0' && ch <= '9') || ch == '_' || ch == '-' || ch == '.') {
            result += char(ch);
        } else if (ch <= 0xFF) {
            result += '%';
            result += hex[ch / 16];
            result += hex[ch % 16];
        } else {
            result += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                result += hex[(ch >> shift) & 0xF];
        }
    }
    return result;
}

// QSettings' key form: no empty parts, no leading or trailing slash.
QString normalisedKey(const QString& key) {
    if (!key.startsWith(QLatin1Char('/')) && !key.endsWith(QLatin1Char('/')) &&
        !key.contains(QLatin1String("//")))
        return key;
    return key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
}

// A value as QSettings reads it: quotes, escapes, and commas that make a list.
QVariant decodedValue(const QByteArray& raw) {
    // Most values are plain words and numbers, read at once; large files hold many.
    if (std::none_of(raw.cbegin(), raw.cend(), [](char c) {
            return c == '\\' || c == '"' || c == ',' || c == '\n' || c == '\r' || c == '\v' ||
                   c == '\f';
        })) {
        qsizetype from = 0, to = raw.size();
        while (from < to && (raw[from] == ' ' || raw[from] == '\t'))
            ++from;
        while (to > from && (raw[to - 1] == ' ' || raw[to - 1] == '\t'))
            --to;
        if (from == to || raw[from] != '@')
            return QString::fromUtf8(raw.constData() + from, to - from);
    }
    const QString text = QString::fromUtf8(raw);
    QStringList list;
    QString current;
    bool isList = false;
    bool inQuotes = false;
    bool quoted = false;
    qsizetype chopLimit = 0; // trailing spaces up to here are kept (escaped or quoted)
    const auto chopTrailingSpaces = [&] {
        while (current.size() > chopLimit &&
               (current.back() == QLatin1Char(' ') || current.back() == QLatin1Char('\t')))
            current.chop(1);
    };
    const auto skipSpaces = [&](qsizetype& i) {
        while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
            ++i;
    };
    qsizetype i = 0;
    skipSpaces(i);
    while (i < text.size()) {
        const char16_t ch = text[i].unicode();
        if (ch == '\\') {
            ++i;
            if (i >= text.size())
                break;
            const char16_t e = text[i++].unicode();
            bool simple = false;
            for (const auto& escape : kEscapes) {
                if (e == escape[0]) {
                    current += QChar(escape[1]);
                    simple = true;
                    break;
                }
            }
            if (!simple) {
                const bool isHex = e == 'x' && i < text.size() && hexValue(text[i].unicode()) != -1;
                if (isHex || octValue(e) != -1) {
                    char16_t value = isHex ? 0 : char16_t(octValue(e));
                    int digit = 0;
                    while (i < text.size() && (digit = isHex ? hexValue(text[i].unicode())
                                                             : octValue(text[i].unicode())) != -1) {
                        value = char16_t(value * (isHex ? 16 : 8) + digit);
                        ++i;
                    }
                    current += QChar(value);
                } else if ((e == '\n' || e == '\r') && i < text.size() &&
                           (text[i] == QLatin1Char('\n') || text[i] == QLatin1Char('\r')) &&
                           text[i] != QChar(e)) {
                    ++i; // a continued line
                }
            }
            chopLimit = current.size();
        } else if (ch == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipSpaces(i);
        } else if (ch == ',' && !inQuotes) {
            if (!quoted)
                chopTrailingSpaces();
            isList = true;
            list << current;
            current.clear();
            chopLimit = 0;
            quoted = false;
            ++i;
            skipSpaces(i);
        } else {
            current += text[i++];
        }
    }
    if (!quoted)
        chopTrailingSpaces();
    if (isList) {
        list << current;
        return list;
    }
    if (current.startsWith(QLatin1String("@@")))
        return current.mid(1);
    if (current == QLatin1String("@Invalid()"))
        return {};
    // Other "@Type(...)" forms stay strings: no key of this program holds one.
    return current;
}

QByteArray escapedString(const QString& value) {
    QString out;
    bool needsQuotes = false;
    bool escapeNextIfHexDigit = false;
    for (const QChar qch : value) {
        const char16_t ch = qch.unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        // After \x.. or \0, a hex digit would extend the escape.
        if (escapeNextIfHexDigit && hexValue(ch) != -1) {
            out += QStringLiteral("\\x") + QString::number(ch, 16);
            continue;
        }
        escapeNextIfHexDigit = false;
        // Written the way QSettings writes them; '?' and '\'' need no escape.
        const auto escape = std::find_if(std::begin(kEscapes), std::end(kEscapes) - 2,
                                         [ch](const auto& e) { return e[1] == ch; });
        if (escape != std::end(kEscapes) - 2) {
            out += QLatin1Char('\\');
            out += QChar((*escape)[0]);
        } else if (ch <= 0x1F) {
            out +=
                ch == 0 ? QStringLiteral("\\0") : QStringLiteral("\\x") + QString::number(ch, 16);
            escapeNextIfHexDigit = true;
        } else {
            out += qch;
        }
    }
    if (needsQuotes || out.startsWith(QLatin1Char(' ')) || out.endsWith(QLatin1Char(' ')))
        out = QLatin1Char('"') + out + QLatin1Char('"');
    return out.toUtf8();
}

QByteArray encodedValue(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? "true" : "false";
    case QMetaType::Double:
    case QMetaType::LongLong:
        // The shortest text that reads back as the same number.
        return value.toString().toUtf8();
    default: {
        const QString text = value.toString();
        return escapedString(text.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + text : text);
    }
    }
}

} // namespace

qsizetype IniDocument::bodyStart() const {
    // QSettings skips a UTF-8 byte order mark; so must the lines here, or the
    // first group header would not count as one.
    return m_text.startsWith("\xef\xbb\xbf") ? 3 : 0;
}

QList<IniDocument::Line> IniDocument::lines() const {
    QList<Line> result;
    QString section;
    qsizetype pos = bodyStart(), start = 0, length = 0, equals = 0;
    const auto physicalEnd = [this](qsizetype from) {
        while (from < m_text.size() && m_text[from] != '\n' && m_text[from] != '\r')
            ++from;
        return from;
    };
    while (readIniLine(m_text, pos, start, length, equals)) {
        const QByteArray line = m_text.mid(start, length);
        const qsizetype end = start + length;
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            const QByteArray name = line.mid(1, close == -1 ? -1 : close - 1).trimmed();
            if (name.compare("general", Qt::CaseInsensitive) == 0)
                section.clear();
            else if (name.compare("%general", Qt::CaseInsensitive) == 0)
                section = QString::fromLatin1(name.mid(1));
            else
                section = normalisedKey(unescapedKey(name));
            result.append({section, {}, -1, end, physicalEnd(end)});
            continue;
        }
        QString key;
        if (equals != -1) {
            const QString own = unescapedKey(m_text.mid(start, equals - start).trimmed());
            // A line whose own key is empty is ignored, whatever its group.
            if (!normalisedKey(own).isEmpty())
                key = normalisedKey(section + QLatin1Char('/') + own);
        }
        result.append({section, key, key.isEmpty() ? -1 : equals, end, physicalEnd(end)});
    }
    return result;
}

QHash<QString, QVariant> IniDocument::values() const {
    QHash<QString, QVariant> result;
    for (const Line& line : lines()) {
        if (!line.key.isEmpty())
            result.insert(line.key,
                          decodedValue(m_text.mid(line.equals + 1, line.end - line.equals - 1)));
    }
    return result;
}

void IniDocument::setValue(const QString& key, const QVariant& value) {
    setValues({{key, value}});
}

void IniDocument::setValues(const QMap<QString, QVariant>& values) {
    QMap<QString, QByteArray> encoded;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        encoded.insert(it.key(), encodedValue(it.value()));
    const QList<Line> all = lines();
    QSet<QString> found;
    // From the back, so the offsets of earlier lines stay valid.
    for (auto line = all.crbegin(); line != all.crend(); ++line) {
        const auto value = encoded.constFind(line->key);
        if (line->key.isEmpty() || value == encoded.cend())
            continue;
        // The blanks around the value are the file's layout, and stay.
        qsizetype from = line->equals + 1, to = line->end;
        while (from < to && (m_text[from] == ' ' || m_text[from] == '\t'))
            ++from;
        while (to > from && (m_text[to - 1] == ' ' || m_text[to - 1] == '\t'))
            --to;
        m_text.replace(from, to - from, *value);
        found.insert(line->key);
    }
    for (const QString& key : found)
        encoded.remove(key);
    if (!encoded.isEmpty())
        addValues(encoded);
}

void IniDocument::addValues(const QMap<QString, QByteArray>& encoded) {
    // The new lines of each group, and what every key should read afterwards.
    QMap<QString, QList<QByteArray>> entries;
    QHash<QString, QVariant> expected = values();
    for (auto it = encoded.cbegin(); it != encoded.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        const QString section = slash == -1 ? QString() : it.key().left(slash);
        entries[section].append(escapedKey(it.key().mid(slash + 1)) + '=' + *it);
        expected.insert(it.key(), decodedValue(*it));
    }
    const auto header = [](const QString& section) {
        return '[' +
               (section.isEmpty() ? QByteArray("General")
                : section.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0
                    ? '%' + section.toUtf8()
                    : escapedKey(section)) +
               "]\n";
    };
    const auto block = [&](const QString& section) {
        return header(section) + entries.value(section).join('\n') + '\n';
    };

    // Each group's lines go after the whole last line of the group, its
    // comment included; from the back, so earlier offsets stay valid.
    QMap<qsizetype, QString> lastLineEnds;
    {
        QHash<QString, qsizetype> ends;
        for (const Line& line : lines())
            ends.insert(line.section, line.lineEnd);
        for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
            if (ends.contains(it.key()))
                lastLineEnds.insert(ends.value(it.key()), it.key());
        }
    }
    QByteArray candidate = m_text;
    for (auto it = lastLineEnds.constEnd(); it != lastLineEnds.constBegin();) {
        --it;
        const qsizetype at = it.key();
        if (at == candidate.size()) {
            candidate += '\n' + entries.value(it.value()).join('\n');
        } else {
            const qsizetype after =
                at + (candidate.mid(at, 2) == "\r\n" || candidate.mid(at, 2) == "\n\r" ? 2 : 1);
            const QByteArray lineBreak = candidate.mid(at, after - at);
            candidate.insert(after, entries.value(it.value()).join(lineBreak) + lineBreak);
        }
    }
    // New groups go last; top-level keys without any line go first, as QSettings puts them.
    bool general = false;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (lastLineEnds.values().contains(it.key()))
            continue;
        if (it.key().isEmpty()) {
            general = true;
            continue;
        }
        if (!candidate.isEmpty())
            candidate += candidate.endsWith('\n') ? "\n" : "\n\n";
        candidate += block(it.key());
    }
    const qsizetype body = bodyStart();
    if (general)
        candidate.insert(body, block({}) + (candidate.size() > body ? "\n" : ""));
    if (IniDocument(candidate).values() == expected) {
        m_text = candidate;
        return;
    }
    // A hostile last line (an open quote, a trailing backslash) swallowed what
    // follows it. The start of the file is always the start of a line: the keys
    // go there, in groups of their own, when nothing else keeps every other
    // value as it was; the old top-level lines stay in [General].
    QByteArray top;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (!it.key().isEmpty())
            top += block(it.key()) + '\n';
    }
    if (entries.contains(QString()))
        top += block({}) + '\n';
    else if (m_text.size() > body)
        top += "[General]\n";
    if (m_text.size() == body)
        top.chop(1);
    m_text.insert(body, top);
}
