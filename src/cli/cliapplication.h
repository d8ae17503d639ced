// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clihost.h"
#include "clioptions.h"
#include "conversionengine.h"
#include "tasklist.h"

#include <cstdio>
#include <memory>

// kestrani-cli's work: reads the options, builds the task list, and lists profiles, prints
// the commands or runs the batch through the same engine as the window.
class CliApplication
{
public:
    // Exit statuses besides 128 + a signal's number.
    enum Status { AllFinished = 0, NotAllFinished = 1, UsageError = 2 };

    CliApplication(std::FILE *out, std::FILE *err, bool liveProgress);
    ~CliApplication();

    // arguments as QCoreApplication::arguments() gives them, program name first. Runs the
    // event loop while a batch converts.
    int Run(const QStringList &arguments);

private:
    int UsageFailure(const QString &text);
    int ListProfiles();
    bool SelectProfile(int profile);
    QString OutputFolderOption(const QString &given) const;
    void AddTasks(const QStringList &files);
    int PrintCommands();
    int Convert();

    CliOptions options;
    TaskList tasks;
    CliHost host;
    std::unique_ptr<ConversionEngine> engine;
    std::FILE *out;
    std::FILE *err;
};
