// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Clip lengths, and whether a file holds a picture at all, for the preview and the command
// line. Thread-safe.
class MediaProbe
{
public:
    // The container's duration in seconds: the format's duration where the container states one,
    // otherwise the longest stream, otherwise an estimate from the bit rate (raw elementary
    // streams). Answered from a cache while the file keeps its path, size and modification time.
    // Throws MediaError when the file cannot be opened or read as media; never returns a
    // negative or non-finite value.
    static double ClipLength(const QString &path);

    // The same measurement without the cache (benchmarks, and callers that distrust mtimes).
    static double MeasureClipLength(const QString &path);

    // Whether the file holds a video stream: a picture that moves, not a music file's cover or
    // a text read as ANSI art. Cached with the length; throws MediaError as ClipLength does.
    static bool HoldsVideo(const QString &path);

    static void ClearCache();
};
