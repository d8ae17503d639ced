// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sound/loudnessplan.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Decides, before pass 1, what the loudness option does to one task's sound. It measures the
// trimmed part's sound in the form the profile writes it (rate, channels) with ffmpeg's
// ebur128 and astats filters, over the sound only, and prints to standard error only: no file
// is written, so runs side by side share nothing. Then:
//  - sound that cannot be read, is shorter than a 400 ms measuring block, silent, near silence
//    (under -50 LUFS) or mostly a DC offset is left as it is, with a NOTE;
//  - otherwise one gain brings it to the target (raised by at most 24 dB, with a NOTE when that
//    is not enough), made up for what the encoder takes away;
//  - a loudness range wider than 15 LU (over 10 s or more) is narrowed first: the loudest
//    passages are compressed 3:1, which brings it to about 60 % (a run measures the result);
//  - where peaks would pass the encoder's ceiling a true-peak limiter holds them, and where it
//    would take more than a little loudness away a further run measures the whole chain at
//    three gains at once, so the gain that reaches the target is known, not guessed; where no
//    gain reaches it, the loudest measured is taken, with a NOTE.
// The caller runs what NextRun() gives, in turn, and hands back what each printed.
class LoudnessPlanner
{
public:
    // The part of the source pass 1 reads: the same arguments its template gets.
    struct Part {
        QString source;   // the file's path (given to ffmpeg as "file:" + path)
        QString audioMap; // "0:a:N": the sound the batch picked
        QString start;    // seconds, as for "-ss" ("12.345")
        QString length;   // seconds, as for "-t"
    };

    LoudnessPlanner(double target, const SoundFormat &format, const Part &part);

    // The arguments of the next measuring run, program ("ffmpeg") first; empty when the plan
    // is made. Each run takes about as long as decoding the part's sound.
    QStringList NextRun() const;
    // What that run printed (standard output and error, in any order) and whether it ended
    // with exit status 0. A run that failed or printed nothing readable leaves the sound as it
    // is (when it was the first) or keeps the gain measured so far; it never fails the task.
    void TakeRun(const QByteArray &output, bool ok);

    bool Done() const { return stage == Stage::Done; }
    const LoudnessPlan &Plan() const { return plan; }

private:
    enum class Stage { Measure, Shape, Branches, Done };

    void Decide(const QByteArray &output, bool ok);
    void Shaped(const QByteArray &output, bool ok);
    void Level(const LoudnessReading &read);
    void Choose(const QByteArray &output, bool ok);
    void Leave(const QString &why);
    QStringList Input() const;

    Part part;
    Stage stage = Stage::Measure;
    LoudnessPlan plan;
    double sourceLoudness = 0.0; // LUFS of the part as the first run read it
    double goal = 0.0;           // LUFS the sound should read before its encoder
    QList<double> branchGains;   // the gains the second run measures
};
