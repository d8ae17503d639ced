// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Conversion stage of a task. The Progress column shows one text per state.
enum TaskState : int {
    TASK_IDLE = 0,      // never run
    TASK_ENCODING = 1,  // pass 1 is running
    TASK_EXPORTING = 2, // passes 2 and 3
    TASK_CHANGING = 3,  // passes 4 and 5 (3G2 only)
    TASK_CANCELED = 9,  // the batch was stopped during this task
    TASK_FAILED = 10,   // a pass failed, or the task had nothing usable to run
};

// One entry of the batch. A value: every change is a read-modify-write of a whole copy.
struct ConversionTask {
    QString sourcePath;           // full path of the source video
    QString outputName;           // output base name, no folder, no extension
    double beginSeconds = 0.0;    // trim start in seconds of the source
    double endSeconds = 0.0;      // trim end in seconds of the source
    QString title;                // $TITLE
    QString note;                 // why it failed, in plain words, while its state is Failed
    qint32 reserved1 = 0;         // reserved
    qint32 reserved2 = 0;         // reserved
    qint32 finished = 0;          // 1 once the batch driver completed the task
    qint32 sizeKB = 0;            // output size so far, from the encoder's status lines
    double framesPerSecond = 0.0; // encoding speed
    double encodedSeconds = 0.0;  // media time encoded so far
    qint32 state = TASK_IDLE;     // TaskState

    // The base name cut out of a path: the text between the last separator and the last
    // dot. Empty when there is no dot in the file name itself.
    static QString OutputNameFromPath(const QString &path);

    // A new task for a picked file, as the add-file command builds it.
    static ConversionTask ForSource(const QString &path, double clipLengthSeconds);
};
