// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class OutputType;
struct BatchOptions;
struct OutputExpectation;
struct SoundLevels;
struct ConversionTask;
struct Profile;
struct SourceInfo;

// What a task is about to convert, handed to its add-ons before any tool runs. The references
// stay valid for the task's life.
struct TaskSetup {
    const ConversionTask &task; // the task as it starts: trim, output name, title
    const SourceInfo &source;   // what the probe found in the file the passes read
    QString input;              // the file the passes read (the source, or its repacked copy)
    const Profile &profile;     // the selected profile's entries, in file order
    const OutputType &type;
    const BatchOptions &options;
    QString outputFolder; // ends with a separator
    // A scratch file of the task's own, named from the task's base name and this suffix
    // ("_subtitles.ass"), made exclusively beside the task's files, written and replaced by
    // any of the task's tools, and deleted with its other files (by a later batch too, should
    // this program be killed). Empty, with the errno in *error, when it cannot be made. For a
    // task only planned (the printed commands), the path it would have; nothing is made.
    std::function<QString(const QString &suffix, int *error)> claimScratch;
    // The same with `contents` written into it first, for a file the add-on writes itself
    // (once claimed, only the task's tools may change a scratch file). Asked at any time of
    // the task's life, in Prepare or StepEnded. For a task only planned, nothing is made.
    std::function<QString(const QString &suffix, const QByteArray &contents, int *error)>
        writeScratch;
    // A part of a task cut into parts (see PartPlan): its number from 1 and how many there
    // are; 0 of 0 for a task in one piece. The task's trim is the part's own; its first pass
    // reads from leadSeconds before it, on the same clock, and drops that at the output.
    int partNumber = 0;
    int partCount = 0;
    double leadSeconds = 0;
};

// Work a task does for one of the batch's options beyond its profile's passes: tool runs of
// its own before the first pass and after the last, changes to the passes' arguments, and a
// check of the finished file that may ask for the passes again. A task asks its add-ons in the
// order they were made; whatever one of them says is wrong fails the task, with its words.
class TaskAddOn
{
public:
    enum class Stage {
        BeforePasses, // after the source's sound was repacked, before pass 1
        AfterPasses,  // the finished file passed the read-back check
    };

    virtual ~TaskAddOn() = default;

    // Before anything runs: empty, or why the task cannot be converted (it fails at once).
    virtual QString Prepare(const TaskSetup &setup) = 0;
    // The tool runs of this stage, in order, each program first (a bare name is found in the
    // app folder, then on PATH). Asked once per stage, when the stage begins.
    virtual QList<QStringList> Steps(Stage stage) const;
    // Step `index` of the stage ended well; output is what it printed on standard output and
    // error (its last 256 KB). Empty, or why the task fails.
    virtual QString StepEnded(Stage stage, int index, const QByteArray &output);
    // Steps that only what step `index` printed can decide (a second measurement at gains
    // the first one chose), asked right after StepEnded; they run next, numbered on from
    // index + 1, before the stage's other steps. Printed commands show none of them.
    virtual QList<QStringList> StepsAfter(Stage stage, int index) const;
    // Lines for the log that the add-on has to say ("the sound is left as it is: it is
    // silent"), taken after Prepare and after each step; empty when none.
    virtual QString TakeNote();
    // Changes the expanded arguments of pass `pass` (1 to the type's last) before it runs;
    // for printed commands, before any step has run.
    virtual void EditPass(int pass, QStringList &arguments) const;
    // What the add-on will do for the task, in a few words for the Output cell's tip before
    // Start ("about 280 KB", "in 3 parts", "subtitles: Film.en.srt"); asked after Prepare.
    virtual QString Summary() const;
    // What the read-back check is to measure of the finished file for this add-on, before it
    // runs (expected.meterSound); what it measured comes to TakeCheckReadings, before the stage
    // AfterPasses.
    virtual void AskOfCheck(OutputExpectation &expected) const;
    virtual void TakeCheckReadings(const SoundLevels &levels);
    // After the stage AfterPasses: empty when the finished file at `path` is what this
    // add-on promised; otherwise the problem, with *again set when converting once more from
    // pass 1 (with what EditPass does changed) may mend it. A task does so at most
    // maxRetries times in all.
    virtual QString CheckOutput(const QString &path, bool *again);
    static constexpr int maxRetries = 2;
};

// The add-ons the batch's options ask for, in the order they act.
std::vector<std::unique_ptr<TaskAddOn>> AddOnsFor(const BatchOptions &options);
