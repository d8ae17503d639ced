// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/resource.h>

// Processor seconds (user and system) of this process's children that have been reaped: the
// difference over a kestrani-cli run, which reaps its own tools, is the batch's whole cost.
inline double ChildrenCpu()
{
    struct rusage usage {
    };
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
