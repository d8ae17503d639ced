// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files/taskfiles.h"
#include "fit/partplan.h"

#include <QList>

struct BatchContext;

// The parts of one task cut into parts, as the batch runs them side by side: what its row
// shows (the progress of all its parts together, the stage of the first unfinished one), and
// the parts already finished, whose files stay the task's until every part has finished. Then
// they become the user's; should any part fail or be stopped, every part goes, so that no
// part of a task stays looking like all of it.
class PartGroup
{
public:
    PartGroup(BatchContext &context, int row, const QList<Part> &parts);
    // Parts finished but not released (the batch ended before the others): deleted.
    ~PartGroup();
    PartGroup(const PartGroup &) = delete;
    PartGroup &operator=(const PartGroup &) = delete;

    int Row() const { return row; }
    int Count() const { return int(parts.size()); }
    // The name the parts' names are made from: the task's, without a number the batch added.
    QString BaseName() const { return baseName; }
    const Part &PartAt(int index) const { return parts.at(index); }

    // A running part's figures and stage, shown summed up in the row.
    void SetFigures(int number, double encodedSeconds, qint32 sizeKB, double framesPerSecond);
    void SetState(int number, int state);
    // A part finished: its files, journaled under `key`, are kept until the task's end.
    void Keep(int number, const TaskFiles &files, int key);
    // A part ended (finished or not) or will never run. True once every part has.
    bool PartEnded(int number, bool finished);
    // Whether a part failed or was stopped: the others then stop and none starts.
    bool Failed() const { return failed; }
    // Once every part has ended: the kept files released (all finished) or deleted. True when
    // the task finished.
    bool Resolve();

private:
    struct Figures {
        double encodedSeconds = 0;
        qint32 sizeKB = 0;
        double framesPerSecond = 0;
        int state = 0;
        bool ended = false;
        bool finished = false;
    };
    struct Kept {
        TaskFiles files;
        int key = 0;
    };
    void ShowInRow();

    BatchContext &context;
    int row;
    QString baseName;
    QList<Part> parts;
    QList<Figures> figures;
    QList<Kept> kept;
    bool failed = false;
    bool resolved = false;
};
