// SPDX-License-Identifier: GPL-3.0-or-later
#include "clioptions.h"

#include <QCommandLineParser>
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
    parser.addOptions({type, profileOption, output, beginOption, endOption, jobsOption, list, print,
                       helpOption, versionOption});
    if (!parser.parse(arguments)) {
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
    return true;
}
