// SPDX-License-Identifier: GPL-3.0-or-later
#include "profiles/inireader.h"

#include <QFile>
#include <QFileInfo>

namespace {

bool IsQuote(QChar c)
{
    return c == QLatin1Char('"') || c == QLatin1Char('\'');
}

// A value read by key loses one pair of matching quotes around it.
QString Unquote(const QString &value)
{
    if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

// Cut to the longest prefix of at most `length` UTF-16 units that does not end between the two
// halves of a character outside the Basic Multilingual Plane.
QString Cut(const QString &value, qsizetype length)
{
    if (value.size() <= length)
        return value;
    if (length > 0 && value.at(length - 1).isHighSurrogate())
        --length;
    return value.left(length);
}

} // namespace

bool CIniReader::SetFile(const QString &newPath)
{
    path = newPath;
    parsed.reset();
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

const CIniReader::Parsed &CIniReader::Read() const
{
    // Size, times and inode change with every edit and with a file put in its place.
    const FileIdentity now = FileIdentity::OfTarget(path);
    if (parsed && now.Untouched(parsedFrom))
        return *parsed;
    QFile file(path);
    QByteArray data;
    if (!path.isEmpty() && file.open(QIODevice::ReadOnly))
        data = file.readAll();
    parsed = std::make_shared<const Parsed>(Parse(data));
    parsedFrom = now;
    return *parsed;
}

CIniReader::Parsed CIniReader::Parse(const QByteArray &bytes)
{
    Parsed result;
    QList<Section> &sections = result.sections;
    QByteArrayView data(bytes);
    if (data.startsWith("\xEF\xBB\xBF"))
        data = data.sliced(3);
    const QStringList lines = QString::fromUtf8(data).split(QLatin1Char('\n'));
    int lineNumber = 0;
    for (const QString &raw : lines) {
        ++lineNumber;
        const QString line = raw.trimmed();
        // Blank lines and comments are not entries; lines before the first section belong
        // to no section and cannot be read.
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            qsizetype close = line.indexOf(QLatin1Char(']'));
            if (close < 0)
                close = line.size();
            sections.append(Section{line.mid(1, close - 1).trimmed(), {}});
            continue;
        }
        if (sections.isEmpty())
            continue;
        Entry entry;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        entry.hasEquals = eq >= 0;
        entry.key = entry.hasEquals ? line.left(eq).trimmed() : QString();
        entry.value = entry.hasEquals ? line.mid(eq + 1).trimmed() : line;
        entry.line = entry.hasEquals ? entry.key + QLatin1Char('=') + entry.value : line;
        entry.lineNumber = lineNumber;
        sections.last().entries.append(entry);
    }
    // A name that comes again names its first section: the later ones are found by position.
    for (qsizetype i = sections.size() - 1; i >= 0; --i)
        result.firstByName.insert(sections.at(i).name.toCaseFolded(), i);
    return result;
}

const CIniReader::Section *CIniReader::Find(const QString &name) const
{
    const Parsed &file = Read();
    const qsizetype at = file.firstByName.value(name.trimmed().toCaseFolded(), -1);
    return at >= 0 ? &file.sections.at(at) : nullptr;
}

bool CIniReader::HasKeys(const QString &section) const
{
    const Section *s = Find(section);
    return s && !s->entries.isEmpty();
}

QString CIniReader::GetString(const QString &section, const QString &key) const
{
    const Section *s = Find(section);
    if (!s)
        return QString();
    const QString wanted = key.trimmed();
    for (const Entry &e : s->entries) {
        // An entry without "=" is listed under its whole line as the name.
        const QString &name = e.hasEquals ? e.key : e.line;
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            return e.hasEquals ? Cut(Unquote(e.value), maxValueLength) : QString();
    }
    return QString();
}

int CIniReader::GetSectionNames(QStringList &names) const
{
    names.clear();
    for (const Section &s : Read().sections)
        names.append(s.name);
    if (names.isEmpty())
        names.append(QString());
    return int(names.size());
}

int CIniReader::GetSection(const QString &section, QStringList &keys, QStringList &values,
                           QList<int> *lines) const
{
    keys.clear();
    values.clear();
    if (lines)
        lines->clear();
    if (const Section *s = Find(section)) {
        for (const Entry &e : s->entries) {
            keys.append(e.key);
            values.append(e.value);
            if (lines)
                lines->append(e.lineNumber);
        }
    }
    if (keys.isEmpty()) {
        keys.append(QString());
        values.append(QString());
        if (lines)
            lines->append(0);
    }
    return int(keys.size());
}
