// SPDX-License-Identifier: GPL-3.0-or-later
#include "profiles/outputtypes.h"

#include "conversiontask.h"

#include <iterator>

namespace {

const OutputType outputTypes[] = {
    {0, "3GP_AMR_Profile.ini", 3, ".3gp", "Cell Phone 3GP  files (3GP + AMR)"},
    {1, "3GP_AAC_Profile.ini", 3, ".3gp", "Cell Phone 3GP  files (3GP + AAC)"},
    {2, "3GP2_AAC_Profile.ini", 5, ".3g2", "Cell Phone 3GP2 files (3GP2 + AAC)"},
};

} // namespace

const OutputType *OutputType::Find(int index)
{
    if (index < 0 || index >= int(std::size(outputTypes)))
        return nullptr;
    return &outputTypes[index];
}

QStringList OutputType::Brands() const
{
    if (passCount > 3)
        return {QStringLiteral("3g2a"), QStringLiteral("3g2b"), QStringLiteral("3g2c")};
    return {QStringLiteral("3gp4"), QStringLiteral("3gp5"), QStringLiteral("3gp6"),
            QStringLiteral("3gp7")};
}

int OutputType::StateBeforePass(int pass) const
{
    switch (pass) {
    case 1:
        return TASK_ENCODING;
    case 2:
        return TASK_EXPORTING;
    case 4:
        return TASK_CHANGING;
    default:
        return -1;
    }
}

QList<TaskFile> OutputType::Files() const
{
    if (passCount > 3)
        return {TaskFile::FirstTemporary, TaskFile::SecondTemporary, TaskFile::Output};
    return {TaskFile::FirstTemporary, TaskFile::Output};
}

QString OutputType::FileName(TaskFile file, const QString &baseName) const
{
    switch (file) {
    case TaskFile::FirstTemporary:
        // With its type's own extension: a 3G2 task never needs a name that a 3GP task of the
        // same base holds, so their numbers do not run ahead of each other.
        return baseName + QStringLiteral("_temp") + Extension();
    case TaskFile::SecondTemporary:
        return baseName + QStringLiteral("_temp_2.3g2");
    case TaskFile::Output:
        return baseName + Extension();
    case TaskFile::SoundCopy:
        return baseName + QStringLiteral("_sound.amr");
    case TaskFile::SourceCopy:
        return baseName + QStringLiteral("_source.mkv");
    case TaskFile::Scratch:
        break; // each has a name of its own, kept by TaskFiles
    }
    return QString();
}

QList<TaskFile> OutputType::WrittenBy(int pass) const
{
    if (pass == 0)
        return {TaskFile::SoundCopy, TaskFile::SourceCopy};
    if (pass < 0 || pass > passCount)
        return {}; // the batch options' steps write their scratch files alone
    if (pass == 1)
        return {TaskFile::FirstTemporary};
    if (passCount <= 3)
        return {TaskFile::Output};
    if (pass == 2 || pass == 3)
        return {TaskFile::SecondTemporary};
    if (pass == 4)
        return {TaskFile::Output};
    return {};
}

QList<TaskFile> OutputType::DeletedAfter(int pass) const
{
    if (pass == 1)
        return {TaskFile::SoundCopy, TaskFile::SourceCopy};
    if (pass == 3)
        return {TaskFile::FirstTemporary};
    if (pass == 5)
        return {TaskFile::SecondTemporary};
    return {};
}
