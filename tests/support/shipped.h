// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The shipped profiles as the size-limit tests read them: a profile, what it lets a limit
// lower, and a pass's arguments expanded for a trim of a source.

#include "engine.h"

#include "fit/fitprofile.h"
#include "profiles/commandtemplate.h"
#include "profiles/profilecatalog.h"

namespace support {

inline Profile Shipped(const EnginePaths &paths, int type, int row)
{
    return ProfileCatalog(paths).Load(type, row).value_or(Profile());
}

inline FitProfile ShippedFit(const EnginePaths &paths, int type, int row)
{
    return FitProfile::Read(Shipped(paths, type, row), OutputType::Find(type)->PassCount());
}

// The expanded arguments of a shipped profile's pass for `source` from `begin`, into `folder`.
inline QStringList PassArguments(const EnginePaths &paths, int type, int row, int pass,
                                 const QString &source, double begin, double seconds,
                                 const QString &folder)
{
    ConversionTask task = ConversionTask::ForSource(source, begin + seconds);
    task.beginSeconds = begin;
    const auto values = CommandTemplate::Values::For(task, folder + u'/', QDateTime());
    return CommandTemplate::ExpandArguments(Shipped(paths, type, row).PassTemplate(pass), values);
}

} // namespace support
