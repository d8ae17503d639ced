// SPDX-License-Identifier: GPL-3.0-or-later
#include "filestamp.h"

#include <QFileInfo>

#include <chrono>
#include <filesystem>
#include <system_error>

FileStamp FileStamp::Of(const QString &file)
{
    FileStamp stamp;
    const QFileInfo info(file);
    stamp.path = info.absoluteFilePath();
    // QFileInfo keeps milliseconds only; a file rewritten within the same millisecond with the
    // same size must still count as another file.
    const std::filesystem::path native(stamp.path.toStdU16String());
    std::error_code error;
    if (!std::filesystem::is_regular_file(native, error))
        return stamp;
    const auto size = std::filesystem::file_size(native, error);
    if (error)
        return stamp;
    const auto modified = std::filesystem::last_write_time(native, error);
    if (error)
        return stamp;
    stamp.size = std::int64_t(size);
    stamp.modifiedNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
    return stamp;
}
