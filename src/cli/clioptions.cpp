// SPDX-License-Identifier: GPL-3.0-or-later
#include "clioptions.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace {

bool ToNumber(const QString &text, double &value)
{
    bool ok = false;
    value = text.toDouble(&ok); // always the C locale: "1.5", never "1,5"
    return ok && std::isfinite(value) && value >= 0.0;
}

// A count written in digits that no int holds: its own message, not "must be 1 or more".
bool TooLarge(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^\\s*\\+?\\d+\\s*$"));
    bool ok = false;
    text.toInt(&ok);
    return !ok && digits.match(text).hasMatch();
}

} // namespace

QString CliOptions::Usage()
{
    return QStringLiteral(
        "Usage: kestrani-cli [-t TYPE] [-p PROFILE] [-o FOLDER] [-b SECONDS] [-e SECONDS] [-j N] "
        "FILE...\n"
        "Converts videos into 3GP and 3G2 files for mobile phones.\n"
        "\n"
        "  -t, --type N        output type 0, 1 or 2 (default 0)\n"
        "  -p, --profile N     1-based profile number of that type (default: its "
        "DefaultProfile)\n"
        "  -o, --output DIR    output folder (default: the stored \"destination\")\n"
        "  -b, --begin S       trim begin in seconds for every file (default 0)\n"
        "  -e, --end S         trim end in seconds for every file (default: the clip length)\n"
        "  -j, --jobs N        convert N files at once (default 1); 0: as many as keep this\n"
        "                      machine busy\n"
        "  --max-size SIZE     no output larger than SIZE (300K, 1M, or bytes; K = 1024 bytes,\n"
        "                      M = 1024 K): the rates follow each video's length\n"
        "  --split             cut videos too long for --max-size into parts, each within it\n"
        "  --part-length MIN   cut videos into parts of at most MIN minutes\n"
        "  --loudness[=LUFS]   even out the sound to -16 LUFS, or to LUFS (-30 to -10)\n"
        "  --subtitles[=FILE]  burn subtitles into the picture: a file beside the video with its\n"
        "                      name (.srt, .ass, .ssa, .vtt), else its first text subtitle\n"
        "                      stream; FILE (one video only) names the file to use\n"
        "  --subtitle-stream N burn in the video's subtitle stream N (0 is the first)\n"
        "  --list-profiles     each type's description and its numbered profile titles, "
        "default marked\n"
        "  --print-commands    print every tool's argument list (one JSON array per line, in "
        "the order they run) and run nothing\n"
        "  -h, --help          this text\n"
        "  --version           the program's version\n"
        "\n"
        "Outputs never replace a file: a name already taken gets \" (2)\", \" (3)\" ..., also "
        "when\n"
        "other runs write into the same folder at the same time. A tool that shows no progress\n"
        "(no output, no growing file) for 10 minutes is ended and its file fails.\n"
        "Ctrl-C stops the batch. Exit status: 0 when every task finished, 1 when any did not,\n"
        "2 for a usage error, 128 + the signal's number when stopped by a signal.\n"
        "Use -- before file names that begin with a dash.\n");
}

bool CliOptions::Parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption type({"t", "type"}, QString(), "N");
    const QCommandLineOption profileOption({"p", "profile"}, QString(), "N");
    const QCommandLineOption output({"o", "output"}, QString(), "DIR");
    const QCommandLineOption beginOption({"b", "begin"}, QString(), "S");
    const QCommandLineOption endOption({"e", "end"}, QString(), "S");
    const QCommandLineOption jobsOption({"j", "jobs"}, QString(), "N");
    const QCommandLineOption list("list-profiles");
    const QCommandLineOption print("print-commands");
    const QCommandLineOption helpOption(QStringList{"h", "help"});
    const QCommandLineOption versionOption("version");
    const QCommandLineOption maxSize("max-size", QString(), "SIZE");
    const QCommandLineOption split("split");
    const QCommandLineOption partLength("part-length", QString(), "MINUTES");
    const QCommandLineOption loudness("loudness");
    const QCommandLineOption subtitles("subtitles");
    const QCommandLineOption subtitleStream("subtitle-stream", QString(), "N");
    parser.addOptions({type, profileOption, output, beginOption, endOption, jobsOption, list, print,
                       helpOption, versionOption, maxSize, split, partLength, loudness, subtitles,
                       subtitleStream});
    QStringList taken = arguments;
    if (!TakeOptionalValues(taken))
        return false;
    if (!parser.parse(taken)) {
        errorText = parser.errorText();
        return false;
    }
    help = parser.isSet(helpOption);
    version = parser.isSet(versionOption);
    listProfiles = parser.isSet(list);
    printCommands = parser.isSet(print);
    files = parser.positionalArguments();
    outputDir = parser.value(output);
    if (help || version)
        return true;
    bool ok = true;
    if (parser.isSet(type)) {
        outputType = parser.value(type).toInt(&ok);
        if (!ok || outputType < 0 || outputType > 2) {
            errorText = QStringLiteral("the output type must be 0, 1 or 2");
            return false;
        }
    }
    if (parser.isSet(profileOption)) {
        profile = parser.value(profileOption).toInt(&ok);
        if (TooLarge(parser.value(profileOption))) {
            errorText = QStringLiteral("the profile number %1 is too large")
                            .arg(parser.value(profileOption).trimmed());
            return false;
        }
        if (!ok || profile < 1) {
            errorText = QStringLiteral("the profile number must be 1 or more");
            return false;
        }
    }
    if (parser.isSet(jobsOption)) {
        jobs = parser.value(jobsOption).toInt(&ok);
        if (TooLarge(parser.value(jobsOption))) {
            errorText = QStringLiteral("the number of files at once %1 is too large")
                            .arg(parser.value(jobsOption).trimmed());
            return false;
        }
        if (!ok || jobs < 0) {
            errorText = QStringLiteral("the number of files at once must be 0 or more");
            return false;
        }
    }
    if (parser.isSet(beginOption) && !ToNumber(parser.value(beginOption), begin)) {
        errorText = QStringLiteral("the begin must be a number of seconds, 0 or more");
        return false;
    }
    if (parser.isSet(endOption) && !ToNumber(parser.value(endOption), end)) {
        errorText = QStringLiteral("the end must be a number of seconds, 0 or more");
        return false;
    }
    if (end >= 0.0 && end <= qMax(begin, 0.0)) {
        errorText = QStringLiteral("the end must come after the begin");
        return false;
    }
    if (parser.isSet(output) && outputDir.isEmpty()) {
        errorText = QStringLiteral("the output folder must not be empty");
        return false;
    }
    if (files.isEmpty() && !listProfiles) {
        errorText = QStringLiteral("no video files given");
        return false;
    }
    return ParseBatchOptions(parser);
}

// "--loudness" and "--subtitles" stand alone or take a value after '=' (and "--subtitles" the
// next argument when it names a subtitle file): taken out here, before the parser, which knows
// only options that always or never take one.
bool CliOptions::TakeOptionalValues(QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString argument = arguments.at(i);
        if (argument == u"--")
            break;
        if (argument.startsWith(QLatin1String("--loudness="))) {
            bool ok = false;
            const double target = argument.mid(11).toDouble(&ok);
            if (!ok || !(target >= BatchOptions::quietestLoudness &&
                         target <= BatchOptions::loudestLoudness)) {
                errorText = QStringLiteral("the loudness must be a number of LUFS from %1 to %2")
                                .arg(BatchOptions::quietestLoudness)
                                .arg(BatchOptions::loudestLoudness);
                return false;
            }
            batch.loudnessTarget = target;
            arguments[i] = QStringLiteral("--loudness");
        } else if (argument.startsWith(QLatin1String("--subtitles="))) {
            batch.subtitleFile = argument.mid(12);
            arguments[i] = QStringLiteral("--subtitles");
        } else if (argument == u"--subtitles" && i + 1 < arguments.size()) {
            static const QStringList kinds{"srt", "ass", "ssa", "vtt"};
            if (kinds.contains(QFileInfo(arguments.at(i + 1)).suffix().toLower()))
                batch.subtitleFile = arguments.takeAt(i + 1);
        }
        if (batch.subtitleFile.isEmpty() && argument.startsWith(QLatin1String("--subtitles="))) {
            errorText = QStringLiteral("--subtitles= must name a subtitle file");
            return false;
        }
    }
    return true;
}

bool CliOptions::ParseBatchOptions(const QCommandLineParser &parser)
{
    if (parser.isSet(QStringLiteral("max-size"))) {
        const std::optional<qint64> size =
            BatchOptions::ParseSize(parser.value(QStringLiteral("max-size")), &errorText);
        if (!size)
            return false;
        batch.maxFileBytes = *size;
    }
    batch.splitIntoParts = parser.isSet(QStringLiteral("split"));
    if (parser.isSet(QStringLiteral("part-length"))) {
        double minutes = 0.0;
        if (!ToNumber(parser.value(QStringLiteral("part-length")), minutes) ||
            !(minutes * 60.0 >= 1.0) || minutes > 24.0 * 60.0) {
            errorText = QStringLiteral("the part length must be a number of minutes, from one "
                                       "second (0.017) to a day (1440)");
            return false;
        }
        batch.partSeconds = minutes * 60.0;
        batch.splitIntoParts = true;
    }
    if (parser.isSet(QStringLiteral("loudness")) && !batch.loudnessTarget)
        batch.loudnessTarget = BatchOptions::defaultLoudness;
    if (parser.isSet(QStringLiteral("subtitle-stream"))) {
        bool ok = false;
        batch.subtitleStream = parser.value(QStringLiteral("subtitle-stream")).toInt(&ok);
        if (!ok || batch.subtitleStream < 0) {
            errorText = QStringLiteral("the subtitle stream must be a number, 0 or more");
            return false;
        }
    }
    batch.burnSubtitles = parser.isSet(QStringLiteral("subtitles")) || batch.subtitleStream >= 0;
    if (!batch.subtitleFile.isEmpty()) // relative to where we were started
        batch.subtitleFile = QFileInfo(batch.subtitleFile).absoluteFilePath();
    if (!batch.subtitleFile.isEmpty() && files.size() > 1) {
        errorText = QStringLiteral("--subtitles FILE names the subtitles of one video, but %1 "
                                   "videos are given")
                        .arg(files.size());
        return false;
    }
    return true;
}
