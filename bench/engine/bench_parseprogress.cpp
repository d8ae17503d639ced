// SPDX-License-Identifier: GPL-3.0-or-later
// Status-text throughput: 255-byte chunks of ffmpeg-like status output read and taken into a
// task, with the Progress cell's text made, per second.
#include "conversiontask.h"
#include "progress/progressfields.h"
#include "progress/progresstext.h"

#include <QElapsedTimer>

#include <cstdio>

int main()
{
    QByteArray stream;
    for (int frame = 1; stream.size() < 1 << 20; frame += 7) {
        const double t = frame / 25.0;
        stream += QString::asprintf("frame=%5d fps= 25 q=2.0 size=%8dkB time=%02d:%02d:%05.2f "
                                    "bitrate=2016.5kbits/s speed=1.01x    \r",
                                    frame, frame * 5, int(t) / 3600, int(t) / 60 % 60,
                                    t - int(t) / 60 * 60)
                      .toLatin1();
    }
    ConversionTask task = ConversionTask::ForSource("/v/clip.avi", 1e9);
    task.state = TASK_ENCODING;
    qint64 chunks = 0, characters = 0;
    char previous = '\n';
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000) {
        for (qsizetype at = 0; at + 255 <= stream.size(); at += 255, ++chunks) {
            const QByteArrayView chunk = QByteArrayView(stream).sliced(at, 255);
            const ProgressFields fields = ProgressFields::Read(chunk, previous);
            previous = chunk.back();
            fields.TakeInto(task, 10000); // as 10 s into the task
            characters += ProgressText(task).size();
        }
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("status chunks: %.0f chunks/s (%.2f us per 255-byte chunk, cell text included), "
                "last time %.2f s, %lld characters shown\n",
                chunks / seconds, 1e6 * seconds / chunks, task.encodedSeconds, characters);
    return 0;
}
