// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small helpers that several test programs need to look at folders, files and processes.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

// A new, empty folder in the test's temporary folder at each call: "out1", "out2" ...
inline QString NewNumberedFolder(const QTemporaryDir &dir, int &count,
                                 const QString &prefix = QStringLiteral("out"))
{
    const QString folder = dir.filePath(prefix + QString::number(++count));
    QDir().mkpath(folder);
    return folder;
}

// The files in a folder, sorted, hidden ones included.
inline QStringList FilesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// Processes whose parent is this test: the tools the engine started and has not reaped.
inline QList<int> ChildProcesses()
{
    QList<int> children;
    const QByteArray self = QByteArray::number(::getpid());
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        entry.toInt(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // "pid (name) state ppid ...": the name may hold blanks and parentheses.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1) == self)
            children.append(entry.toInt());
    }
    return children;
}

// Processes anywhere on the machine whose command line names this folder: our tools.
inline QStringList ProcessesUsing(const QString &folder)
{
    QStringList found;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const int pid = entry.toInt(&isPid);
        if (!isPid || pid == ::getpid())
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z "))
            continue; // ended, waiting to be reaped
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray cmdline = file.readAll();
        if (cmdline.contains(folder.toUtf8()))
            found.append(QString::fromUtf8(cmdline).replace(QChar(0), QLatin1Char(' ')));
    }
    return found;
}

// A clip of test pattern and tone made by ffmpeg: MPEG-4 video at 25 fps and AAC sound.
inline bool MakeToneClip(const QString &path, double seconds, const QString &size)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v",          "error",
                                            "-nostdin",    "-y",
                                            "-f",          "lavfi",
                                            "-i",          "testsrc2=size=" + size + ":rate=25",
                                            "-f",          "lavfi",
                                            "-i",          "sine=sample_rate=44100",
                                            "-t",          QString::number(seconds),
                                            "-c:v",        "mpeg4",
                                            "-q:v",        "4",
                                            "-c:a",        "aac",
                                            "file:" + path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

// Permission bits of a path, 0 when it cannot be read.
inline mode_t ModeOf(const QString &path)
{
    struct stat st {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Sets the process's umask for the life of the object.
class Umask
{
public:
    explicit Umask(mode_t mask) : saved(::umask(mask)) {}
    ~Umask() { ::umask(saved); }
    Umask(const Umask &) = delete;
    Umask &operator=(const Umask &) = delete;

private:
    mode_t saved;
};
