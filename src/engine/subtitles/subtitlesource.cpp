// SPDX-License-Identifier: GPL-3.0-or-later
#include "subtitles/subtitlesource.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

const char *const extensions[] = {"srt", "ass", "ssa", "vtt"};

const struct {
    const char *codec;
    const char *name;
} codecNames[] = {
    {"subrip", "SubRip"},
    {"srt", "SubRip"},
    {"ass", "ASS"},
    {"ssa", "SSA"},
    {"mov_text", "3GPP timed text"},
    {"webvtt", "WebVTT"},
    {"text", "plain text"},
    {"dvd_subtitle", "DVD pictures"},
    {"hdmv_pgs_subtitle", "Blu-ray pictures"},
    {"dvb_subtitle", "DVB pictures"},
    {"xsub", "XSUB pictures"},
    {"dvb_teletext", "teletext"},
};

int ExtensionRank(const QString &suffix)
{
    const auto *found = std::find_if(std::begin(extensions), std::end(extensions),
                                     [&](const char *e) { return suffix == QLatin1String(e); });
    return found == std::end(extensions) ? -1 : int(found - std::begin(extensions));
}

// Whether the part between the base name and the extension ("en", "eng.forced",
// "English") names the locale's language.
bool NamesLanguage(const QString &middle, const QLocale &locale)
{
    const QLocale::Language language = locale.language();
    const QStringList names{QLocale::languageToCode(language, QLocale::ISO639Part1),
                            QLocale::languageToCode(language, QLocale::ISO639Part2B),
                            QLocale::languageToCode(language, QLocale::ISO639Part2T),
                            QLocale::languageToString(language), locale.nativeLanguageName()};
    for (const QString &part :
         middle.split(QRegularExpression(QStringLiteral("[._ -]")), Qt::SkipEmptyParts))
        for (const QString &name : names)
            if (!name.isEmpty() && part.compare(name, Qt::CaseInsensitive) == 0)
                return true;
    return false;
}

QString CodecName(const QString &codec)
{
    for (const auto &known : codecNames)
        if (codec == QLatin1String(known.codec))
            return QString::fromLatin1(known.name);
    return codec.isEmpty() ? QStringLiteral("unknown") : codec;
}

} // namespace

QString SubtitleChoice::Description() const
{
    switch (kind) {
    case File:
        return QFileInfo(file).fileName();
    case TextStream:
    case BitmapStream:
    case Unsupported: {
        QString what = CodecName(stream.codec);
        if (!stream.language.isEmpty())
            what += QStringLiteral(", ") + stream.language;
        QString text =
            QStringLiteral("subtitle stream %1 of the video (%2)").arg(stream.index).arg(what);
        if (kind == Unsupported)
            text += QStringLiteral(", which cannot be drawn");
        return text;
    }
    case None:
        break;
    }
    return QStringLiteral("none found");
}

QStringList SubtitleSource::FilesBeside(const QString &sourcePath, const QLocale &locale)
{
    const QFileInfo source(sourcePath);
    const QString base =
        source.completeBaseName().isEmpty() ? source.fileName() : source.completeBaseName();
    struct Found {
        int rank, extension;
        QString name;
    };
    std::vector<Found> found;
    const QStringList names = source.dir().entryList(QDir::Files | QDir::Hidden | QDir::Readable);
    for (const QString &name : names) {
        if (name == source.fileName() || name.size() <= base.size() + 1 ||
            !name.startsWith(base, Qt::CaseInsensitive) || name.at(base.size()) != u'.')
            continue;
        const QString suffix = QFileInfo(name).suffix().toLower();
        const int extension = ExtensionRank(suffix);
        if (extension < 0)
            continue;
        // "Film.en.srt": the part between "Film." and ".srt"; none in "Film.srt".
        const qsizetype middleLength = name.size() - base.size() - suffix.size() - 2;
        const QString middle =
            middleLength > 0 ? name.mid(base.size() + 1, middleLength) : QString();
        int rank = 3;
        if (middle.isEmpty())
            rank = name.startsWith(base) ? 0 : 1;
        else if (NamesLanguage(middle, locale))
            rank = 2;
        found.push_back({rank, extension, name});
    }
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        return std::tie(a.rank, a.extension, a.name) < std::tie(b.rank, b.extension, b.name);
    });
    QStringList files;
    for (const Found &f : found)
        files.append(source.dir().filePath(f.name));
    return files;
}

SubtitleChoice SubtitleSource::Choose(const QString &sourcePath,
                                      const QList<SubtitleStream> &streams, const QLocale &locale)
{
    const QStringList files = FilesBeside(sourcePath, locale);
    if (!files.isEmpty())
        return ForFile(files.first());
    for (SubtitleStream::Kind kind : {SubtitleStream::Text, SubtitleStream::Bitmap})
        for (const SubtitleStream &stream : streams)
            if (stream.kind == kind)
                return ForStream(streams, stream.index);
    SubtitleChoice choice;
    if (!streams.isEmpty()) // only streams nothing can draw: say so rather than "none found"
        choice = ForStream(streams, streams.first().index);
    return choice;
}

SubtitleChoice SubtitleSource::ForFile(const QString &file)
{
    SubtitleChoice choice;
    choice.kind = SubtitleChoice::File;
    choice.file = file;
    return choice;
}

SubtitleChoice SubtitleSource::ForStream(const QList<SubtitleStream> &streams, int index)
{
    SubtitleChoice choice;
    const auto found = std::find_if(streams.begin(), streams.end(),
                                    [&](const SubtitleStream &s) { return s.index == index; });
    if (found == streams.end()) {
        choice.problem = streams.isEmpty()
                             ? QStringLiteral("has no subtitle stream")
                             : QStringLiteral("has no subtitle stream %1 (it has %2, counted "
                                              "from 0)")
                                   .arg(index)
                                   .arg(streams.size());
        return choice;
    }
    choice.stream = *found;
    choice.kind = found->kind == SubtitleStream::Text     ? SubtitleChoice::TextStream
                  : found->kind == SubtitleStream::Bitmap ? SubtitleChoice::BitmapStream
                                                          : SubtitleChoice::Unsupported;
    if (choice.kind == SubtitleChoice::Unsupported)
        choice.problem =
            QStringLiteral("has subtitle stream %1 in a form that cannot be drawn (%2)")
                .arg(index)
                .arg(CodecName(found->codec));
    return choice;
}

QStringList SubtitleSource::ExtractArguments(const QString &source, int stream,
                                             const QString &scriptPath, double until)
{
    QStringList arguments{"-hide_banner", "-nostdin", "-v", "error", "-y", "-i", "file:" + source};
    arguments << "-map" << QStringLiteral("0:s:%1").arg(stream) << "-c:s"
              << "ass";
    if (until >= 0)
        arguments << "-t" << QString::number(until, 'f', 3);
    arguments << "-f"
              << "ass"
              << "file:" + scriptPath;
    return arguments;
}
