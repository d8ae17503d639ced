// SPDX-License-Identifier: GPL-3.0-or-later
#include "tasklist.h"

qint32 TaskList::Append(const ConversionTask &task)
{
    tasks.append(task);
    return Count() - 1;
}

ConversionTask TaskList::GetAt(qint32 index) const
{
    Q_ASSERT(IsValidIndex(index));
    return tasks.at(index);
}

void TaskList::SetAt(qint32 index, const ConversionTask &task)
{
    Q_ASSERT(IsValidIndex(index));
    tasks[index] = task;
}

void TaskList::RemoveAt(qint32 index)
{
    Q_ASSERT(IsValidIndex(index));
    tasks.removeAt(index);
}
