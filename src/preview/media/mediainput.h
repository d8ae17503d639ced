// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

struct AVFormatContext;

// An opened and probed media file: the demuxer context with its stream information read.
// Rejects what is no audio-visual media (directories, empty files, text, subtitles only).
class MediaInput
{
public:
    explicit MediaInput(const QString &path); // throws MediaError
    ~MediaInput();
    MediaInput(const MediaInput &) = delete;
    MediaInput &operator=(const MediaInput &) = delete;

    AVFormatContext *Format() const { return fmt; }
    const QString &Path() const { return path; }

private:
    void Open();
    void CheckStreams() const;

    QString path;
    AVFormatContext *fmt = nullptr;
};
