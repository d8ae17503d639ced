// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Clip lengths for the preview and the command line. Thread-safe.
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

    static void ClearCache();
};
