// SPDX-License-Identifier: GPL-3.0-or-later
#include "subtitles/subtitlefile.h"

#include "subtitles/subtitledecoder.h"
#include "subtitles/subtitleparser.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Characters no text file holds: controls other than tab, line ends and form feed, and
// bytes the encoding could not read.
bool LooksBinary(const QString &text)
{
    qsizetype odd = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        odd += (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r' && u != u'\f') || u == 0xFFFD;
    }
    return odd * 20 > text.size();
}

} // namespace

SubtitleFile::Result SubtitleFile::Read(const QString &path, const QLocale &locale)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {{}, {}, QStringLiteral("is not there")};
    if (!info.isFile())
        return {{}, {}, QStringLiteral("is not a file")};
    if (info.size() > maxBytes)
        return {{},
                {},
                QStringLiteral("is too large for a subtitle file (%1 MB)")
                    .arg(info.size() / (1024 * 1024))};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, {}, QStringLiteral("cannot be read: %1").arg(file.errorString())};
    if (file.isSequential())
        return {{}, {}, QStringLiteral("is not a file")};
    const QByteArray bytes = file.read(maxBytes + 1);
    if (bytes.size() > maxBytes)
        return {{}, {}, QStringLiteral("is too large for a subtitle file")};
    if (file.error() != QFile::NoError)
        return {{}, {}, QStringLiteral("cannot be read: %1").arg(file.errorString())};
    return FromBytes(bytes, info.fileName(), locale);
}

SubtitleFile::Result SubtitleFile::FromBytes(const QByteArray &bytes, const QString &name,
                                             const QLocale &locale)
{
    const SubtitleDecoder::Result decoded = SubtitleDecoder::Decode(bytes, locale);
    Result result;
    result.encoding = decoded.encoding;
    result.track = SubtitleParser::Parse(decoded.text, SubtitleParser::FormatOfName(name));
    if (!result.track.cues.isEmpty())
        return result;
    if (bytes.trimmed().isEmpty())
        result.problem = QStringLiteral("is empty");
    else if (LooksBinary(decoded.text))
        result.problem = QStringLiteral("is not a subtitle file (it holds binary data)");
    else
        result.problem = QStringLiteral("holds no subtitle that can be read");
    return result;
}
