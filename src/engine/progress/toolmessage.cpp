// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/toolmessage.h"

#include "progress/progressfields.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace {

struct Known {
    const char *sign;  // as the tool writes it
    const char *words; // as the user is told
};

const Known knownLines[] = {
    {"No space left on device", "the disk is full"},
    {"Disk quota exceeded", "the disk quota is used up"},
    {"File too large", "the file grew past what the file system allows"},
    {"Read-only file system", "the output folder is on a read-only file system"},
    {"Permission denied", "permission to write the output folder is missing"},
    {"matches no streams", "the source has no stream of the kind the profile needs"},
    {"Invalid data found when processing input", "the source cannot be read as a video"},
    {"Error while opening encoder",
     "the encoder refused the profile's settings for this source's picture"},
    {"No such file or directory", "a file the conversion needs is not there any more"},
    {"Conversion failed", ""},
};

// The Debian packages of the tools the shipped profiles run.
struct Package {
    const char *tool;
    const char *package;
};

const Package packages[] = {
    {"ffmpeg", "ffmpeg"},
    {"ffprobe", "ffmpeg"},
    {"AtomicParsley", "atomicparsley"},
    {"gst-launch-1.0", "gstreamer1.0-tools"},
};

// Our own tools come with the program, in its app folder.
const char *const ownTools[] = {"kestrani-amrenc"};

// Lines that advise a reader of the tool's manual, or only repeat that it failed.
bool IsAdvice(const QString &line)
{
    return line.contains(QLatin1String("To ignore this")) ||
           line.contains(QLatin1String("add a trailing '?'")) ||
           line.startsWith(QLatin1String("Conversion failed")) ||
           line.startsWith(QLatin1String("frame=")) || line.startsWith(QLatin1String("size=")) ||
           line.contains(QLatin1String("Exiting normally"));
}

} // namespace

QString ToolMessage::WriteErrorLine(const QStringList &lines)
{
    QStringList signs{QStringLiteral("Error writing trailer"),
                      QStringLiteral("Error closing file")};
    for (int code : {ENOSPC, EFBIG, EROFS, EDQUOT})
        signs.append(QString::fromLocal8Bit(std::strerror(code)));
    for (const QString &line : lines)
        for (const QString &sign : std::as_const(signs))
            if (line.contains(sign))
                return line.trimmed();
    return QString();
}

QString ToolMessage::Reason(const RunResult &result, const QString &status)
{
    const QString tool = QFileInfo(result.program).fileName();
    QString why;
    for (qsizetype i = result.lastLines.size() - 1; i >= 0 && why.isEmpty(); --i) {
        const QString line = result.lastLines.at(i).trimmed();
        for (const Known &known : knownLines)
            if (line.contains(QLatin1String(known.sign)) && *known.words) {
                why = QString::fromLatin1(known.words);
                break;
            }
    }
    for (qsizetype i = result.lastLines.size() - 1; i >= 0 && why.isEmpty(); --i) {
        const QString line = result.lastLines.at(i).trimmed();
        if (!line.isEmpty() && !IsAdvice(line))
            why = line;
    }
    QString text = tool.isEmpty() ? status : QStringLiteral("%1: %2").arg(tool, status);
    if (!why.isEmpty() && !status.contains(why))
        text += QStringLiteral(" (%1)").arg(why);
    return text;
}

QString ToolMessage::NotFound(const QString &tool)
{
    const QString name = QFileInfo(tool).fileName();
    if (name.isEmpty())
        return QStringLiteral("the profile names no tool to run");
    if (name != tool) // named by its path
        return QStringLiteral("%1 was not found").arg(tool);
    for (const char *own : ownTools)
        if (name == QLatin1String(own))
            return QStringLiteral("%1 was not found in the program's app folder: install "
                                  "Kestrani again")
                .arg(name);
    for (const Package &known : packages)
        if (name == QLatin1String(known.tool))
            return QStringLiteral("%1 was not found: install the %2 package")
                .arg(name, QLatin1String(known.package));
    return QStringLiteral("%1 was not found: it is neither in the program's app folder nor in "
                          "a folder of PATH")
        .arg(name);
}

QString ToolMessage::Status(const RunResult &result)
{
    if (!result.started)
        return QStringLiteral("the tool did not start: %1").arg(result.errorText);
    if (result.diskFull)
        return QStringLiteral("the disk is full and the tool made no progress: it was ended");
    if (result.stalled)
        return QStringLiteral("the tool made no progress for too long and was ended");
    if (result.crashed)
        return QStringLiteral("the tool ended abnormally (crashed or killed)");
    return QStringLiteral("the tool ended with exit code %1").arg(result.exitCode);
}

bool ToolMessage::EncodedNoPicture(const QStringList &lastLines)
{
    for (qsizetype i = lastLines.size() - 1; i >= 0; --i) {
        const QByteArray line = lastLines.at(i).toUtf8();
        if (!line.contains("frame="))
            continue;
        const ProgressFields fields = ProgressFields::Read(line);
        return fields.frames && *fields.frames == 0.0;
    }
    return false;
}
