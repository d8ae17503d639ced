// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/fileidentity.h"

#include <QFile>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace {

#ifdef Q_OS_LINUX
qint64 Nanoseconds(const struct statx_timestamp &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}
#endif

FileIdentity Stat(const QString &path, int flags)
{
    FileIdentity id;
#ifdef Q_OS_LINUX
    struct statx st {
    };
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), flags, mask, &st) != 0)
        return id;
    id.device = (quint64(st.stx_dev_major) << 32) | st.stx_dev_minor;
    id.inode = st.stx_ino;
    id.birthNs = (st.stx_mask & STATX_BTIME) ? Nanoseconds(st.stx_btime) : 0;
    id.modifiedNs = Nanoseconds(st.stx_mtime);
    id.changedNs = Nanoseconds(st.stx_ctime);
    id.size = qint64(st.stx_size);
#else
    Q_UNUSED(path);
    Q_UNUSED(flags);
#endif
    return id;
}

} // namespace

FileIdentity FileIdentity::Of(const QString &path)
{
#ifdef Q_OS_LINUX
    return Stat(path, AT_SYMLINK_NOFOLLOW);
#else
    return Stat(path, 0);
#endif
}

FileIdentity FileIdentity::OfTarget(const QString &path)
{
    return Stat(path, 0);
}

bool FileIdentity::SameFile(const FileIdentity &other) const
{
    return Exists() && other.Exists() && device == other.device && inode == other.inode &&
           birthNs == other.birthNs;
}

bool FileIdentity::Untouched(const FileIdentity &other) const
{
    return SameFile(other) && size == other.size && modifiedNs == other.modifiedNs &&
           changedNs == other.changedNs;
}

QJsonObject FileIdentity::ToJson() const
{
    // Strings: JSON numbers are doubles and would lose the low bits of these.
    return QJsonObject{{QStringLiteral("dev"), QString::number(device)},
                       {QStringLiteral("ino"), QString::number(inode)},
                       {QStringLiteral("birth"), QString::number(birthNs)},
                       {QStringLiteral("mtime"), QString::number(modifiedNs)},
                       {QStringLiteral("ctime"), QString::number(changedNs)},
                       {QStringLiteral("size"), QString::number(size)}};
}

FileIdentity FileIdentity::FromJson(const QJsonObject &object)
{
    const auto number = [&object](const char *key) {
        return object.value(QLatin1String(key)).toString().toLongLong();
    };
    FileIdentity id;
    id.device = quint64(object.value(QLatin1String("dev")).toString().toULongLong());
    id.inode = quint64(object.value(QLatin1String("ino")).toString().toULongLong());
    id.birthNs = number("birth");
    id.modifiedNs = number("mtime");
    id.changedNs = number("ctime");
    id.size = object.contains(QLatin1String("size")) ? number("size") : -1;
    return id;
}
