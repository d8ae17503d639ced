// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "batchoptions.h"

#include <QString>
#include <QStringList>

class QCommandLineParser;

// The command line of kestrani-cli, checked for form. What depends on the profile files (how
// many profiles a type has) is checked once they are read.
class CliOptions
{
public:
    // False on a usage error; errorText then says what is wrong.
    bool Parse(const QStringList &arguments);
    static QString Usage();

    int outputType = 0;
    int profile = 0;     // 1-based; 0: the type's DefaultProfile
    QString outputDir;   // empty: the stored destination
    double begin = -1.0; // < 0: from the start
    double end = -1.0;   // < 0: to the clip's end
    int jobs = 1;        // tasks at once; 0: as many as keep the machine busy
    bool listProfiles = false;
    bool printCommands = false;
    bool help = false;
    bool version = false;
    BatchOptions batch; // the size limit and parts, loudness, subtitles
    QStringList files;
    QString errorText;

private:
    bool TakeOptionalValues(QStringList &arguments);
    bool ParseBatchOptions(const QCommandLineParser &parser);
};
