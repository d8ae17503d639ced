// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

struct ConversionTask;

// The three figures an encoder's status text gives, each present only when the chunk held it
// in a readable form. A key counts where it starts a field (at the chunk's start or after a
// blank or line end); only its first such occurrence in a chunk counts, so the figures may
// come from different lines of the same chunk.
struct ProgressFields {
    std::optional<double> frames;         // "frame=": frames encoded so far
    std::optional<qint32> sizeKB;         // "size=": output kilobytes ("kB" or "KiB")
    std::optional<double> encodedSeconds; // "time=": seconds, or a [-]HH:MM:SS.ff clock

    // Reads one chunk of console output; previous is the last byte of the chunk before it. A
    // NUL byte ends the chunk. A key too close to the chunk's end, or followed by no number
    // ("N/A"), gives no figure.
    static ProgressFields Read(QByteArrayView chunk, char previous = '\n');

    // Takes the figures read into the running task: the rate is the frames over the
    // milliseconds since the task started (a chunk in its first millisecond keeps the last
    // rate), size and time as read; a figure the chunk lacks keeps its last value.
    void TakeInto(ConversionTask &task, quint32 elapsedMs) const;
};
