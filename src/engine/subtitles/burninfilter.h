// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The first pass's filters that burn subtitles in, written into the profile's own -vf chain.
// FFmpeg reads a filter graph twice: the graph level splits filters at ',' and ';' and takes
// '[' ']' for labels, then each filter's options split at ':' and '='. Both levels take
// '\' and '...' quotes. A value goes through both in quotes, so no file name, however
// written, changes the graph.
class BurnInFilter
{
public:
    // A value for one filter option, as the option level reads it back unchanged.
    static QString OptionValue(const QString &value);
    // A filter's whole option text, as the graph level hands it on unchanged.
    static QString GraphArgument(const QString &options);

    // The filter that draws an ASS script over the picture.
    static QString Script(const QString &scriptPath);
    // `chain` with its pad filter's top edge raised so that at least `bottomSpace` pixels are
    // left below the picture where the frame has bars to spare; unchanged without a pad.
    static QString WithRoomBelow(const QString &chain, int bottomSpace);
    // The profile's chain that also draws `scriptPath`, with room for its lines below the
    // picture where the picture leaves bars.
    static QString TextChain(const QString &chain, const QString &scriptPath, int bottomSpace);
    // A graph for -filter_complex that lays subtitle stream `stream` of the first input
    // (pictures: DVD, Blu-ray) over its first video stream, scaled to it, before the
    // profile's chain; its output is labelled `output`.
    static QString BitmapGraph(const QString &chain, int stream, const QString &output);

    // The first pass's arguments changed to burn in the script at `scriptPath`: false when
    // they have no -vf to add to.
    static bool BurnText(QStringList &arguments, const QString &scriptPath, int bottomSpace);
    // The first pass's arguments changed to lay subtitle stream `stream` over the picture:
    // -vf becomes -filter_complex and the picture's -map takes the graph's output.
    static bool BurnBitmap(QStringList &arguments, int stream);
};
