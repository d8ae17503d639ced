// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

#include "subtitles/subtitlestream.h"

// The subtitles a task burns in, and where they come from.
struct SubtitleChoice {
    enum Kind { None, File, TextStream, BitmapStream, Unsupported };
    Kind kind = None;
    QString file;          // File: the subtitle file
    SubtitleStream stream; // TextStream, BitmapStream, Unsupported: the stream inside
    // Why the subtitles asked for cannot be had, to follow the source's or the file's name;
    // empty when they can (or when none were found and none were asked for).
    QString problem;

    // What the task will use, for a tip: "Film.en.srt", "subtitle stream 1 of the video
    // (SubRip, eng)", "none found". Streams are counted from 0, as --subtitle-stream counts.
    QString Description() const;
    bool Burns() const { return kind == File || kind == TextStream || kind == BitmapStream; }
};

// Which subtitles a source has: a file beside it with the same base name (Film.srt,
// Film.en.srt, Film.ass, Film.ssa, Film.vtt), else the first text stream inside, else the
// first picture stream inside.
class SubtitleSource
{
public:
    // Subtitle files beside `sourcePath`, the best first: the exact base name ("Film.srt"
    // before "film.srt"), then the user's language ("Film.en.srt", "Film.eng.srt",
    // "Film.English.srt"), then the rest; .srt, .ass, .ssa, .vtt in that order within each.
    static QStringList FilesBeside(const QString &sourcePath,
                                   const QLocale &locale = QLocale::system());
    // What a task with this source burns in when nothing particular was asked for.
    static SubtitleChoice Choose(const QString &sourcePath, const QList<SubtitleStream> &streams,
                                 const QLocale &locale = QLocale::system());
    // The file the user named.
    static SubtitleChoice ForFile(const QString &file);
    // Subtitle stream `index` of the source (N of "0:s:N"), as --subtitle-stream names it.
    static SubtitleChoice ForStream(const QList<SubtitleStream> &streams, int index);

    // ffmpeg's arguments that copy text stream `stream` (N of "0:s:N") of `source` into an
    // ASS file, in UTF-8 and with times from the source's start, as the first pass counts
    // them. It stops at the first cue from `until` seconds on (a negative `until`: the end),
    // so a trim near a long film's start does not read the whole film.
    static QStringList ExtractArguments(const QString &source, int stream,
                                        const QString &scriptPath, double until = -1);
};
