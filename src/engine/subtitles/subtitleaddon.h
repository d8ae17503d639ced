// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "run/taskaddon.h"
#include "subtitles/burninstyle.h"
#include "subtitles/subtitlesource.h"
#include "subtitles/subtitletrack.h"

struct Profile;

// A task's subtitles burned into its picture. A file beside the source (or the one asked for)
// is read as the task starts; a text stream inside the source is copied out by ffmpeg first.
// Either way the cues of the part converted are written into a script of the task's own,
// which pass 1 draws last in its -vf chain, the picture raised into its bars to make room.
// Picture subtitles (DVD, Blu-ray) are laid over the video instead. A task with no subtitles
// converts without them and says so in the log; subtitles asked for by name that cannot be
// had fail it.
class SubtitleAddOn : public TaskAddOn
{
public:
    // Scratch files "<base>_subtitles.ass" (the script) and "<base>_subtitles_in.ass" (a
    // stream copied out), or "-2", "-3" ... before ".ass" where a file has the name.
    static constexpr const char *scriptStem = "_subtitles";
    static constexpr const char *extractedStem = "_subtitles_in";

    QString Prepare(const TaskSetup &setup) override;
    QList<QStringList> Steps(Stage stage) const override;
    QString StepEnded(Stage stage, int index, const QByteArray &output) override;
    QString TakeNote() override;
    void EditPass(int pass, QStringList &arguments) const override;
    QString Summary() const override;

    // The size of the profile's pictures (from its Check entry, else its pad filter) and the
    // shape of their pixels (its setsar): false when the profile says neither size.
    static bool OutputFrame(const Profile &profile, QSize *frame, double *pixelAspect);

private:
    enum class Burn { Nothing, Text, Pictures };

    QString WriteScript(const SubtitleTrack &track);
    void LeaveOut(const QString &why);

    SubtitleChoice choice;
    BurnInStyle style;
    Burn burn = Burn::Nothing;
    double begin = 0, length = 0;
    QString source;        // the file a stream is copied out of
    QString extractedPath; // where ffmpeg copies it to
    QString scriptPath;
    QString summaryNote; // after the description in the summary: why nothing is drawn
    QString note;        // for the log, taken once
    std::function<QString(const QString &, const QByteArray &, int *)> writeScratch;
};
