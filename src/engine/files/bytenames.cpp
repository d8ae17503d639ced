// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/bytenames.h"

#include "files/processes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QRegularExpression>
#include <QSysInfo>

#include <cerrno>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace bytenames {

namespace {

constexpr char16_t escapeBase = 0xDC00; // + a byte of 0x80 and above: U+DC80..U+DCFF
constexpr int nameMaxBytes = 255;

// The length of the valid UTF-8 sequence at `at` (its code point in cp), 0 when none starts
// there: overlong forms, surrogates and code points past U+10FFFF are not valid.
int SequenceAt(QByteArrayView bytes, qsizetype at, char32_t &cp)
{
    const uchar lead = uchar(bytes[at]);
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    int length = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0)
        length = 2, cp = lead & 0x1F, least = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        length = 3, cp = lead & 0x0F, least = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        length = 4, cp = lead & 0x07, least = 0x10000;
    else
        return 0;
    if (at + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const uchar next = uchar(bytes[at + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

// Windows-1252 for 0x80..0x9F (its five holes as U+FFFD); Latin-1 above.
char32_t Windows1252(uchar byte)
{
    static const char16_t low[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    return byte < 0xA0 ? low[byte - 0x80] : byte;
}

template <typename Other> QString DecodeWith(QByteArrayView bytes, Other other)
{
    QString text;
    text.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        char32_t cp = 0;
        const int length = SequenceAt(bytes, at, cp);
        text += QChar::fromUcs4(length > 0 ? cp : other(uchar(bytes[at])));
        at += qMax(length, 1);
    }
    return text;
}

// The program's aliases: made in a folder of its own, kept for its life, removed at its end
// (unless a journal of its batches is still there, whose recovery needs them).
struct Aliases {
    QMutex mutex;
    QString root;
    QString own; // made with the first alias
    int count = 0;
    QHash<QByteArray, QString> byTarget;
    QList<QPair<QString, QString>> shown; // alias, readable target

    ~Aliases() { Remove(); }
    QString OwnName() const
    {
        return QStringLiteral("names-%1-%2-%3")
            .arg(QSysInfo::machineHostName())
            .arg(QCoreApplication::applicationPid())
            .arg(processes::Read(QCoreApplication::applicationPid()).start);
    }
    void Remove()
    {
        if (own.isEmpty() ||
            !QDir(root)
                 .entryList(
                     {QStringLiteral("batch-%1-*.json").arg(QCoreApplication::applicationPid())})
                 .isEmpty())
            return;
        RemoveFolder(own);
        own.clear();
    }
    // The links are removed, never what they point at.
    static void RemoveFolder(const QString &folder)
    {
        QDir dir(folder);
        for (const QString &sub :
             dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks)) {
            QDir inner(dir.filePath(sub));
            for (const QString &link : inner.entryList(QDir::AllEntries | QDir::System |
                                                       QDir::Hidden | QDir::NoDotAndDotDot))
                QFile::remove(inner.filePath(link));
            dir.rmdir(sub);
        }
        QDir().rmdir(folder);
    }
};

Aliases &State()
{
    static Aliases aliases;
    return aliases;
}

// A link's own name: the target's last part, readable, within the file system's limit.
QString LinkName(QByteArrayView target)
{
    const qsizetype slash = target.lastIndexOf('/');
    QString name = Readable(target.sliced(slash + 1));
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
    QString stem = name.left(name.size() - extension.size());
    while (!stem.isEmpty() && (stem + extension).toUtf8().size() > nameMaxBytes)
        stem.chop(stem.size() >= 2 && stem.back().isLowSurrogate() ? 2 : 1);
    name = stem + extension;
    return name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
               ? QStringLiteral("file")
               : name;
}

#ifdef Q_OS_UNIX
// A folder only this user can enter: made now, or one of ours already there (never a link,
// nor another user's in a shared temporary folder).
bool MakePrivateFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) == 0)
        return true;
    struct stat st {
    };
    return errno == EEXIST && ::lstat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}
#endif

QString MakeAlias(const QByteArray &target)
{
#ifdef Q_OS_UNIX
    Aliases &state = State();
    const QMutexLocker lock(&state.mutex);
    if (const auto it = state.byTarget.constFind(target); it != state.byTarget.constEnd())
        return it.value();
    // Beside the journals; where they cannot be, in the temporary folder.
    for (const QString &root : {state.root, QDir::tempPath()}) {
        const QString own = QDir(root).filePath(state.OwnName());
        if (state.own.isEmpty() && !root.isEmpty() && QDir().mkpath(root) && MakePrivateFolder(own))
            state.root = root, state.own = own;
    }
    if (state.own.isEmpty())
        return Readable(target);
    QString folder;
    do // numbers a program before us with our process number may have left are passed over
        folder = state.own + QStringLiteral("/%1").arg(++state.count);
    while (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno == EEXIST &&
           state.count < 100000);
    const QString link = folder + u'/' + LinkName(target);
    if (::symlink(target.constData(), QFile::encodeName(link).constData()) != 0)
        return Readable(target);
    state.byTarget.insert(target, link);
    state.shown.append({link, Readable(target)});
    return link;
#else
    return Readable(target);
#endif
}

} // namespace

QString Decode(QByteArrayView bytes)
{
    return DecodeWith(bytes, [](uchar byte) { return char32_t(escapeBase + byte); });
}

QByteArray Encode(QStringView text)
{
    QByteArray bytes;
    qsizetype from = 0; // start of the text not yet encoded
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char16_t c = text[at].unicode();
        const bool escape = c >= escapeBase + 0x80 && c <= escapeBase + 0xFF &&
                            !(at > 0 && text[at - 1].isHighSurrogate());
        if (!escape)
            continue;
        bytes += text.sliced(from, at - from).toUtf8();
        bytes += char(c - escapeBase);
        from = at + 1;
    }
    return bytes + text.sliced(from).toUtf8();
}

bool IsUtf8(QByteArrayView bytes)
{
    for (qsizetype at = 0; at < bytes.size();) {
        char32_t cp = 0;
        const int length = SequenceAt(bytes, at, cp);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

QString Readable(QByteArrayView bytes)
{
    return DecodeWith(bytes, Windows1252);
}

QString PathFor(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QString();
    QByteArray absolute = bytes;
#ifdef Q_OS_UNIX
    if (!absolute.startsWith('/')) {
        char *here = ::getcwd(nullptr, 0);
        if (!here)
            return Readable(bytes);
        absolute = QByteArray(here) + '/' + absolute;
        std::free(here);
    }
#endif
    const QString clean = QDir::cleanPath(Decode(absolute));
    const QByteArray target = Encode(clean);
    return IsUtf8(target) ? clean : MakeAlias(target);
}

QString PathFor(const QString &decoded)
{
    return PathFor(Encode(decoded));
}

QString PathForUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return QString();
    return PathFor(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

QString Shown(const QString &text)
{
    Aliases &state = State();
    const QMutexLocker lock(&state.mutex);
    if (state.own.isEmpty() || !text.contains(state.own))
        return text;
    QString shown = text;
    for (const auto &[alias, readable] : std::as_const(state.shown))
        shown.replace(alias, readable);
    return shown;
}

void SetAliasFolder(const QString &folder)
{
    Aliases &state = State();
    const QMutexLocker lock(&state.mutex);
    if (state.own.isEmpty() && !folder.isEmpty())
        state.root = QDir::cleanPath(folder);
}

void RemoveStaleAliases(const QString &folder)
{
    // "names-HOST-PID-START": only this machine's, as only its processes can be looked at.
    static const QRegularExpression name(QStringLiteral("^names-(.*)-(\\d+)-(-?\\d+)$"));
    const QDir dir(folder);
    for (const QString &entry :
         dir.entryList({QStringLiteral("names-*")}, QDir::Dirs | QDir::NoSymLinks | QDir::Hidden)) {
        const QRegularExpressionMatch m = name.match(entry);
        if (!m.hasMatch() || m.captured(1) != QSysInfo::machineHostName() ||
            processes::StillRunning(m.captured(2).toLongLong(), m.captured(3).toLongLong()) ||
            !dir.entryList({QStringLiteral("batch-%1-*.json").arg(m.captured(2))}).isEmpty())
            continue;
        Aliases::RemoveFolder(dir.filePath(entry));
    }
}

} // namespace bytenames
