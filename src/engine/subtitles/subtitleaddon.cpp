// SPDX-License-Identifier: GPL-3.0-or-later
#include "subtitles/subtitleaddon.h"

#include "batchoptions.h"
#include "conversiontask.h"
#include "mediacheck/outputcheck.h"
#include "mediacheck/sourceprobe.h"
#include "profiles/commandtemplate.h"
#include "profiles/profilecatalog.h"
#include "subtitles/burninfilter.h"
#include "subtitles/burninscript.h"
#include "subtitles/subtitlefile.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <functional>

namespace {

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A scratch file "<base><stem><ext>", or "<base><stem>-2<ext>" ... when a file of the user's
// has that name already: an accident of naming is no reason to fail the task.
QString ClaimFree(const std::function<QString(const QString &, int *)> &claim, const char *stem,
                  int *error)
{
    QString path;
    for (int n = 1; n <= 9 && path.isEmpty(); ++n) {
        path =
            claim(QString::fromLatin1(stem) + (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) +
                      QStringLiteral(".ass"),
                  error);
        if (path.isEmpty() && *error != EEXIST)
            break;
    }
    return path;
}

} // namespace

bool SubtitleAddOn::OutputFrame(const Profile &profile, QSize *frame, double *pixelAspect)
{
    const QString pass1 = profile.PassTemplate(1);
    OutputExpectation expected;
    if (expected.ReadCheckEntry(profile.keys, profile.values) && expected.width > 0) {
        *frame = QSize(expected.width, expected.height);
    } else {
        static const QRegularExpression pad(QStringLiteral("pad=(?:w=)?(\\d+):(?:h=)?(\\d+)"));
        const QRegularExpressionMatch m = pad.match(pass1);
        if (!m.hasMatch())
            return false;
        *frame = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    }
    static const QRegularExpression sar(QStringLiteral("setsar=(?:sar=)?'?(\\d+)[/:](\\d+)"));
    const QRegularExpressionMatch m = sar.match(pass1);
    const double num = m.captured(1).toDouble(), den = m.captured(2).toDouble();
    *pixelAspect = m.hasMatch() && num > 0 && den > 0 ? num / den : 1.0;
    return frame->width() > 0 && frame->height() > 0;
}

QString SubtitleAddOn::Prepare(const TaskSetup &setup)
{
    begin = setup.task.beginSeconds;
    length = setup.task.endSeconds - setup.task.beginSeconds;
    writeScratch = setup.writeScratch;
    const BatchOptions &options = setup.options;
    const bool asked = !options.subtitleFile.isEmpty() || options.subtitleStream >= 0;
    if (!options.subtitleFile.isEmpty())
        choice = SubtitleSource::ForFile(options.subtitleFile);
    else if (options.subtitleStream >= 0)
        choice = SubtitleSource::ForStream(setup.source.subtitleStreams, options.subtitleStream);
    else
        choice = SubtitleSource::Choose(setup.task.sourcePath, setup.source.subtitleStreams);
    const QString video = QFileInfo(setup.task.sourcePath).fileName();
    if (!choice.problem.isEmpty()) {
        if (asked)
            return video + u' ' + choice.problem;
        LeaveOut(video + u' ' + choice.problem);
        return QString();
    }

    QSize frame;
    double pixelAspect = 1.0;
    QStringList pass1 =
        CommandTemplate::ExpandArguments(setup.profile.PassTemplate(1), CommandTemplate::Values());
    const bool drawable = choice.kind == SubtitleChoice::BitmapStream
                              ? BurnInFilter::BurnBitmap(pass1, choice.stream.index)
                              : BurnInFilter::BurnText(pass1, QStringLiteral("x"), 0);
    if (!choice.Burns()) {
        LeaveOut(QStringLiteral("none were found"));
        return QString();
    }
    if (!drawable || !OutputFrame(setup.profile, &frame, &pixelAspect)) {
        LeaveOut(QStringLiteral("the profile's first pass has no picture filters to add them to"));
        return QString();
    }
    style = BurnInStyle::For(frame, pixelAspect);

    switch (choice.kind) {
    case SubtitleChoice::File: {
        const SubtitleFile::Result read = SubtitleFile::Read(choice.file);
        if (!read.problem.isEmpty())
            return QStringLiteral("the subtitle file %1 %2").arg(choice.file, read.problem);
        if (read.track.skipped > 0)
            note = QStringLiteral("%1 entries of the subtitle file %2 cannot be read and are "
                                  "left out")
                       .arg(read.track.skipped)
                       .arg(choice.file);
        return WriteScript(read.track);
    }
    case SubtitleChoice::TextStream: {
        int error = 0;
        extractedPath = ClaimFree(setup.claimScratch, extractedStem, &error);
        if (extractedPath.isEmpty())
            return QStringLiteral("the subtitles cannot be copied out: no file can be made "
                                  "for them in %1: %2")
                .arg(setup.outputFolder, ErrorText(error));
        // The copy a phone clip's sound was repacked into has no subtitles: the source has.
        source = setup.task.sourcePath;
        scriptPath = setup.outputFolder + setup.task.outputName + scriptStem + ".ass"; // likely
        burn = Burn::Text;
        return QString();
    }
    case SubtitleChoice::BitmapStream:
        if (setup.input != setup.task.sourcePath)
            LeaveOut(QStringLiteral("its pictures cannot be drawn from the copy its sound was "
                                    "repacked into"));
        else
            burn = Burn::Pictures;
        return QString();
    case SubtitleChoice::None:
    case SubtitleChoice::Unsupported:
        break;
    }
    return QString();
}

void SubtitleAddOn::LeaveOut(const QString &why)
{
    burn = Burn::Nothing;
    summaryNote = why;
    note = QStringLiteral("no subtitles are drawn: %1").arg(why);
}

QString SubtitleAddOn::WriteScript(const SubtitleTrack &track)
{
    const SubtitleTrack shown = track.Trimmed(begin, length);
    if (shown.cues.isEmpty()) {
        LeaveOut(QStringLiteral("none fall within the part converted"));
        return QString();
    }
    int error = 0;
    const QByteArray script = BurnInScript::Write(shown, style);
    scriptPath =
        ClaimFree([&](const QString &suffix, int *e) { return writeScratch(suffix, script, e); },
                  scriptStem, &error);
    if (scriptPath.isEmpty())
        return QStringLiteral("the subtitles cannot be written beside the output: %1")
            .arg(ErrorText(error));
    burn = Burn::Text;
    return QString();
}

QList<QStringList> SubtitleAddOn::Steps(Stage stage) const
{
    if (stage != Stage::BeforePasses || extractedPath.isEmpty())
        return {};
    // Up to the end of the part converted: the first cue after it ends the copy.
    return {QStringList{"ffmpeg"} + SubtitleSource::ExtractArguments(source, choice.stream.index,
                                                                     extractedPath,
                                                                     begin + length)};
}

QString SubtitleAddOn::StepEnded(Stage stage, int, const QByteArray &)
{
    if (stage != Stage::BeforePasses || extractedPath.isEmpty())
        return QString();
    const SubtitleFile::Result read = SubtitleFile::Read(extractedPath);
    if (!read.problem.isEmpty()) { // ffmpeg writes the script's head even for no cue
        LeaveOut(QStringLiteral("none fall within the part converted"));
        return QString();
    }
    return WriteScript(read.track);
}

QString SubtitleAddOn::TakeNote()
{
    return std::exchange(note, QString());
}

void SubtitleAddOn::EditPass(int pass, QStringList &arguments) const
{
    if (pass != 1)
        return;
    if (burn == Burn::Text)
        BurnInFilter::BurnText(arguments, scriptPath, style.BlockHeight());
    else if (burn == Burn::Pictures)
        BurnInFilter::BurnBitmap(arguments, choice.stream.index);
}

QString SubtitleAddOn::Summary() const
{
    QString text = QStringLiteral("subtitles: ") + choice.Description();
    if (choice.Burns() && !summaryNote.isEmpty())
        text += QStringLiteral(" (%1)").arg(summaryNote);
    return text;
}
