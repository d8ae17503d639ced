// SPDX-License-Identifier: GPL-3.0-or-later
#include "taskfiles.h"

#include "conversionengine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

TaskFiles::TaskFiles(const QString &folder, const QString &baseName)
    : folder(folder), baseName(baseName)
{}

QString TaskFiles::FirstTemporary() const
{
    return folder + baseName + QStringLiteral("_temp.3gp");
}

QString TaskFiles::SecondTemporary() const
{
    return folder + baseName + QStringLiteral("_temp_2.3g2");
}

QString TaskFiles::Output(int outputType) const
{
    const OutputTypeInfo *type = ConversionEngine::OutputType(outputType);
    return type ? folder + baseName + QString::fromLatin1(type->extension) : QString();
}

QStringList TaskFiles::Paths(int outputType) const
{
    QStringList paths;
    for (const QString &name : NamesFor(baseName, outputType))
        paths.append(folder + name);
    return paths;
}

QStringList TaskFiles::NamesFor(const QString &baseName, int outputType)
{
    const OutputTypeInfo *type = ConversionEngine::OutputType(outputType);
    if (!type)
        return {};
    QStringList names{baseName + QStringLiteral("_temp.3gp")};
    if (type->passCount > 3)
        names.append(baseName + QStringLiteral("_temp_2.3g2"));
    names.append(baseName + QString::fromLatin1(type->extension));
    return names;
}

void TaskFiles::RememberScratch()
{
    scratchBefore = ScratchNow();
}

void TaskFiles::RemoveNewScratch() const
{
    for (const QString &name : NewScratch())
        Remove(folder + name);
}

QStringList TaskFiles::NewScratch() const
{
    QStringList names;
    for (const QString &name : ScratchNow())
        if (!scratchBefore.contains(name))
            names.append(name);
    return names;
}

bool TaskFiles::Remove(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    return QFile::remove(path);
}

QStringList TaskFiles::ScratchNow() const
{
    if (folder.isEmpty() || baseName.isEmpty())
        return {};
    const QString base = QRegularExpression::escape(baseName);
    // Only these exact shapes: the base name is unique in the batch, yet "clip" is a prefix of
    // another task's "clip (2)", whose files must never be taken for this task's scratch.
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
