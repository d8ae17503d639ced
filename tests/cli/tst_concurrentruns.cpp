// SPDX-License-Identifier: GPL-3.0-or-later
// Many kestrani-cli runs writing into one folder at the same time, as a script, GNU parallel or
// a cluster's job array starts them: every run keeps its output under a name of its own, every
// output is whole, and nothing of a run's intermediates stays behind.
#include "outputcheck.h"
#include "outputtypes.h"
#include "testfiles.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString cli = QStringLiteral(KESTRANI_PROGRAM_DIR "/kestrani-cli");
constexpr double clipSeconds = 0.6;

} // namespace

class TestConcurrentRuns : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString clip;
    int folders = 0;

    QString NewFolder() { return NewNumberedFolder(dir, folders); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        clip = dir.filePath("movie.mp4");
        QVERIFY(MakeToneClip(clip, clipSeconds, "160x120"));
        // A second source of the same name in another folder.
        QDir().mkpath(dir.filePath("other"));
        QVERIFY(QFile::copy(clip, dir.filePath("other/movie.mp4")));
    }

    void everyRunKeepsItsOwnOutput_data()
    {
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("twoSources");      // half the runs convert other/movie.mp4
        QTest::addColumn<int>("tasksPerRun");      // the same file named this often, -j 2
        QTest::addColumn<bool>("throughParallel"); // started by GNU parallel
        QTest::newRow("the same clip, two runs at once") << 2 << 0 << false << 1 << false;
        QTest::newRow("the same clip, six runs at once") << 6 << 1 << false << 1 << false;
        QTest::newRow("two sources named alike, from two folders") << 4 << 2 << true << 1 << false;
        QTest::newRow("runs with tasks side by side") << 3 << 0 << false << 2 << false;
        QTest::newRow("fifty runs under GNU parallel") << 50 << 0 << true << 1 << true;
    }
    void everyRunKeepsItsOwnOutput()
    {
        QFETCH(int, runs);
        QFETCH(int, type);
        QFETCH(bool, twoSources);
        QFETCH(int, tasksPerRun);
        QFETCH(bool, throughParallel);
        const QString out = NewFolder();
        const QStringList options{"-t", QString::number(type), "-p", "1", "-o", out, "-j", "2"};
        const auto sourceOf = [&](int run) {
            return twoSources && run % 2 ? dir.filePath("other/movie.mp4") : clip;
        };
        if (throughParallel) {
            const QString parallel = QStandardPaths::findExecutable("parallel");
            if (parallel.isEmpty())
                QSKIP("GNU parallel is not installed");
            QStringList arguments{"--will-cite",         "--halt", "never", "-j",
                                  QString::number(runs), cli};
            arguments << options << ":::";
            for (int run = 0; run < runs; ++run)
                arguments << sourceOf(run);
            QProcess process;
            process.start(parallel, arguments);
            QVERIFY(process.waitForFinished(300000));
            QCOMPARE(process.exitCode(), 0);
        } else {
            QList<QProcess *> processes;
            for (int run = 0; run < runs; ++run) {
                auto *process = new QProcess(this);
                QStringList arguments = options;
                for (int i = 0; i < tasksPerRun; ++i)
                    arguments << sourceOf(run);
                process->start(cli, arguments);
                processes.append(process);
            }
            for (QProcess *process : std::as_const(processes)) {
                QVERIFY(process->waitForFinished(300000));
                QCOMPARE(process->exitCode(), 0);
                delete process;
            }
        }

        const OutputType *outputType = OutputType::Find(type);
        QStringList expected;
        for (int n = 1; n <= runs * tasksPerRun; ++n)
            expected << (n == 1 ? QStringLiteral("movie") : QStringLiteral("movie (%1)").arg(n)) +
                            outputType->Extension();
        expected.sort();
        QCOMPARE(FilesIn(out), expected);
        OutputExpectation whole;
        whole.brands = outputType->Brands();
        whole.durationSeconds = clipSeconds;
        whole.expectSound = true;
        for (const QString &name : std::as_const(expected))
            QCOMPARE(OutputCheck::Verify(out + "/" + name, whole), QString());
    }
};

QTEST_GUILESS_MAIN(TestConcurrentRuns)
#include "tst_concurrentruns.moc"
