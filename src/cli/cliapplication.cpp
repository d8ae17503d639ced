// SPDX-License-Identifier: GPL-3.0-or-later
#include "cliapplication.h"

#include "files/bytenames.h"
#include "mediaerror.h"
#include "mediaprobe.h"
#include "profiles/outputtypes.h"
#include "run/signalwatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QStandardPaths>

namespace {

void Print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = bytenames::Shown(text).toUtf8();
    std::fprintf(stream, "%s", bytes.constData()); // no NUL inside: names hold none
    std::fflush(stream);
}

// The output folder the window would use: the stored "destination", else the user's videos.
QString StoredDestination()
{
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                             QString::fromLatin1(productName), QString::fromLatin1(productName));
    const QString stored = settings.value(QStringLiteral("destination/Default")).toString();
    if (!stored.isEmpty())
        return stored;
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::HomeLocation)
                            : folder;
}

} // namespace

CliApplication::CliApplication(std::FILE *out, std::FILE *err, bool liveProgress)
    : host(tasks, out, err, liveProgress), out(out), err(err)
{}

CliApplication::~CliApplication() = default;

int CliApplication::UsageFailure(const QString &text)
{
    Print(err, QStringLiteral("kestrani-cli: %1\nTry 'kestrani-cli --help'.\n").arg(text));
    return UsageError;
}

int CliApplication::Run(const QStringList &arguments)
{
    if (!options.Parse(arguments))
        return UsageFailure(options.errorText);
    if (options.help) {
        Print(out, CliOptions::Usage());
        return AllFinished;
    }
    if (options.version) {
        Print(out, QStringLiteral("kestrani-cli " KESTRANI_VERSION "\n"
                                  "License GPLv3+: GNU GPL version 3 or later "
                                  "<https://gnu.org/licenses/gpl.html>\n"));
        return AllFinished;
    }
    QString problem;
    const EnginePaths paths = EnginePaths::ForRunningProgram(&problem);
    if (!paths.IsValid()) {
        Print(err, QStringLiteral("kestrani-cli: %1\n").arg(problem));
        return NotAllFinished;
    }
    engine = std::make_unique<ConversionEngine>(host, tasks, paths);
    host.logPath = [this] { return engine->Log().Path(); };
    if (options.listProfiles)
        return ListProfiles();
    // Relative names mean the folder we were started in; the engine changes folders.
    host.folderText = OutputFolderOption(options.outputDir);
    AddTasks(options.files);
    host.outputType = options.outputType;
    if (!SelectProfile(options.profile))
        return UsageFailure(QStringLiteral("type %1 has no profile %2")
                                .arg(options.outputType)
                                .arg(options.profile));
    return options.printCommands ? PrintCommands() : Convert();
}

int CliApplication::ListProfiles()
{
    for (int type = 0; type < 3; ++type) {
        const OutputType *info = OutputType::Find(type);
        host.ForgetProfiles();
        engine->LoadProfiles(type);
        QString text = QStringLiteral("%1  %2\n").arg(type).arg(info->ItemText());
        if (!host.descriptionSet) {
            text += QStringLiteral("   (no profiles: %1 cannot be read)\n")
                        .arg(engine->Paths().InApp(info->ProfileFile()));
        } else {
            text += QStringLiteral("   %1\n").arg(host.description);
            for (int row = 0; row < host.profiles.size(); ++row)
                text += QStringLiteral("   %1 %2  %3\n")
                            .arg(row == host.profileRow ? QLatin1Char('*') : QLatin1Char(' '))
                            .arg(row + 1, 2)
                            .arg(host.profiles.at(row));
        }
        Print(out, text);
    }
    return AllFinished;
}

bool CliApplication::SelectProfile(int profile)
{
    engine->LoadProfiles(options.outputType); // selects the type's default, as the window does
    if (profile == 0)
        return true;
    if (profile > host.profiles.size())
        return false;
    host.profileRow = profile - 1;
    return true;
}

QString CliApplication::OutputFolderOption(const QString &given) const
{
    if (!given.isEmpty()) // as the bytes given: relative to the folder we were started in
        return QDir::toNativeSeparators(bytenames::PathFor(given));
    const QString folder = StoredDestination();
    if (folder.isEmpty())
        return folder;
    QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    return QDir::toNativeSeparators(absolute);
}

void CliApplication::AddTasks(const QStringList &files)
{
    for (const QString &file : files) {
        const QString path = QDir::toNativeSeparators(bytenames::PathFor(file));
        double length = 0.0;
        bool opened = true;
        try {
            length = MediaProbe::ClipLength(path);
        } catch (const MediaError &e) {
            opened = false;
            // The task stays in the batch with nothing to convert: it fails there, in its
            // place, with its entry in the log.
            Print(err, QStringLiteral("kestrani-cli: %1\n").arg(e.Message()));
        }
        ConversionTask task = ConversionTask::ForSource(path, length);
        if (length > 0.0) {
            task.beginSeconds = qBound(0.0, options.begin, length);
            task.endSeconds = options.end < 0.0 ? length : qBound(0.0, options.end, length);
        } else if (options.end > 0.0) {
            // The container does not tell its length: the given end is taken at its word.
            task.beginSeconds = qMax(0.0, options.begin);
            task.endSeconds = options.end;
        } else if (opened) {
            Print(err, QStringLiteral("kestrani-cli: %1: its length cannot be read; give the "
                                      "part to convert with -e SECONDS\n")
                           .arg(path));
        }
        tasks.Append(task);
    }
}

int CliApplication::PrintCommands()
{
    engine->SetOptions(options.batch);
    engine->PlanOutputNames();
    int status = AllFinished;
    for (int i = 0; i < tasks.Count(); ++i) {
        const ConversionTask task = tasks.GetAt(i);
        const QList<QStringList> commands = engine->TaskCommands(i);
        if (commands.isEmpty() || !(task.endSeconds - task.beginSeconds > 0.0)) {
            Print(err, QStringLiteral("kestrani-cli: %1: nothing would run for it\n")
                           .arg(task.sourcePath));
            status = NotAllFinished;
            continue;
        }
        for (const QStringList &arguments : commands)
            Print(out, QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(arguments))
                                             .toJson(QJsonDocument::Compact)) +
                           QLatin1Char('\n'));
    }
    return status;
}

int CliApplication::Convert()
{
    engine->SetSimultaneousTasks(options.jobs);
    engine->SetOptions(options.batch);
    QObject::connect(engine.get(), &ConversionEngine::recovered, engine.get(),
                     [this](const QStringList &paths) {
                         for (const QString &path : paths)
                             Print(err, QStringLiteral("kestrani-cli: removed %1, left by an "
                                                       "interrupted batch\n")
                                            .arg(path));
                     });
    QObject::connect(engine.get(), &ConversionEngine::batchEnded, engine.get(),
                     [] { QCoreApplication::exit(0); });
    const SignalWatcher watcher([this](int) { engine->OnStopClicked(); });
    if (SignalWatcher::Received() == 0) {
        engine->OnStartClicked();
        if (engine->IsConverting())
            QCoreApplication::exec();
    }
    if (const int signal = SignalWatcher::Received())
        return 128 + signal;
    for (int i = 0; i < tasks.Count(); ++i)
        if (tasks.GetAt(i).finished != 1)
            return NotAllFinished;
    return AllFinished;
}
