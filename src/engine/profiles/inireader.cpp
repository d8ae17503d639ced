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
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

QList<CIniReader::Section> CIniReader::Parse() const
{
    QList<Section> sections;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return sections;
    QByteArray data = file.readAll();
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    const QStringList lines = QString::fromUtf8(data).split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
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
        sections.last().entries.append(entry);
    }
    return sections;
}

const CIniReader::Section *CIniReader::Find(const QList<Section> &sections, const QString &name)
{
    for (const Section &s : sections) {
        if (s.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return &s;
    }
    return nullptr;
}

bool CIniReader::HasKeys(const QString &section) const
{
    const QList<Section> sections = Parse();
    const Section *s = Find(sections, section);
    return s && !s->entries.isEmpty();
}

QString CIniReader::GetString(const QString &section, const QString &key) const
{
    const QList<Section> sections = Parse();
    const Section *s = Find(sections, section);
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
    for (const Section &s : Parse())
        names.append(s.name);
    if (names.isEmpty())
        names.append(QString());
    return int(names.size());
}

int CIniReader::GetSection(const QString &section, QStringList &keys, QStringList &values) const
{
    keys.clear();
    values.clear();
    const QList<Section> sections = Parse();
    if (const Section *s = Find(sections, section)) {
        for (const Entry &e : s->entries) {
            keys.append(e.key);
            values.append(e.value);
        }
    }
    if (keys.isEmpty()) {
        keys.append(QString());
        values.append(QString());
    }
    return int(keys.size());
}
