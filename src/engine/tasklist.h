// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "conversiontask.h"

#include <QList>

// The batch: an ordered, growable list of tasks owned by the main page. Row i of the task
// list view is task i. Callers check indices before GetAt/SetAt/RemoveAt.
class TaskList
{
public:
    qint32 Count() const { return qint32(tasks.size()); }
    qint32 Append(const ConversionTask &task);
    ConversionTask GetAt(qint32 index) const;
    void SetAt(qint32 index, const ConversionTask &task);
    void RemoveAt(qint32 index);
    void RemoveAll() { tasks.clear(); }
    bool IsValidIndex(qint32 index) const { return index >= 0 && index < Count(); }

private:
    QList<ConversionTask> tasks;
};
