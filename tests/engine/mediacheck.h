// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reads media files back with the independent readers (ffprobe, mediainfo) for the tests of
// the profiles and of the AMR tool. Header-only test support.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

namespace mediacheck {

inline QByteArray Run(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

// ffprobe's view of a file: format and streams as JSON; empty when unreadable.
inline QJsonObject Probe(const QString &path)
{
    return QJsonDocument::fromJson(Run("ffprobe", {"-v", "error", "-show_format", "-show_streams",
                                                   "-of", "json", "file:" + path}))
        .object();
}

inline QJsonObject StreamOf(const QJsonObject &probe, const QString &type)
{
    for (const QJsonValue &s : probe["streams"].toArray())
        if (s["codec_type"].toString() == type)
            return s.toObject();
    return {};
}

inline int StreamCount(const QJsonObject &probe, const QString &type)
{
    int n = 0;
    for (const QJsonValue &s : probe["streams"].toArray())
        n += s["codec_type"].toString() == type;
    return n;
}

inline double Duration(const QJsonObject &probe)
{
    return probe["format"]["duration"].toString().toDouble();
}

inline QString Brand(const QJsonObject &probe)
{
    return probe["format"]["tags"]["major_brand"].toString();
}

// One field of mediainfo's General section, e.g. "Movie name" or "Codec ID".
inline QString MediaInfoGeneral(const QString &path, const QString &field)
{
    QString value = QString::fromUtf8(Run("mediainfo", {"--Inform=General;%" + field + "%", path}));
    while (value.endsWith(u'\n') || value.endsWith(u'\r'))
        value.chop(1); // only the line end: blanks belong to the value
    return value;
}

// Generates a clip with ffmpeg's test sources; extra arguments go before the output.
inline bool MakeClip(const QString &path, const QStringList &inputs, const QStringList &extra)
{
    int code = -1;
    Run("ffmpeg", QStringList{"-v", "error", "-y"} + inputs + extra + QStringList{path}, &code);
    return code == 0;
}

} // namespace mediacheck
