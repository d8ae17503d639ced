// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// What the user asked of a batch beyond its output type, profile and folder: a size every
// output must keep to (and long videos in parts), even loudness, subtitles drawn into the
// picture. The window and the command line fill it in; every task of the batch reads it.
struct BatchOptions {
    // The largest file an output may be, every byte on disk counted; 0: no limit.
    qint64 maxFileBytes = 0;
    // A task too long for the limit is cut into parts instead of failing.
    bool splitIntoParts = false;
    // Parts of at most this long (also without a limit); 0: as long as the limit allows.
    double partSeconds = 0.0;

    // The integrated loudness every output's sound is brought to, in LUFS; none: the sound is
    // left as it is.
    std::optional<double> loudnessTarget;
    static constexpr double defaultLoudness = -16.0;
    static constexpr double quietestLoudness = -30.0;
    static constexpr double loudestLoudness = -10.0;

    // Subtitles drawn into the picture: a file beside the source, else a text stream inside it.
    bool burnSubtitles = false;
    QString subtitleFile;    // the file to use instead (for a batch of one source)
    int subtitleStream = -1; // N of the source's subtitle streams to use; -1: the first

    bool operator==(const BatchOptions &) const = default;

    // A size as a user writes it: "300K", "600 KB", "1M", "1.5 MB", "1048576" (bytes); K is
    // 1024 bytes and M 1024 K. Nothing, with *problem saying why, for an empty, unreadable,
    // zero or negative size, or one too small to hold any video (under minimumFileBytes).
    static std::optional<qint64> ParseSize(const QString &text, QString *problem = nullptr);
    // One second of the smallest shipped profile (Smallest files, AMR) takes 4.6 KB; a limit
    // below holds no second of any (tests/engine/tst_fit.cpp keeps the two together).
    static constexpr qint64 minimumFileBytes = 5 * 1024;
    // "300 KB", "1 MB", "1.5 MB", "1000 bytes": how the window shows a limit.
    static QString SizeText(qint64 bytes);
};
