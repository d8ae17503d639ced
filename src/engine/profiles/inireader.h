// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files/fileidentity.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// Reads INI files the way the classic private-profile functions do, so that profile files
// written for them read the same here: sections and entries in file order, section and key
// names compared without regard to case, blanks around names and values trimmed, the first
// "=" splitting an entry. Files are UTF-8 (a leading byte-order mark is skipped).
// A reader parses its file once and reads it again only when the file has changed since, so
// that a listing of thousands of sections costs one read, while an edited file is seen at once.
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
    // lines, when given, gets each entry's line number in the file (0 for the empty entry).
    int GetSection(const QString &section, QStringList &keys, QStringList &values,
                   QList<int> *lines = nullptr) const;

private:
    struct Entry {
        QString line; // the whole trimmed line, as a section read returns it
        QString key;
        QString value;
        int lineNumber = 0;
        bool hasEquals = false;
    };
    struct Section {
        QString name;
        QList<Entry> entries;
    };
    struct Parsed {
        QList<Section> sections;
        QHash<QString, qsizetype> firstByName; // case-folded name -> its first section
    };

    const Parsed &Read() const;
    static Parsed Parse(const QByteArray &data);
    const Section *Find(const QString &name) const;

    QString path;
    mutable std::shared_ptr<const Parsed> parsed;
    mutable FileIdentity parsedFrom; // the file as it was when parsed
};
