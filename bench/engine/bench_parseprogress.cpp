// SPDX-License-Identifier: GPL-3.0-or-later
// ParseProgress throughput: 255-byte chunks of ffmpeg-like status output per second.
#include "benchhost.h"
#include "conversionengine.h"
#include "tasklist.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QByteArray stream;
    for (int frame = 1; stream.size() < 1 << 20; frame += 7) {
        const double t = frame / 25.0;
        stream += QString::asprintf("frame=%5d fps= 25 q=2.0 size=%8dkB time=%02d:%02d:%05.2f "
                                    "bitrate=2016.5kbits/s speed=1.01x    \r",
                                    frame, frame * 5, int(t) / 3600, int(t) / 60 % 60,
                                    t - int(t) / 60 * 60)
                      .toLatin1();
    }
    BenchHost host;
    TaskList tasks;
    tasks.Append(ConversionTask::ForSource("/v/clip.avi", 1e9));
    ConversionEngine engine(host, tasks);
    engine.taskStartTick = ConversionEngine::TickCount() - 1000u;

    qint64 chunks = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000) {
        for (qsizetype at = 0; at + 255 <= stream.size(); at += 255, ++chunks)
            engine.ParseProgress(QByteArrayView(stream).sliced(at, 255));
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("ParseProgress: %.0f chunks/s (%.2f us per 255-byte chunk), last time %.2f s\n",
                chunks / seconds, 1e6 * seconds / chunks, tasks.GetAt(0).encodedSeconds);
    return 0;
}
