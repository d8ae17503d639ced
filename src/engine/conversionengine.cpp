#include "conversionengine.h"

#include "commandtemplate.h"
#include "enginehost.h"
#include "globals.h"
#include "progressfields.h"
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
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#ifdef Q_OS_LINUX
#include <csignal>
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
    {"3GP_AMR_Profile.ini", 3, ".3gp"},
    {"3GP_AAC_Profile.ini", 3, ".3gp"},
    {"3GP2_AAC_Profile.ini", 5, ".3g2"},
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
    // A tool must not outlive the program, whatever way the program ends.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
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
    if (!process.waitForStarted(-1)) {
        result.errorText = process.errorString();
        return false;
    }
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
            process.kill();
            process.waitForFinished(-1);
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
        if (!encoderReading)
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
    for (QProcess *process : {encoder.get(), laterPass.get()}) {
        if (process && process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(-1);
        }
    }
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

void ConversionEngine::AppendToLog(const QString &text)
{
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text;
    QFile file(QStringLiteral("log.txt"));
    if (!file.open(mode)) {
        const QString folder =
            QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        if (folder.isEmpty() || !QDir().mkpath(folder))
            return;
        file.setFileName(folder + QStringLiteral("/log.txt"));
        if (!file.open(mode))
            return;
    }
    file.write(text.toUtf8());
}
