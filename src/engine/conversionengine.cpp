// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversionengine.h"

#include "commandtemplate.h"
#include "enginehost.h"
#include "globals.h"
#include "outputnameplanner.h"
#include "progressfields.h"
#include "shutdown.h"
#include "taskcell.h"
#include "tasklist.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

// How often a waiting runner wakes by itself to look at cancelRequested, in case the flag
// was set without RequestCancel. Short enough for Stop to feel immediate, long enough to
// cost nothing measurable.
constexpr int wakeIntervalMs = 100;
// How long a new pass 1 waits for the previous pass-1 tool to finish after "q".
constexpr int previousEncoderGraceMs = 5000;
constexpr int chunkBytes = 255;

const OutputTypeInfo outputTypes[] = {
    {"3GP_AMR_Profile.ini", 3, ".3gp", "Cell Phone 3GP  files (3GP + AMR)"},
    {"3GP_AAC_Profile.ini", 3, ".3gp", "Cell Phone 3GP  files (3GP + AAC)"},
    {"3GP2_AAC_Profile.ini", 5, ".3g2", "Cell Phone 3GP2 files (3GP2 + AAC)"},
};

// atoi: leading blanks, a sign, digits; anything else ends the number; no digits give 0.
int AsciiToInt(const QString &text)
{
    const QString s = text.trimmed();
    qsizetype i = 0;
    const bool negative = i < s.size() && s.at(i) == QLatin1Char('-');
    if (i < s.size() && (s.at(i) == QLatin1Char('-') || s.at(i) == QLatin1Char('+')))
        ++i;
    qint64 value = 0;
    for (; i < s.size() && s.at(i).isDigit() && s.at(i).unicode() < 128; ++i)
        value = qMin<qint64>(value * 10 + (s.at(i).unicode() - '0'), INT_MAX);
    return int(negative ? -value : value);
}

// Ends a tool and every process it started in its group (the group's id is the tool's pid),
// then reaps it. The group is signalled only while its leader is not yet reaped, so its id
// cannot have been given to anyone else.
void KillTool(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
#ifdef Q_OS_UNIX
    if (const qint64 pid = process.processId(); pid > 0)
        ::kill(pid_t(-pid), SIGKILL);
#endif
    process.kill();
    process.waitForFinished(-1);
}

int StartErrorCode(const QString &program)
{
    const QFileInfo info(program);
    if (program.isEmpty() || !info.exists())
        return ENOENT;
    if (!info.isExecutable() || info.isDir())
        return EACCES;
    return EIO;
}

} // namespace

ConversionEngine::ConversionEngine(EngineHost &host, TaskList &tasks) : host(host), tasks(tasks) {}

ConversionEngine::~ConversionEngine()
{
    KillRunningTools();
}

const OutputTypeInfo *ConversionEngine::OutputType(int outputType)
{
    if (outputType < 0 || outputType >= int(std::size(outputTypes)))
        return nullptr;
    return &outputTypes[outputType];
}

quint32 ConversionEngine::TickCount()
{
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// --- profile catalog

void ConversionEngine::LoadProfiles(int outputType)
{
    const OutputTypeInfo *type = OutputType(outputType);
    if (!type)
        return;
    QDir::setCurrent(AppFolder());
    iniReader.SetFile(QString::fromLatin1(type->profileFile));
    const QString info = QStringLiteral("Info");
    if (!iniReader.HasKeys(info))
        return;
    host.SetProfileDescription(iniReader.GetString(info, QStringLiteral("Description")));
    const int defaultProfile =
        AsciiToInt(iniReader.GetString(info, QStringLiteral("DefaultProfile")));
    host.ResetProfileList();
    const int n = iniReader.GetSectionNames(sectionNames);
    for (int i = 1; i < n; ++i)
        host.AddProfileRow(iniReader.GetString(sectionNames.at(i), QStringLiteral("Title")));
    // A default of 0, or past the last profile, selects nothing.
    const bool valid = defaultProfile >= 1 && defaultProfile <= n - 1;
    host.SetProfileSelection(valid ? defaultProfile - 1 : -1);
}

int ConversionEngine::LoadProfileCommands()
{
    profileKeys.clear();
    profileCommands.clear();
    const OutputTypeInfo *type = OutputType(host.SelectedOutputType());
    if (!type)
        return 0;
    QDir::setCurrent(AppFolder());
    iniReader.SetFile(QString::fromLatin1(type->profileFile));
    const int n = iniReader.GetSectionNames(sectionNames);
    const int row = host.SelectedProfileRow();
    // Row r is section r + 1; no selection would name the "Info" section itself.
    if (n <= 0 || row < 0 || row + 1 >= n)
        return 0;
    iniReader.GetSection(sectionNames.at(row + 1), profileKeys, profileCommands);
    return n;
}

QString ConversionEngine::PassTemplate(int pass) const
{
    if (pass < 1 || pass >= profileCommands.size())
        return QString();
    return profileCommands.at(pass);
}

bool ConversionEngine::ProfileHasPasses(int passCount) const
{
    return passCount >= 1 && profileCommands.size() > passCount;
}

// --- command templates

namespace {

CommandTemplate::Values CurrentValues(const TaskList &tasks, int index)
{
    const ConversionTask task = tasks.IsValidIndex(index) ? tasks.GetAt(index) : ConversionTask();
    return CommandTemplate::Values::For(task, outputFolder, QDateTime::currentDateTime());
}

} // namespace

QString ConversionEngine::ExpandCommand(const QString &commandTemplate) const
{
    return CommandTemplate::ExpandText(commandTemplate, CurrentValues(tasks, currentTaskIndex));
}

QStringList ConversionEngine::ExpandArguments(const QString &commandTemplate) const
{
    return CommandTemplate::ExpandArguments(commandTemplate,
                                            CurrentValues(tasks, currentTaskIndex));
}

QString ConversionEngine::ResolveProgram(const QString &name)
{
    if (name.isEmpty())
        return QString();
    const bool bare = !name.contains(QLatin1Char('/')) && !name.contains(QDir::separator());
    if (!bare)
        return name;
    const QFileInfo local(QDir::current(), name);
    if (local.isFile() && local.isExecutable())
        return local.absoluteFilePath();
    return QStandardPaths::findExecutable(name);
}

// --- progress

void ConversionEngine::ParseProgress(QByteArrayView chunk)
{
    const quint32 now = TickCount();
    if (!tasks.IsValidIndex(currentTaskIndex))
        return;
    ConversionTask task = tasks.GetAt(currentTaskIndex);
    const ProgressFields fields = ProgressFields::Read(chunk, previousChunkEnd);
    if (!chunk.isEmpty())
        previousChunkEnd = chunk.back();
    // A chunk in the same millisecond as the task's start has no rate: keep the last one.
    const quint32 elapsed = now - taskStartTick;
    if (fields.frames && elapsed != 0)
        task.framesPerSecond = *fields.frames * 1000.0 / double(elapsed);
    if (fields.sizeKB)
        task.sizeKB = *fields.sizeKB;
    if (fields.encodedSeconds)
        task.encodedSeconds = *fields.encodedSeconds;
    tasks.SetAt(currentTaskIndex, task);
    host.InvalidateCells(currentTaskIndex, currentTaskIndex, COL_PROGRESS, false);
}

// --- encoder tools

std::unique_ptr<QProcess> ConversionEngine::NewProcess()
{
    auto process = std::make_unique<QProcess>();
#ifdef Q_OS_LINUX
    // A tool must not outlive the program, whatever way the program ends; a program that
    // ended before the request took effect is no longer our parent. A process group of its
    // own keeps a terminal's Ctrl-C away from the tool: Stop decides how it ends.
    const pid_t parent = ::getpid();
    process->setChildProcessModifier([parent] {
        ::setpgid(0, 0);
        ::signal(SIGPIPE, SIG_DFL); // an ignored signal stays ignored across exec
        // Past a file-size limit a write then fails with a message in the tool's output,
        // instead of the tool vanishing without one.
        ::signal(SIGXFSZ, SIG_IGN);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    });
#endif
    return process;
}

bool ConversionEngine::StartTool(QProcess &process, const QStringList &arguments, RunResult &result)
{
    const QString program = arguments.isEmpty() ? QString() : ResolveProgram(arguments.first());
    if (program.isEmpty()) {
        result.errorText = QString::fromLocal8Bit(std::strerror(ENOENT));
        return false;
    }
    process.setProgram(program);
    process.setArguments(arguments.mid(1));
    process.start(QIODevice::ReadWrite);
    // Journaled as soon as the group exists, before the tool can start tools of its own.
    const qint64 forked = process.processId();
    if (forked > 0)
        journal.AddToolGroup(forked);
    if (!process.waitForStarted(-1)) {
        result.errorText = process.errorString();
        return false;
    }
    if (forked <= 0)
        journal.AddToolGroup(process.processId());
    result.started = true;
    return true;
}

void ConversionEngine::CollectEnd(const QProcess &process, RunResult &result)
{
    result.finished = process.state() == QProcess::NotRunning;
    if (!result.finished)
        return;
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = result.crashed ? -1 : process.exitCode();
}

void ConversionEngine::WaitForActivity(QProcess &process, int timeoutMs)
{
    // What the loop would wait for may have happened already while the caller served events:
    // its signal is gone then, and waiting would take the whole time-out.
    if (process.state() == QProcess::NotRunning || process.bytesAvailable() > 0)
        return;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    activeWaits.append(&loop);
    loop.exec();
    activeWaits.removeOne(&loop);
}

bool ConversionEngine::ReadEncoderChunks()
{
    char buffer[chunkBytes + 1];
    while (encoder && encoder->bytesAvailable() > 0) {
        const qint64 n = encoder->read(buffer, chunkBytes);
        if (n <= 0)
            break;
        const QByteArrayView chunk(buffer, n);
        encoderTail.Append(chunk);
        ParseProgress(chunk);
        host.PumpMessages();
        if (cancelRequested)
            return true;
    }
    return cancelRequested;
}

void ConversionEngine::DrainEncoder()
{
    if (encoder)
        encoderTail.Append(encoder->readAll());
}

void ConversionEngine::FinishPreviousEncoder()
{
    if (!IsEncoderRunning())
        return;
    RequestEncoderQuit();
    if (!WaitForEncoderEnd(previousEncoderGraceMs))
        KillRunningTools();
}

RunResult ConversionEngine::RunPipedProcess(const QStringList &arguments)
{
    RunResult result;
    if (encoderReading) { // a handler inside a running pass 1 cannot start another
        result.errorText = QStringLiteral("A first pass is already running");
        return result;
    }
    FinishPreviousEncoder();
    encoder = NewProcess();
    encoderStarted = false;
    encoderTail.Clear();
    previousChunkEnd = '\n';
    quitSent = false;
    readError.clear();
    encoder->setProcessChannelMode(QProcess::MergedChannels);
    QProcess *process = encoder.get();
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, [this] {
        if (!encoderReading) // nobody parses any more: keep the pipe empty
            DrainEncoder();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [this](QProcess::ProcessError e) {
        if (e == QProcess::ReadError && encoder)
            readError = encoder->errorString();
    });
    if (!StartTool(*process, arguments, result)) {
        LogApiError(QStringLiteral("CreateProcess"), StartErrorCode(process->program()),
                    result.errorText);
        return result;
    }
    encoderStarted = true;
    encoderReading = true;
    for (;;) {
        if (ReadEncoderChunks()) {
            result.cancelled = true;
            break;
        }
        if (process->state() == QProcess::NotRunning && process->bytesAvailable() == 0)
            break;
        WaitForActivity(*process, wakeIntervalMs);
    }
    encoderReading = false;
    if (!readError.isEmpty()) {
        LogApiError(QStringLiteral("ReadFile"), EIO, readError);
        result.errorText = readError;
    }
    CollectEnd(*process, result);
    result.quitRequested = quitSent;
    result.lastLines = encoderTail.Lines();
    return result;
}

RunResult ConversionEngine::RunProcessAndWait(const QStringList &arguments)
{
    RunResult result;
    if (waitingForLater) {
        result.errorText = QStringLiteral("A later pass is already running");
        return result;
    }
    laterPass = NewProcess();
    QProcess &process = *laterPass;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!StartTool(process, arguments, result))
        return result;
    waitingForLater = true;
    OutputTail tail;
    for (;;) {
        tail.Append(process.readAll());
        if (process.state() == QProcess::NotRunning)
            break;
        host.PumpMessages();
        if (cancelRequested) {
            KillTool(process);
            result.cancelled = true;
            break;
        }
        WaitForActivity(process, wakeIntervalMs);
    }
    waitingForLater = false;
    tail.Append(process.readAll());
    CollectEnd(process, result);
    result.lastLines = tail.Lines();
    return result;
}

void ConversionEngine::RequestEncoderQuit()
{
    if (quitSent || !IsEncoderRunning())
        return;
    quitSent = true;
    encoder->write("q", 1);
    encoder->waitForBytesWritten(wakeIntervalMs);
    encoder->closeWriteChannel();
}

void ConversionEngine::RequestCancel()
{
    cancelRequested = true;
    for (QEventLoop *loop : std::as_const(activeWaits))
        loop->quit();
}

bool ConversionEngine::IsEncoderRunning() const
{
    return encoder && encoder->state() != QProcess::NotRunning;
}

bool ConversionEngine::WaitForEncoderEnd(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (IsEncoderRunning() && !deadline.hasExpired()) {
        // Drained even under a reading RunPipedProcess (a Stop nested in it): that one only
        // returns, unread output would keep the wait below from sleeping, and the tail keeps
        // the last lines for the log anyway.
        DrainEncoder();
        const qint64 left = deadline.isForever() ? wakeIntervalMs : deadline.remainingTime();
        WaitForActivity(*encoder, int(std::clamp<qint64>(left, 1, wakeIntervalMs)));
    }
    if (encoder && !encoderReading)
        DrainEncoder();
    return !IsEncoderRunning();
}

RunResult ConversionEngine::EncoderState() const
{
    RunResult result;
    if (!encoder)
        return result;
    result.started = encoderStarted;
    if (encoderStarted)
        CollectEnd(*encoder, result);
    result.quitRequested = quitSent;
    result.lastLines = encoderTail.Lines();
    return result;
}

void ConversionEngine::KillRunningTools()
{
    for (QProcess *process : {encoder.get(), laterPass.get()})
        if (process)
            KillTool(*process);
}

// --- error log

QString ConversionEngine::FormatLogEntry(const QString &apiName, int errorCode,
                                         const QString &message)
{
    return QStringLiteral("ERROR:   API         =   %1.\n"
                          "       error   code   =   %2.\n"
                          "       message         =   %3.\n")
        .arg(apiName, QString::number(errorCode), message);
}

void ConversionEngine::LogApiError(const QString &apiName, int errorCode, const QString &systemText)
{
    AppendToLog(FormatLogEntry(apiName, errorCode, systemText));
}

void ConversionEngine::LogApiError(const QString &apiName)
{
    const int code = errno;
    LogApiError(apiName, code, QString::fromLocal8Bit(std::strerror(code)));
}

void ConversionEngine::AppendToLog(const QString &text, const QString &folder)
{
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text;
    QFile file(folder.isEmpty() ? QStringLiteral("log.txt") : folder + QStringLiteral("/log.txt"));
    if (!file.open(mode)) {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        if (data.isEmpty() || !QDir().mkpath(data))
            return;
        file.setFileName(data + QStringLiteral("/log.txt"));
        if (!file.open(mode))
            return;
    }
    file.write(text.toUtf8());
}

QStringList ConversionEngine::RecoverInterruptedBatches()
{
    const BatchJournal::Recovery recovery = BatchJournal::RecoverAbandoned();
    if (recovery.removedFiles.isEmpty() && recovery.killedProcesses == 0)
        return {};
    QString entry = QStringLiteral("NOTE:    a batch was interrupted (its program was killed); "
                                   "what it left is cleaned up.\n"
                                   "       tools ended     =   %1.\n")
                        .arg(recovery.killedProcesses);
    for (const QString &path : recovery.removedFiles)
        entry += QStringLiteral("       removed         =   %1\n").arg(path);
    AppendToLog(entry, AppFolder());
    return recovery.removedFiles;
}

// --- batch driver

namespace {

// What tells that the source is still the file the first pass began to read.
struct SourceStamp {
    bool exists = false;
    qint64 size = -1;
    QDateTime modified;
    quint64 inode = 0;

    static SourceStamp Of(const QString &path)
    {
        const QFileInfo info(path);
        SourceStamp stamp{info.exists(), info.size(), info.lastModified(), 0};
#ifdef Q_OS_UNIX
        struct stat st {
        };
        if (::stat(QFile::encodeName(path).constData(), &st) == 0)
            stamp.inode = quint64(st.st_ino);
#endif
        return stamp;
    }
    bool operator==(const SourceStamp &o) const
    {
        return exists == o.exists && size == o.size && modified == o.modified && inode == o.inode;
    }
};

// A line where the tool says it could not write its file. ffmpeg reports a full disk or a
// file-size limit met while it closes its file, and may still end with exit code 0.
QString WriteErrorLine(const QStringList &lines)
{
    QStringList signs{QStringLiteral("Error writing trailer"),
                      QStringLiteral("Error closing file")};
    for (int code : {ENOSPC, EFBIG, EROFS, EDQUOT})
        signs.append(QString::fromLocal8Bit(std::strerror(code)));
    for (const QString &line : lines)
        for (const QString &sign : std::as_const(signs))
            if (line.contains(sign))
                return line.trimmed();
    return QString();
}

QString OutputFolderProblem(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("the output folder %1 no longer exists").arg(folder);
    QTemporaryFile probe(folder + QStringLiteral(".kestrani-XXXXXX"));
    if (!probe.open())
        return QStringLiteral("the output folder %1 cannot be written any more: %2")
            .arg(folder, probe.errorString());
    return QString();
}

const char *const emptyFolderText = "  Please set the output directory firstly   ";
const char *const missingFolderText = "  The output directory \"%1\" does not exist   ";
const char *const unwritableFolderText = "  The output directory \"%1\" cannot be written   ";
const char *const finishedText = "                   Converting Finished                    ";
// How long pass 1 may take to close its file after "q" before Stop kills it. ffmpeg needs a
// fraction of a second; the rest is room for a loaded machine.
constexpr int quitGraceMs = 3000;

// The state a pass sets just before its tool starts; -1: the state stays.
int StateBeforePass(int pass)
{
    switch (pass) {
    case 1:
        return TASK_ENCODING;
    case 2:
        return TASK_EXPORTING;
    case 4:
        return TASK_CHANGING;
    default:
        return -1;
    }
}

QString EndStatus(const RunResult &result)
{
    if (!result.started)
        return QStringLiteral("the tool did not start: %1").arg(result.errorText);
    if (!result.finished)
        return QStringLiteral("the tool did not end");
    if (result.crashed)
        return QStringLiteral("the tool ended abnormally (crashed or killed)");
    return QStringLiteral("the tool ended with exit code %1").arg(result.exitCode);
}

} // namespace

void ConversionEngine::OnStartClicked()
{
    if (converting == 1)
        return;
    const int n = tasks.Count(); // taken once: the loop runs over these tasks
    if (n < 1)
        return;
    host.StopPreview();
    // Not cut to the edit's old 259 characters: the text names the folder the files go to.
    if (!CheckOutputFolder(host.OutputDirectoryText()))
        return;
    QDir::setCurrent(AppFolder());
    converting = 1;
    host.ShowConvertingButtons(true);
    cancelRequested = false;
    ResetTaskProgress();
    host.EnableOutputSettings(false);
    PlanOutputNames();
    for (int i = 0; i < n && tasks.IsValidIndex(i); ++i) {
        currentTaskIndex = i;
        taskStartTick = TickCount();
        const bool completed = RunTaskPasses();
        EndTaskJournal(completed && !cancelRequested);
        if (cancelRequested)
            break;
        if (completed) {
            ConversionTask task = tasks.GetAt(i);
            task.finished = 1;
            tasks.SetAt(i, task);
            host.InvalidateCells(i, i, COL_PROGRESS, false);
        }
    }
    KillRunningTools(); // every pass has ended by now; no tool may outlive its batch
    host.EnableOutputSettings(true);
    converting = 0;
    host.ShowConvertingButtons(false);
    if (!cancelRequested && host.ShutdownAfterBatch()) {
        ShutdownComputer(host);
        return;
    }
    host.ShowMessage(QString::fromLatin1(finishedText), QStringLiteral("Information"),
                     EngineHost::MessageIcon::Information);
}

bool ConversionEngine::CheckOutputFolder(const QString &folderText)
{
    const auto showError = [this](const QString &text) {
        host.ShowMessage(text, QStringLiteral("Error"), EngineHost::MessageIcon::Error);
        return false;
    };
    if (folderText.isEmpty())
        return showError(QString::fromLatin1(emptyFolderText));
    const QFileInfo folder(folderText);
    if (!folder.isDir())
        return showError(QString::fromLatin1(missingFolderText).arg(folderText));
    // Permission bits do not tell about read-only mounts and access lists: try it.
    const QString path = WithTrailingSeparator(QDir::toNativeSeparators(folder.absoluteFilePath()));
    QTemporaryFile probe(path + QStringLiteral(".kestrani-XXXXXX"));
    if (!probe.open())
        return showError(QString::fromLatin1(unwritableFolderText).arg(folderText));
    // The files go where the check was made, however the page keeps its copy of the path.
    outputFolder = path;
    return true;
}

void ConversionEngine::OnStopClicked()
{
    // A second Stop, nested in the first one's wait or later, has nothing left to do.
    if (converting != 1 || cancelRequested)
        return;
    RequestCancel();
    const int state =
        tasks.IsValidIndex(currentTaskIndex) ? tasks.GetAt(currentTaskIndex).state : TASK_IDLE;
    if (state == TASK_ENCODING) {
        RequestEncoderQuit();
        WaitForEncoderEnd(quitGraceMs);
    }
    // Files are deleted only once no tool can write them any more, or create them again.
    KillRunningTools();
    RemoveStoppedFiles(state, host.SelectedOutputType());
}

void ConversionEngine::RemoveStoppedFiles(int state, int outputType)
{
    if (state != TASK_ENCODING && state != TASK_EXPORTING && state != TASK_CHANGING)
        return;
    TaskFiles::Remove(currentFiles.FirstTemporary());
    if (state == TASK_EXPORTING && (outputType == 0 || outputType == 1))
        TaskFiles::Remove(currentFiles.Output(outputType));
    if ((state == TASK_EXPORTING && outputType == 2) || state == TASK_CHANGING)
        TaskFiles::Remove(currentFiles.SecondTemporary());
    if (state == TASK_CHANGING)
        TaskFiles::Remove(currentFiles.Output(2));
    currentFiles.RemoveNewScratch();
}

bool ConversionEngine::RunTaskPasses()
{
    currentPass = 0;
    if (!tasks.IsValidIndex(currentTaskIndex))
        return false;
    const ConversionTask task = tasks.GetAt(currentTaskIndex);
    const int outputType = host.SelectedOutputType();
    const OutputTypeInfo *type = OutputType(outputType);
    currentFiles = TaskFiles(outputFolder, task.outputName);
    if (LoadProfileCommands() <= 0 || !type || !ProfileHasPasses(type->passCount))
        return FailTask(0, QStringLiteral("no usable profile: none is selected, or the selected "
                                          "one has fewer entries than the passes need"));
    if (!(task.endSeconds - task.beginSeconds > 0.0))
        return FailTask(0, QStringLiteral("nothing to convert: the clip length is 0 (the file "
                                          "could not be read, or begin and end are equal)"));
    if (const QString problem = TaskStartProblem(outputType); !problem.isEmpty())
        return FailTask(0, problem);
    currentFiles.RememberScratch();
    journal.BeginTask(currentFiles.Paths(outputType), currentFiles);
    taskJournaled = true;
    const SourceStamp source = SourceStamp::Of(task.sourcePath);
    for (int pass = 1; pass <= type->passCount; ++pass) {
        currentPass = pass;
        const QString commandTemplate = PassTemplate(pass);
        const RunResult result = RunPass(pass, commandTemplate);
        if (cancelRequested) {
            currentPass = 0;
            SetTaskState(TASK_CANCELED);
            return false;
        }
        if (!result.Succeeded())
            return FailTask(pass, EndStatus(result), ExpandCommand(commandTemplate),
                            result.lastLines);
        if (const QString line = WriteErrorLine(result.lastLines); !line.isEmpty())
            return FailTask(pass, QStringLiteral("the tool could not write its file: %1").arg(line),
                            ExpandCommand(commandTemplate), result.lastLines);
        // A source cut short or replaced while it was read gives an output that looks whole
        // but is not the file the user chose; a removed one may be read to its end, yet the
        // user took it away mid-conversion.
        if (pass == 1 && !(SourceStamp::Of(task.sourcePath) == source))
            return FailTask(pass,
                            QStringLiteral("the source file was removed, truncated or replaced "
                                           "while it was converted"),
                            ExpandCommand(commandTemplate), result.lastLines);
        if (pass == 3)
            TaskFiles::Remove(currentFiles.FirstTemporary());
        if (pass == 5)
            TaskFiles::Remove(currentFiles.SecondTemporary());
    }
    currentPass = 0;
    const QFileInfo output(currentFiles.Output(outputType));
    if (!output.isFile() || output.size() <= 0)
        return FailTask(type->passCount,
                        QStringLiteral("every tool succeeded, but the output file %1 is missing "
                                       "or empty")
                            .arg(output.filePath()));
    return true;
}

QString ConversionEngine::TaskStartProblem(int outputType) const
{
    if (const QString problem = OutputFolderProblem(outputFolder); !problem.isEmpty())
        return problem;
    // The names were free when the batch planned them; a file that took one since is not ours
    // and must neither be overwritten nor cleaned up as ours.
    for (const QString &path : currentFiles.Paths(outputType)) {
        const QFileInfo info(path);
        if (info.exists() || info.isSymLink())
            return QStringLiteral("the file %1 appeared in the output folder after the batch "
                                  "began; it is left as it is")
                .arg(path);
    }
    return QString();
}

void ConversionEngine::EndTaskJournal(bool completed)
{
    if (!taskJournaled)
        return;
    taskJournaled = false;
    const QString output = currentFiles.Output(host.SelectedOutputType());
    QStringList leftovers;
    for (const QString &path : currentFiles.Paths(host.SelectedOutputType()))
        if ((!completed || path != output) &&
            (QFileInfo::exists(path) || QFileInfo(path).isSymLink()))
            leftovers.append(path);
    journal.EndTask(leftovers);
    if (leftovers.isEmpty())
        return;
    QString entry = QStringLiteral("ERROR:   TASK        =   %1 (%2).\n")
                        .arg(currentTaskIndex + 1)
                        .arg(tasks.GetAt(currentTaskIndex).sourcePath);
    for (const QString &path : std::as_const(leftovers))
        entry += QStringLiteral("       not removed     =   %1 (the next start tries again)\n")
                     .arg(path);
    AppendToLog(entry);
}

RunResult ConversionEngine::RunPass(int pass, const QString &commandTemplate)
{
    const QStringList arguments = ExpandArguments(commandTemplate);
    const int state = StateBeforePass(pass);
    if (state >= 0)
        SetTaskState(state);
    if (pass != 1)
        return RunProcessAndWait(arguments);
    const RunResult result = RunPipedProcess(arguments);
    if (!cancelRequested)
        RequestEncoderQuit();
    return result;
}

bool ConversionEngine::FailTask(int pass, const QString &status, const QString &command,
                                const QStringList &lastLines)
{
    currentPass = 0;
    if (pass > 0) {
        // Whatever the task's tools left is unfinished: it must not look like a converted
        // file. Its names were reserved for this task, so nothing else is touched.
        KillRunningTools();
        for (const QString &path : currentFiles.Paths(host.SelectedOutputType()))
            TaskFiles::Remove(path);
        currentFiles.RemoveNewScratch();
    }
    AppendToLog(FormatTaskFailure(currentTaskIndex, tasks.GetAt(currentTaskIndex), pass, status,
                                  command, lastLines));
    SetTaskState(TASK_FAILED);
    return false;
}

QString ConversionEngine::FormatTaskFailure(int taskIndex, const ConversionTask &task, int pass,
                                            const QString &status, const QString &command,
                                            const QStringList &lastLines)
{
    QString entry = QStringLiteral("ERROR:   TASK        =   %1 (%2).\n"
                                   "       pass            =   %3.\n"
                                   "       status          =   %4.\n")
                        .arg(QString::number(taskIndex + 1), task.sourcePath,
                             pass > 0 ? QString::number(pass) : QStringLiteral("none"), status);
    if (!command.isEmpty())
        entry += QStringLiteral("       command         =   %1\n").arg(command);
    if (!lastLines.isEmpty()) {
        entry += QStringLiteral("       last output     =\n");
        for (const QString &line : lastLines)
            entry += QStringLiteral("           %1\n").arg(line);
    }
    return entry;
}

void ConversionEngine::SetTaskState(int state)
{
    if (!tasks.IsValidIndex(currentTaskIndex))
        return;
    ConversionTask task = tasks.GetAt(currentTaskIndex);
    task.state = state;
    tasks.SetAt(currentTaskIndex, task);
    host.InvalidateCells(currentTaskIndex, currentTaskIndex, COL_PROGRESS, false);
}

void ConversionEngine::ResetTaskProgress()
{
    for (int i = 0; i < tasks.Count(); ++i) {
        ConversionTask task = tasks.GetAt(i);
        task.finished = 0;
        task.sizeKB = 0;
        task.framesPerSecond = 0.0;
        task.encodedSeconds = 0.0;
        tasks.SetAt(i, task);
    }
}

void ConversionEngine::PlanOutputNames()
{
    OutputNamePlanner planner(outputFolder, host.SelectedOutputType());
    for (int i = 0; i < tasks.Count(); ++i) {
        ConversionTask task = tasks.GetAt(i);
        task.outputName = planner.Claim(task);
        tasks.SetAt(i, task);
    }
    if (tasks.Count() > 0)
        host.InvalidateCells(0, tasks.Count() - 1, COL_OUTPUT, false);
}

QList<QStringList> ConversionEngine::TaskCommands(int index)
{
    QList<QStringList> commands;
    const OutputTypeInfo *type = OutputType(host.SelectedOutputType());
    const int saved = currentTaskIndex;
    currentTaskIndex = index;
    if (tasks.IsValidIndex(index) && type && LoadProfileCommands() > 0 &&
        ProfileHasPasses(type->passCount)) {
        for (int pass = 1; pass <= type->passCount; ++pass) {
            QStringList arguments = ExpandArguments(PassTemplate(pass));
            const QString program = arguments.isEmpty() ? QString() : ResolveProgram(arguments[0]);
            if (!program.isEmpty())
                arguments[0] = program;
            commands.append(arguments);
        }
    }
    currentTaskIndex = saved;
    return commands;
}
