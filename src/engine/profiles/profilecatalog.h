// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "enginepaths.h"

#include <QString>
#include <QStringList>

#include <optional>

// One profile: its entries in file order. The first is its title, then the passes'
// templates, 1 to 5; entries after the passes (such as "Check") are read by name.
struct Profile {
    QStringList keys;
    QStringList values;

    // The template of pass 1..5; empty when the profile has no such entry before its Check.
    QString PassTemplate(int pass) const;
    // True when the profile has an entry for each of the first passCount passes.
    bool HasPasses(int passCount) const;
    // The value of the first entry with this key (case-insensitive); empty when none.
    QString Entry(const QString &key) const;
};

// The profile files in the app folder: one per output type, an "Info" section with the
// description and the default profile, then one section per profile. Files are read again on
// every call, so an edited file is seen at once.
class ProfileCatalog
{
public:
    struct Listing {
        bool readable = false; // the file exists and its "Info" section has entries
        QString file;
        QString description;
        QStringList titles;
        int defaultRow = -1; // -1: a default of 0 or past the last profile selects nothing
        QString warning;     // what is wrong with the file, though it can be used
    };

    explicit ProfileCatalog(const EnginePaths &paths) : paths(paths) {}

    Listing List(int outputType) const;
    // The profile of row `row` (row r is section r + 1); nothing when there is no such row or
    // no profile file, or when its Check line cannot be read (problem then names the line:
    // a check that is not made would let a wrong file pass as finished).
    std::optional<Profile> Load(int outputType, int row, QString *problem = nullptr) const;

private:
    EnginePaths paths;
};
