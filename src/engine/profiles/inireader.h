// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Reads INI files the way the classic private-profile functions do, so that profile files
// written for them read the same here: sections and entries in file order, section and key
// names compared without regard to case, blanks around names and values trimmed, the first
// "=" splitting an entry. The file is read again on every call, so an edited file is seen at
// once. Files are UTF-8 (a leading byte-order mark is skipped).
class CIniReader
{
public:
    // Longest value that a read by key delivers; longer values are cut.
    static constexpr int maxValueLength = 259;

    virtual ~CIniReader() = default;

    // Stores the path. True when it names an existing file (not a folder).
    bool SetFile(const QString &path);
    QString File() const { return path; }

    // True when the section exists and holds at least one entry.
    bool HasKeys(const QString &section) const;
    // The value of the first matching key, surrounding quotes removed, cut to 259 characters;
    // empty when the section or the key is missing.
    QString GetString(const QString &section, const QString &key) const;
    // The section names in file order. An empty result is one empty name, never none.
    int GetSectionNames(QStringList &names) const;
    // The entries of the first matching section in file order, split at their first "=";
    // an entry without "=" has an empty key and the whole line as its value. An empty or
    // missing section gives one entry with an empty key and value. Returns the key count.
    int GetSection(const QString &section, QStringList &keys, QStringList &values) const;

private:
    struct Entry {
        QString line; // the whole trimmed line, as a section read returns it
        QString key;
        QString value;
        bool hasEquals = false;
    };
    struct Section {
        QString name;
        QList<Entry> entries;
    };

    QList<Section> Parse() const;
    static const Section *Find(const QList<Section> &sections, const QString &name);

    QString path;
};
