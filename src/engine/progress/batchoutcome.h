// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

// How the tasks of a batch ended, counted apart: finished, failed, stopped by Stop, and not
// started because a Stop came first.
struct BatchOutcome {
    int tasks = 0;
    int finished = 0;
    int failed = 0;
    int stopped = 0;
    QList<int> failedRows; // in list order

    int NotStarted() const { return tasks - finished - failed - stopped; }
    bool AllFinished() const { return finished == tasks; }

    // The closing message: "Converting Finished" as the program always said it when every
    // task finished; otherwise what happened, the largest trouble first: "1 of 3 videos
    // failed, 2 stopped", "2 of 4 videos stopped, 2 not started". `whereFailed` (the place the
    // reasons can be read, or the failed files) follows the count after ": " when any failed.
    QString Text(const QString &whereFailed) const;
};
