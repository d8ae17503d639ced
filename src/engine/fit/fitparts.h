// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fit/fitprofile.h"
#include "fit/partplan.h"
#include "fit/rateplan.h"

#include <QList>
#include <QString>

class OutputType;
struct BatchOptions;
struct ConversionTask;
struct Profile;
struct SourceInfo;

// A task before a size limit and parts: what the plan works with (its trimmed length, up to
// where the source's picture ends; its sound; its output's picture rate; its title) and
// whether the batch's options cut it into parts.
namespace FitParts {

FitTask TaskFor(const ConversionTask &task, const SourceInfo &source, const FitProfile &profile);
// The output's picture rate for this source under the profile's rule; invalid when unknown.
FrameRate OutputRate(const SourceInfo &source, const FitProfile &profile);

struct Split {
    QList<Part> parts; // two or more; none: the task converts in one piece
    QString problem;   // why the task cannot be cut as asked (it fails before anything runs)
};
// The parts of a task: of at most the part length asked for, and where a limit is set and the
// whole does not fit (or a part length is asked for), of at most what the limit holds at the
// profile's lowest rates, as few as that allows and of even lengths.
Split For(const Profile &profile, const OutputType &type, const SourceInfo &source,
          const ConversionTask &task, const BatchOptions &options);

} // namespace FitParts
