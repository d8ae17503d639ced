// SPDX-License-Identifier: GPL-3.0-or-later
// The media checks run in a module loaded on first use: a program that starts without
// converting (the window) does not wait for FFmpeg's libraries to load.
#include "mediacheck/outputcheck.h"
#include "mediacheck/sourceprobe.h"

#include "conversiontask.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

using ProbeEntry = void (*)(const QString &, SourceInfo &);
using VerifyEntry = void (*)(const QString &, const OutputExpectation &, QString &, SoundLevels &);

struct Module {
    ProbeEntry probe = nullptr;
    VerifyEntry verify = nullptr;
    QString failure;
};

// Beside the program (where the package installs it), else where the build put it.
const Module &Checks()
{
    static const Module module = [] {
        Module m;
        const QString name = QStringLiteral("libkestrani_mediacheck.so");
        for (const QString &file : {QCoreApplication::applicationDirPath() + u'/' + name,
                                    QStringLiteral(KESTRANI_MEDIACHECK_MODULE)}) {
            QLibrary library(file);
            if (library.load()) {
                m.probe = reinterpret_cast<ProbeEntry>(library.resolve("kestrani_probe_source"));
                m.verify = reinterpret_cast<VerifyEntry>(library.resolve("kestrani_verify_output"));
            }
            if (m.probe && m.verify)
                return m;
            if (m.failure.isEmpty())
                m.failure = library.errorString();
        }
        return m;
    }();
    return module;
}

double ParseRate(const QString &text)
{
    const qsizetype slash = text.indexOf(u'/');
    bool ok1 = false;
    bool ok2 = true;
    const double num = text.left(slash < 0 ? text.size() : slash).toDouble(&ok1);
    const double den = slash < 0 ? 1.0 : text.mid(slash + 1).toDouble(&ok2);
    const double rate = ok1 && ok2 && den > 0 ? num / den : 0.0;
    return std::isfinite(rate) && rate > 0 ? rate : 0.0;
}

} // namespace

bool OutputExpectation::ReadCheckEntry(const QStringList &keys, const QStringList &values,
                                       QString *error)
{
    if (error)
        error->clear();
    qsizetype at = -1;
    for (qsizetype i = 0; i < keys.size() && i < values.size() && at < 0; ++i) {
        if (keys[i].compare(QLatin1String("Check"), Qt::CaseInsensitive) == 0)
            at = i;
    }
    if (at < 0)
        return false;
    const QString entry = values[at];
    const QStringList parts = entry.simplified().split(u' ');
    static const QRegularExpression sizeForm(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
    const QRegularExpressionMatch size = sizeForm.match(parts.value(1));
    const double rate = ParseRate(parts.value(2));
    const QStringList names = parts.value(0).split(u',', Qt::SkipEmptyParts);
    if (parts.size() != 3 || names.isEmpty() || !size.hasMatch() || rate <= 0) {
        if (error) {
            *error = QStringLiteral("the Check entry \"%1\" is not written as "
                                    "\"codec WIDTHxHEIGHT rate\"")
                         .arg(entry);
        }
        return false;
    }
    codecs = names;
    width = size.captured(1).toInt();
    height = size.captured(2).toInt();
    maxFrameRate = rate;
    return true;
}

OutputExpectation OutputExpectation::ForPart(const ConversionTask &task, const SourceInfo &source)
{
    // The container, and so the clip length, may include a longer sound than picture (or the
    // reverse): each lasts the part, or up to its own end where that comes first.
    const auto partUpTo = [&task](double end) {
        return (end > 0 ? std::min(end, task.endSeconds) : task.endSeconds) - task.beginSeconds;
    };
    OutputExpectation e;
    e.durationSeconds = partUpTo(source.pictureEndSeconds);
    e.lastPictureSeconds = source.lastPictureSeconds;
    e.expectSound = source.audioIndex >= 0;
    e.soundSeconds = partUpTo(source.soundEndSeconds);
    e.sourcePath = task.sourcePath;
    e.sourceBeginSeconds = task.beginSeconds;
    return e;
}

SourceInfo SourceProbe::Probe(const QString &path)
{
    SourceInfo info;
    if (const Module &m = Checks(); m.probe) {
        m.probe(path, info);
    } else {
        // Nothing known: the tools find out for themselves, as they did before probing.
        info.readable = info.hasVideo = info.hasAudioStreams = true;
        info.audioIndex = 0;
    }
    return info;
}

QString OutputCheck::Verify(const QString &path, const OutputExpectation &expected,
                            SoundLevels *levels)
{
    const Module &m = Checks();
    if (!m.verify)
        return QStringLiteral("the file cannot be read back: %1").arg(m.failure);
    QString faults;
    SoundLevels measured;
    m.verify(path, expected, faults, measured);
    if (levels)
        *levels = measured;
    return faults;
}
