// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "profiles/commandtemplate.h"

#include <QString>
#include <QStringList>

struct ConversionTask;
struct EnginePaths;
struct SourceInfo;

// What a task's passes and steps are started with, whether it runs or is only printed.
namespace PassArguments {

// The template values of a task: its trim, its names, the sound the probe chose.
CommandTemplate::Values ValuesFor(const QString &outputFolder, const ConversionTask &task,
                                  const SourceInfo &source);
// The arguments with their program found (the app folder, then PATH).
QStringList Resolved(QStringList arguments, const EnginePaths &paths);

} // namespace PassArguments
