// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/taskfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>

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

// Creates a file where no entry has the name, empty or holding `contents`; 0 or the errno.
// A file that could not be written whole is removed again.
int CreateExclusively(const QString &path, const QByteArray &contents = {})
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return errno;
    int error = 0;
    for (qsizetype done = 0; done < contents.size() && error == 0;) {
        const ssize_t n = ::write(fd, contents.constData() + done, size_t(contents.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR)
            error = errno;
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        ::unlink(name.constData());
    return error;
#else
    QFile file(path);
    if (file.exists())
        return EEXIST;
    if (!file.open(QIODevice::NewOnly))
        return EACCES;
    if (file.write(contents) == contents.size())
        return 0;
    file.remove();
    return EIO;
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
            names.clear();
            return error;
        }
        owned.append({file, FileIdentity::Of(path), QString()});
        names.append(type->FileName(file, baseName));
    }
    claimedNs = passStartNs = claimed;
    scratchBefore = Scratch();
    return 0;
}

int TaskFiles::ClaimExtra(TaskFile file)
{
    const QString path = Path(file);
    if (const int error = CreateExclusively(path); error != 0)
        return error;
    owned.append({file, FileIdentity::Of(path), QString()});
    names.append(type->FileName(file, baseName));
    return 0;
}

QString TaskFiles::ClaimScratch(const QString &suffix, int *error, const QByteArray &contents)
{
    const QString name = baseName + suffix;
    const int failure = suffix.isEmpty() || suffix.contains(u'/')
                            ? EINVAL
                            : CreateExclusively(folder + name, contents);
    if (error)
        *error = failure;
    if (failure != 0)
        return QString();
    owned.append({TaskFile::Scratch, FileIdentity::Of(folder + name), name});
    names.append(name);
    return folder + name;
}

bool TaskFiles::BeginPass(int pass)
{
    Review(); // no pass runs: every file must be as the task left it
    runningPass = pass;
    passStartNs = NowNs();
    if (type)
        for (TaskFile file : type->WrittenBy(pass))
            if (!Owns(file) && !lost.contains(Path(file)))
                lost.append(Path(file)); // removed: someone else may have the name now
    return lost.isEmpty();
}

void TaskFiles::EndPass()
{
    Review();
    runningPass = -1;
}

void TaskFiles::Review()
{
    QList<Owned> still;
    for (Owned o : std::as_const(owned)) {
        const FileIdentity now = FileIdentity::Of(PathOf(o));
        if (!now.Exists())
            continue; // nothing there to keep or to delete
        if (IsOwn(o, now)) {
            o.identity = now;
            still.append(o);
        } else {
            lost.append(PathOf(o));
        }
    }
    owned = still;
}

bool TaskFiles::Owns(TaskFile file) const
{
    return std::any_of(owned.cbegin(), owned.cend(),
                       [file](const Owned &o) { return o.file == file; });
}

bool TaskFiles::WrittenByPass(const Owned &o, const FileIdentity &now) const
{
    // A scratch file of the task's own may be written by any of its tools.
    const bool writable =
        o.file == TaskFile::Scratch || (type && type->WrittenBy(runningPass).contains(o.file));
    if (runningPass < 0 || !writable || !now.Exists())
        return false;
    // A write sets the modification and the change time alike; "cp -p" and "touch" set the
    // modification time apart, and nothing sets the change time back.
    if (o.identity.SameFile(now))
        return now.modifiedNs == now.changedNs && now.changedNs >= o.identity.changedNs;
    // A tool that writes a file of its own and renames it over the placeholder.
    return BornNs(now) >= passStartNs;
}

bool TaskFiles::IsOwn(const Owned &o, const FileIdentity &now) const
{
    return now.Untouched(o.identity) || WrittenByPass(o, now);
}

bool TaskFiles::DeleteOwned(const Owned &o)
{
    const QString path = PathOf(o);
    const FileIdentity now = FileIdentity::Of(path);
    if (!now.Exists())
        return true;
    if (!IsOwn(o, now)) {
        lost.append(path); // someone else's now: it stays
        return true;
    }
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

void TaskFiles::DeleteScratch()
{
    QList<Owned> kept;
    for (const Owned &o : std::as_const(owned))
        if (o.file != TaskFile::Scratch || !DeleteOwned(o))
            kept.append(o);
    owned = kept;
}

QStringList TaskFiles::DeleteAll()
{
    if (runningPass >= 0)
        EndPass(); // what the pass's tools wrote before they ended is the task's
    QStringList left;
    QList<Owned> kept;
    for (const Owned &o : std::as_const(owned)) {
        if (DeleteOwned(o))
            continue;
        left.append(PathOf(o));
        kept.append(o);
    }
    owned = kept;
    for (const QString &name : Scratch()) {
        const QString path = folder + name;
        if (scratchBefore.contains(name) || BornNs(FileIdentity::Of(path)) < claimedNs)
            continue;
        if (!Unlink(path))
            left.append(path);
    }
    return left;
}

QStringList TaskFiles::TakeLost()
{
    QStringList taken;
    taken.swap(lost);
    return taken;
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
        {QStringLiteral("names"), QJsonArray::fromStringList(names)},
        {QStringLiteral("since"), QString::number(claimedNs)},
        {QStringLiteral("passStart"), QString::number(passStartNs)},
        {QStringLiteral("scratchBefore"), QJsonArray::fromStringList(scratchBefore)}};
}

TaskFiles::Recovered TaskFiles::RecoverFromJson(const QJsonObject &object, qint64 endedNs)
{
    Recovered recovered;
    const qint64 passStart = object.value(QStringLiteral("passStart")).toString().toLongLong();
    for (const QJsonValue &value : object.value(QStringLiteral("files")).toArray()) {
        const QJsonObject entry = value.toObject();
        const QString path = entry.value(QStringLiteral("path")).toString();
        const FileIdentity was =
            FileIdentity::FromJson(entry.value(QStringLiteral("id")).toObject());
        const FileIdentity now = FileIdentity::Of(path);
        if (!now.Exists())
            continue;
        bool ours = now.Untouched(was);
        // The last writes of the pass's tool, before it died with its program.
        if (!ours && entry.value(QStringLiteral("writing")).toBool() && now.changedNs <= endedNs)
            ours = now.SameFile(was)
                       ? now.modifiedNs == now.changedNs && now.changedNs >= was.changedNs
                       : passStart > 0 && BornNs(now) >= passStart;
        if (!ours)
            recovered.kept.append(path);
        else if (Unlink(path))
            recovered.removed.append(path);
    }
    const QString folder = object.value(QStringLiteral("folder")).toString();
    const qint64 since = object.value(QStringLiteral("since")).toString().toLongLong();
    QStringList before, names;
    for (const QJsonValue &v : object.value(QStringLiteral("scratchBefore")).toArray())
        before.append(v.toString());
    for (const QJsonValue &v : object.value(QStringLiteral("names")).toArray())
        names.append(v.toString());
    if (names.isEmpty()) // a journal of an older version: the names of the files it lists
        for (const QJsonValue &value : object.value(QStringLiteral("files")).toArray())
            names.append(
                QFileInfo(value.toObject().value(QStringLiteral("path")).toString()).fileName());
    for (const QString &name : ScratchIn(folder, names)) {
        const QString path = folder + name;
        const FileIdentity id = FileIdentity::Of(path);
        if (before.contains(name) || BornNs(id) < since)
            continue;
        if (id.changedNs > endedNs)
            recovered.kept.append(path);
        else if (Unlink(path))
            recovered.removed.append(path);
    }
    return recovered;
}

QStringList TaskFiles::ScratchIn(const QString &folder, const QStringList &fileNames)
{
    if (folder.isEmpty() || fileNames.isEmpty())
        return {};
    // Built from the whole names: "clip" is a prefix of another task's "clip (2)" and of a
    // task "clip_temp_2", whose files must never be taken for this task's scratch.
    QStringList shapes;
    for (const QString &name : fileNames) {
        const qsizetype dot = name.lastIndexOf(u'.');
        const QString stem = dot > 0 ? name.left(dot) : name;
        const QString extension = dot > 0 ? name.mid(dot) : QString();
        shapes << QRegularExpression::escape(stem) + QStringLiteral("-temp-\\d+") +
                      QRegularExpression::escape(extension)
               << QStringLiteral("\\.") + QRegularExpression::escape(name) +
                      QStringLiteral("\\.(?:[A-Za-z0-9]{6}|\\d+\\.partial)");
    }
    const QRegularExpression scratch(QStringLiteral("^(?:%1)$").arg(shapes.join(u'|')));
    // No name filter: a base name may hold the wildcard characters '*', '?' and '['.
    const QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    QStringList names;
    for (const QString &name : entries)
        if (scratch.match(name).hasMatch())
            names.append(name);
    return names;
}
