// SPDX-License-Identifier: GPL-3.0-or-later
// What kestrani-cli costs on top of the tools it runs. A batch of small files goes once through
// kestrani-cli and once through a shell script that runs the same commands, taken from
// `kestrani-cli --print-commands`, one after another (deleting the intermediates where the
// batch does). Printed: both wall times, their ratio, and kestrani-cli's own processor time
// (its children's not counted) as a share of its batch's wall time; then the same for many
// tiny files, as the overhead per task.
//
//   bench_batch [FILES [TYPE [PROFILE]]]   (default: 8 files of 30 s 640x480, type 0, its
//                                           default profile; then 100 files of 0.2 s)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const QString cli = QStringLiteral(KESTRANI_PROGRAM_DIR "/kestrani-cli");

struct Run {
    double wallSeconds = 0.0;
    double ownCpuSeconds = 0.0; // the program's own user and system time
    int exitCode = -1;
};

// Starts a program with its output discarded and waits for it; reads its own processor
// time while it is a zombie, before it is reaped, when the kernel still has it apart from
// its children's.
Run Spawn(const QStringList &arguments)
{
    QList<QByteArray> bytes;
    for (const QString &a : arguments)
        bytes.append(a.toUtf8());
    QList<char *> argv;
    for (QByteArray &b : bytes)
        argv.append(b.data());
    argv.append(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed)
        return run;
    siginfo_t info{};
    waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT);
    run.wallSeconds = clock.elapsed() / 1000.0;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        // After "pid (name)": state is field 0 here, utime 11 and stime 12.
        const double ticks = double(sysconf(_SC_CLK_TCK));
        run.ownCpuSeconds = (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

QString ShellQuoted(const QString &argument)
{
    QString quoted = argument;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// The printed commands as a shell script, with the driver's deletions after passes 3 and 5.
bool WriteScript(const QString &path, const QStringList &cliArguments, int passes,
                 const QString &outputDir, const QStringList &baseNames)
{
    QProcess print;
    print.start(cli, cliArguments + QStringList{"--print-commands"});
    if (!print.waitForFinished(60000) || print.exitCode() != 0)
        return false;
    const QList<QByteArray> lines = print.readAllStandardOutput().split('\n');
    QString script;
    int pass = 0, task = 0;
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        QStringList words;
        for (const QJsonValue &v : QJsonDocument::fromJson(line).array())
            words.append(ShellQuoted(v.toString()));
        script += words.join(QLatin1Char(' ')) + QStringLiteral(" </dev/null >/dev/null 2>&1\n");
        ++pass;
        const QString base = outputDir + QLatin1Char('/') + baseNames.value(task);
        if (pass == 3)
            script += QStringLiteral("rm -f %1\n").arg(ShellQuoted(base + "_temp.3gp"));
        if (pass == 5)
            script += QStringLiteral("rm -f %1\n").arg(ShellQuoted(base + "_temp_2.3g2"));
        if (pass == passes) {
            pass = 0;
            ++task;
        }
    }
    QFile file(path);
    return task == baseNames.size() && file.open(QIODevice::WriteOnly) &&
           file.write(script.toUtf8()) > 0;
}

bool MakeClips(const QString &folder, int count, double seconds, const QString &size,
               QStringList &paths, QStringList &baseNames)
{
    const QString first = folder + QStringLiteral("/clip000.mp4");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                            "testsrc2=size=" + size + ":rate=25", "-f", "lavfi", "-i",
                            "sine=sample_rate=44100", "-t", QString::number(seconds), "-c:v",
                            "mpeg4", "-c:a", "aac", first});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return false;
    for (int i = 0; i < count; ++i) {
        const QString base = QStringLiteral("clip%1").arg(i, 3, 10, QLatin1Char('0'));
        const QString path = folder + QLatin1Char('/') + base + QStringLiteral(".mp4");
        if (i > 0 && !QFile::copy(first, path))
            return false;
        paths.append(path);
        baseNames.append(base);
    }
    return true;
}

void ClearFolder(const QString &folder)
{
    QDir dir(folder);
    dir.removeRecursively();
    QDir().mkpath(folder);
}

// Runs the batch `rounds` times each way, alternating, and prints the best of each.
bool Measure(const QString &title, int count, double seconds, const QString &size, int type,
             int profile, int rounds)
{
    QTemporaryDir dir;
    QStringList sources, baseNames;
    if (!dir.isValid() || !MakeClips(dir.path(), count, seconds, size, sources, baseNames))
        return false;
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    QStringList arguments{"-t", QString::number(type), "-o", out};
    if (profile > 0)
        arguments << "-p" << QString::number(profile);
    arguments += sources;
    const int passes = type == 2 ? 5 : 3;
    const QString script = dir.filePath("batch.sh");
    if (!WriteScript(script, arguments, passes, out, baseNames))
        return false;
    Run bestScript, bestCli;
    bestScript.wallSeconds = bestCli.wallSeconds = 1e9;
    for (int round = 0; round < rounds; ++round) {
        ClearFolder(out);
        const Run s = Spawn({"/bin/sh", script});
        ClearFolder(out);
        const Run c = Spawn(QStringList{cli} + arguments);
        if (c.exitCode != 0 || s.exitCode != 0) {
            std::fprintf(stderr, "a batch failed (script %d, kestrani-cli %d)\n", s.exitCode,
                         c.exitCode);
            return false;
        }
        if (s.wallSeconds < bestScript.wallSeconds)
            bestScript = s;
        if (c.wallSeconds < bestCli.wallSeconds)
            bestCli = c;
    }
    std::printf("%s: %d files of %.1f s %s, type %d, profile %s, best of %d\n", qPrintable(title),
                count, seconds, qPrintable(size), type,
                profile > 0 ? qPrintable(QString::number(profile)) : "default", rounds);
    std::printf("  shell script   %8.3f s wall\n", bestScript.wallSeconds);
    std::printf("  kestrani-cli   %8.3f s wall, own processor time %.3f s = %.3f %% of its wall "
                "time\n",
                bestCli.wallSeconds, bestCli.ownCpuSeconds,
                100.0 * bestCli.ownCpuSeconds / bestCli.wallSeconds);
    std::printf("  wall-time ratio kestrani-cli / script: %.4f\n",
                bestCli.wallSeconds / bestScript.wallSeconds);
    std::printf("  per task: %+.1f ms wall, %.2f ms own processor time\n",
                1000.0 * (bestCli.wallSeconds - bestScript.wallSeconds) / count,
                1000.0 * bestCli.ownCpuSeconds / count);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int files = args.value(1, "8").toInt();
    const int type = args.value(2, "0").toInt();
    const int profile = args.value(3, "0").toInt();
    if (!Measure("small files", files, 30.0, "640x480", type, profile, 3))
        return 1;
    if (!Measure("tiny files", 100, 0.2, "96x64", type, 1, 2))
        return 1;
    return 0;
}
