// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "run/taskaddon.h"
#include "sound/loudnessplanner.h"

#include <QStringList>

#include <optional>

// The batch option "Even out the sound" (--loudness) for one task: the measuring runs of
// LoudnessPlanner before pass 1, the gain it decided in pass 1's arguments, and the read-back
// check's reading of the finished file's sound, which must be within 1 LU of what was set and
// peak at or under -1 dBTP. A file that misses is converted again (twice at most) with the gain
// and the limit corrected by what it missed; then a miss fails the task. Sound left as it is (bad
// input, or none) is said in a NOTE and never fails the task.
class LoudnessAddOn : public TaskAddOn
{
public:
    explicit LoudnessAddOn(double target) : target(target) {}

    QString Prepare(const TaskSetup &setup) override;
    QList<QStringList> Steps(Stage stage) const override;
    QString StepEnded(Stage stage, int index, const QByteArray &output) override;
    QList<QStringList> StepsAfter(Stage stage, int index) const override;
    QString TakeNote() override;
    void EditPass(int pass, QStringList &arguments) const override;
    void AskOfCheck(OutputExpectation &expected) const override;
    void TakeCheckReadings(const SoundLevels &levels) override;
    QString Summary() const override;
    QString CheckOutput(const QString &path, bool *again) override;

private:
    const double target;
    std::optional<LoudnessPlanner> planner; // none: nothing to measure
    LoudnessPlan plan;                      // what the planner decided, or its second try
    std::optional<LoudnessReading> finished;
    QStringList notes;
    int retries = 0;
};
