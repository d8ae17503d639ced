// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/taskfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// File times come from a clock that may lag the one read here by a few milliseconds; a file
// a tool wrote just after its pass began must not look older than the pass.
constexpr qint64 clockSlackNs = 1000000000;

qint64 NowNs()
{
    return QDateTime::currentMSecsSinceEpoch() * 1000000 - clockSlackNs;
}

// When the file came into being, as well as the file system tells.
qint64 BornNs(const FileIdentity &id)
{
    return id.birthNs != 0 ? id.birthNs : id.changedNs;
}

bool Unlink(const QString &path)
{
#ifdef Q_OS_UNIX
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
#else
    return QFile::remove(path);
#endif
}

// Creates an empty file where no entry has the name; 0 or the errno.
int CreateExclusively(const QString &path)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
#else
    QFile file(path);
    if (file.exists())
        return EEXIST;
    return file.open(QIODevice::NewOnly) ? 0 : EACCES;
#endif
}

const char *FileKey(TaskFile file)
{
    switch (file) {
    case TaskFile::FirstTemporary:
        return "temp";
    case TaskFile::SecondTemporary:
        return "temp2";
    case TaskFile::Output:
        return "output";
    case TaskFile::SoundCopy:
        return "sound";
    case TaskFile::SourceCopy:
        return "source";
    case TaskFile::Scratch:
        return "scratch";
    }
    return "";
}

} // namespace

TaskFiles::TaskFiles(const QString &folder, const QString &baseName, const OutputType *type)
    : folder(folder), baseName(baseName), type(type)
{}

QString TaskFiles::Path(TaskFile file) const
{
    return type ? folder + type->FileName(file, baseName) : QString();
}

QString TaskFiles::PathOf(const Owned &o) const
{
    return o.name.isEmpty() ? Path(o.file) : folder + o.name;
}

QStringList TaskFiles::Paths() const
{
    QStringList paths;
    if (type)
        for (TaskFile file : type->Files())
            paths.append(Path(file));
    return paths;
}

int TaskFiles::Claim()
{
    if (!type)
        return EINVAL;
    const qint64 claimed = NowNs();
    for (TaskFile file : type->Files()) {
        const QString path = Path(file);
        if (const int error = CreateExclusively(path); error != 0) {
            // The base name is someone else's: so are any scratch files of that name.
            for (const Owned &o : std::as_const(owned))
                DeleteOwned(o);
            owned.clear();
            return error;
        }
        owned.append({file, FileIdentity::Of(path), QString()});
    }
    claimedNs = passStartNs = claimed;
    scratchBefore = ScratchIn(folder, baseName);
    return 0;
}

int TaskFiles::ClaimExtra(TaskFile file)
{
    const QString path = Path(file);
    if (const int error = CreateExclusively(path); error != 0)
        return error;
    owned.append({file, FileIdentity::Of(path), QString()});
    return 0;
}

QString TaskFiles::ClaimScratch(const QString &suffix, int *error)
{
    const QString name = baseName + suffix;
    const int failure =
        suffix.isEmpty() || suffix.contains(u'/') ? EINVAL : CreateExclusively(folder + name);
    if (error)
        *error = failure;
    if (failure != 0)
        return QString();
    owned.append({TaskFile::Scratch, FileIdentity::Of(folder + name), name});
    return folder + name;
}

void TaskFiles::BeginPass(int pass)
{
    runningPass = pass;
    passStartNs = NowNs();
}

void TaskFiles::EndPass()
{
    for (Owned &o : owned) {
        const FileIdentity now = FileIdentity::Of(PathOf(o));
        if (IsOwn(o, now))
            o.identity = now;
    }
    runningPass = -1;
}

bool TaskFiles::IsOwn(const Owned &o, const FileIdentity &now) const
{
    if (o.identity.SameFile(now))
        return true;
    // Only the task's own tools write under its names while it holds them; a file its
    // running pass put in place (a rename over the placeholder) is new since the pass began.
    const bool writable =
        o.file == TaskFile::Scratch || (type && type->WrittenBy(runningPass).contains(o.file));
    return runningPass >= 0 && writable && now.Exists() && BornNs(now) >= passStartNs;
}

bool TaskFiles::DeleteOwned(const Owned &o)
{
    const QString path = PathOf(o);
    const FileIdentity now = FileIdentity::Of(path);
    if (!now.Exists() || !IsOwn(o, now))
        return true; // nothing of ours is there any more
    return Unlink(path);
}

void TaskFiles::Delete(TaskFile file)
{
    for (qsizetype i = 0; i < owned.size(); ++i) {
        if (owned.at(i).file != file)
            continue;
        if (DeleteOwned(owned.at(i)))
            owned.removeAt(i);
        return;
    }
}

QStringList TaskFiles::DeleteAll()
{
    QStringList left;
    QList<Owned> kept;
    for (const Owned &o : std::as_const(owned)) {
        if (DeleteOwned(o))
            continue;
        left.append(PathOf(o));
        kept.append(o);
    }
    owned = kept;
    for (const QString &name : ScratchIn(folder, baseName)) {
        const QString path = folder + name;
        if (scratchBefore.contains(name) || BornNs(FileIdentity::Of(path)) < claimedNs)
            continue;
        if (!Unlink(path))
            left.append(path);
    }
    return left;
}

void TaskFiles::Release(TaskFile file)
{
    owned.erase(std::remove_if(owned.begin(), owned.end(),
                               [file](const Owned &o) { return o.file == file; }),
                owned.end());
}

QJsonObject TaskFiles::ToJson() const
{
    QJsonArray files;
    const QList<TaskFile> writing =
        runningPass >= 0 && type ? type->WrittenBy(runningPass) : QList<TaskFile>();
    for (const Owned &o : owned)
        files.append(QJsonObject{
            {QStringLiteral("kind"), QLatin1String(FileKey(o.file))},
            {QStringLiteral("path"), PathOf(o)},
            {QStringLiteral("id"), o.identity.ToJson()},
            {QStringLiteral("writing"),
             writing.contains(o.file) || (runningPass >= 0 && o.file == TaskFile::Scratch)}});
    return QJsonObject{
        {QStringLiteral("files"), files},
        {QStringLiteral("folder"), folder},
        {QStringLiteral("base"), baseName},
        {QStringLiteral("since"), QString::number(claimedNs)},
        {QStringLiteral("scratchBefore"), QJsonArray::fromStringList(scratchBefore)}};
}

QStringList TaskFiles::RecoverFromJson(const QJsonObject &object, qint64 lastAliveNs)
{
    QStringList removed;
    for (const QJsonValue &value : object.value(QStringLiteral("files")).toArray()) {
        const QJsonObject entry = value.toObject();
        const QString path = entry.value(QStringLiteral("path")).toString();
        const FileIdentity was =
            FileIdentity::FromJson(entry.value(QStringLiteral("id")).toObject());
        const FileIdentity now = FileIdentity::Of(path);
        const bool writing = entry.value(QStringLiteral("writing")).toBool();
        const bool ours =
            writing ? now.SameFile(was) && now.modifiedNs <= lastAliveNs : now.Untouched(was);
        if (ours && Unlink(path))
            removed.append(path);
    }
    const QString folder = object.value(QStringLiteral("folder")).toString();
    const QString base = object.value(QStringLiteral("base")).toString();
    const qint64 since = object.value(QStringLiteral("since")).toString().toLongLong();
    QStringList before;
    for (const QJsonValue &v : object.value(QStringLiteral("scratchBefore")).toArray())
        before.append(v.toString());
    if (folder.isEmpty() || base.isEmpty())
        return removed;
    for (const QString &name : ScratchIn(folder, base)) {
        const QString path = folder + name;
        const FileIdentity id = FileIdentity::Of(path);
        if (!before.contains(name) && BornNs(id) >= since && id.modifiedNs <= lastAliveNs &&
            Unlink(path))
            removed.append(path);
    }
    return removed;
}

QStringList TaskFiles::ScratchIn(const QString &folder, const QString &baseName)
{
    if (folder.isEmpty() || baseName.isEmpty())
        return {};
    const QString base = QRegularExpression::escape(baseName);
    // Only these exact shapes: "clip" is a prefix of another task's "clip (2)", whose files
    // must never be taken for this task's scratch.
    const QRegularExpression scratch(QStringLiteral("^(?:%1(?:_temp|_temp_2)?-temp-\\d+\\.3g[p2]"
                                                    "|\\.%1(?:_temp|_temp_2)?\\.3g[p2]\\.\\w{6})$")
                                         .arg(base));
    // No name filter: a base name may hold the wildcard characters '*', '?' and '['.
    const QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    QStringList names;
    for (const QString &name : entries)
        if (scratch.match(name).hasMatch())
            names.append(name);
    return names;
}
