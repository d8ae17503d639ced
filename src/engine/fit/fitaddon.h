// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "batchoptions.h"
#include "conversiontask.h"
#include "fit/fitprofile.h"
#include "fit/rateplan.h"
#include "mediacheck/sourceprobe.h"
#include "profiles/profilecatalog.h"
#include "run/taskaddon.h"

// A task under the batch's size limit, and a part of a task cut into parts. Before anything
// runs, the rates come from the trimmed length (RatePlan); a task too long for the limit fails
// there, saying how long a part fits. A raw stream's length is measured first. Where the limit
// lowers a rate, or the profile's own rates come near it, the picture is encoded in two runs,
// the first writing statistics (named like the task's scratch files) and measuring an AAC
// sound at its rate. After the read-back check the file's size on disk is checked: a file over
// the limit is converted again at a picture rate scaled by the overshoot. A part's first pass
// starts on its lead-in. Without a limit it only says the estimated size.
class FitAddOn : public TaskAddOn
{
public:
    QString Prepare(const TaskSetup &setup) override;
    QList<QStringList> Steps(Stage stage) const override;
    QString StepEnded(Stage stage, int index, const QByteArray &output) override;
    void EditPass(int pass, QStringList &arguments) const override;
    QString Summary() const override;
    QString CheckOutput(const QString &path, bool *again) override;
    // After a file over the limit: that it is converted again, and at what rate.
    QString TakeNote() override;

    // Where a run's statistics go: "<base>_fit", to which the encoders add "-0.log".
    static constexpr const char *statisticsSuffix = "_fit";

private:
    QString Plan();
    QString ClaimStatistics(const TaskSetup &setup);
    void MeasuredSound(const QByteArray &output);
    QStringList FirstPass() const;

    // What the task gave, kept: its setup may be gone when the passes are asked for.
    ConversionTask given;
    SourceInfo source;
    QString input;
    Profile profileEntries;
    QString outputFolder;
    int partNumber = 0;
    double leadSeconds = 0;
    bool prepared = false;

    qint64 limit = 0;
    FitProfile profile;
    FitTask task;
    RatePlan plan;
    double pictureBits = 0; // what the next first pass gets
    bool measureLength = false;
    bool twoPass = false;
    QString statistics;    // the prefix, with its folder
    QString measuredSound; // the sound rate the statistics run encodes at
    int parts = 0;         // of the whole task, should the batch cut it
    int tries = 0;
    QString note;
};
