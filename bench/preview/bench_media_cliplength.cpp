// SPDX-License-Identifier: GPL-3.0-or-later
// Clip length of every sample video: measured afresh (open and probe) versus answered from the
// cache. Prints microseconds per call.

#include "mediaerror.h"
#include "mediaprobe.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QDir media(KESTRANI_MEDIA_DIR);
    QStringList files;
    for (const QFileInfo &info : media.entryInfoList(QDir::Files, QDir::Name)) {
        if (info.suffix() != "md")
            files << info.filePath();
    }
    constexpr int rounds = 20;
    std::printf("%-34s %14s %12s\n", "file", "uncached us", "cached us");
    double totalUncached = 0.0, totalCached = 0.0;
    for (const QString &file : files) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < rounds; ++i) {
            try {
                MediaProbe::MeasureClipLength(file);
            } catch (const MediaError &) {
            }
        }
        const double uncached = timer.nsecsElapsed() / 1e3 / rounds;
        try {
            MediaProbe::ClipLength(file); // fills the cache
        } catch (const MediaError &) {
            std::printf("%-34s %14.0f %12s\n", qPrintable(QFileInfo(file).fileName()), uncached,
                        "(error)");
            continue;
        }
        timer.restart();
        for (int i = 0; i < rounds * 50; ++i)
            MediaProbe::ClipLength(file);
        const double cached = timer.nsecsElapsed() / 1e3 / (rounds * 50);
        totalUncached += uncached;
        totalCached += cached;
        std::printf("%-34s %14.0f %12.1f\n", qPrintable(QFileInfo(file).fileName()), uncached,
                    cached);
    }
    std::printf("%-34s %14.0f %12.1f\n", "sum over readable files", totalUncached, totalCached);
    return 0;
}
