// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/outputnameplanner.h"

#include "conversiontask.h"
#include "files/taskfiles.h"
#include "profiles/outputtypes.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// Enough numbers for any folder; past them something else is wrong.
constexpr int maxNumber = 100000;

// A base name shaped like a tool's scratch copy of another task's file ("clip-temp-123")
// would be taken for that task's leftovers.
bool LooksLikeScratch(const QString &name)
{
    static const QRegularExpression shape(QStringLiteral("-temp-\\d+$"));
    return shape.match(name).hasMatch();
}

} // namespace

OutputNamePlanner::OutputNamePlanner(const QString &folder, const OutputType *type)
    : folder(folder), type(type), maxBytes(MaxBaseBytes(folder))
{}

QString OutputNamePlanner::BaseName(const ConversionTask &task)
{
    const QString fromSource = ConversionTask::OutputNameFromPath(task.sourcePath);
    QString name = task.outputName;
    if (!fromSource.isEmpty() && name.startsWith(fromSource)) {
        static const QRegularExpression suffix(QStringLiteral("^ \\([2-9]\\d*\\)$|^ \\(1\\d+\\)$"));
        if (suffix.match(QStringView(name).mid(fromSource.size())).hasMatch())
            name = fromSource;
    }
    if (name.isEmpty())
        name = QFileInfo(task.sourcePath).fileName();
    if (name.isEmpty())
        name = QStringLiteral("video");
    return name;
}

QString OutputNamePlanner::Numbered(const QString &base, int n, int maxBytes)
{
    const QString suffix = n > 1 ? QStringLiteral(" (%1)").arg(n) : QString();
    const qsizetype room = maxBytes - suffix.toUtf8().size();
    if (base.toUtf8().size() <= room)
        return base + suffix;
    // Cut whole characters only: a surrogate pair or a combining mark stays with its base.
    QString cut;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < base.size();) {
        qsizetype next = i + 1;
        if (base.at(i).isHighSurrogate() && next < base.size() && base.at(next).isLowSurrogate())
            ++next;
        while (next < base.size() && base.at(next).category() == QChar::Mark_NonSpacing)
            ++next;
        const qsizetype size = base.mid(i, next - i).toUtf8().size();
        if (bytes + size > room)
            break;
        cut += base.mid(i, next - i);
        bytes += size;
        i = next;
    }
    return cut + suffix;
}

int OutputNamePlanner::MaxBaseBytes(const QString &folder)
{
    long limit = 255;
#ifdef Q_OS_UNIX
    if (const long l = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX); l > 0)
        limit = l;
#else
    Q_UNUSED(folder);
#endif
    // The longest file of a task is "<base>_temp_2.3g2"; its tools' scratch copies are longer.
    return int(qMax(16L, limit - long(OutputType::scratchSuffixBytes)));
}

QString OutputNamePlanner::Candidate(const QString &base, int n) const
{
    if (n == 1 && LooksLikeScratch(base))
        return QString();
    return Numbered(base, n, maxBytes);
}

bool OutputNamePlanner::ReservedForOther(int row, const QString &name) const
{
    for (TaskFile file : type->Files()) {
        const auto it = reserved.constFind(type->FileName(file, name).toCaseFolded());
        if (it != reserved.constEnd() && it.value() != row)
            return true;
    }
    return false;
}

bool OutputNamePlanner::FreeOnDisk(const QString &name) const
{
    for (TaskFile file : type->Files()) {
        // A dangling symbolic link counts as taken: a tool writing there would create its target.
        const QFileInfo info(folder + type->FileName(file, name));
        if (info.exists() || info.isSymLink())
            return false;
    }
    return true;
}

void OutputNamePlanner::Reserve(int row, const QString &name)
{
    for (auto it = reserved.begin(); it != reserved.end();)
        it = it.value() == row ? reserved.erase(it) : std::next(it);
    for (TaskFile file : type->Files())
        reserved.insert(type->FileName(file, name).toCaseFolded(), row);
}

QString OutputNamePlanner::Plan(int row, const ConversionTask &task)
{
    const QString base = BaseName(task);
    for (int n = 1; n <= maxNumber; ++n) {
        const QString name = Candidate(base, n);
        if (name.isEmpty() || ReservedForOther(row, name) || !FreeOnDisk(name))
            continue;
        Reserve(row, name);
        return name;
    }
    return Numbered(base, 1, maxBytes);
}

int OutputNamePlanner::Claim(int row, const ConversionTask &task, TaskFiles &files)
{
    const QString base = BaseName(task);
    for (int n = 1; n <= maxNumber; ++n) {
        const QString name = Candidate(base, n);
        if (name.isEmpty() || ReservedForOther(row, name))
            continue;
        TaskFiles candidate(folder, name, type);
        const int error = candidate.Claim();
        if (error == EEXIST)
            continue;
        if (error != 0)
            return error;
        Reserve(row, name);
        files = candidate;
        return 0;
    }
    return EEXIST;
}
