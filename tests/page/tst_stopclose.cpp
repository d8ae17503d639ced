// SPDX-License-Identifier: GPL-3.0-or-later
// Stop, and closing the window, in every state of every output type, with tasks side by side,
// and at random moments, from the real window with the shipped profiles and tools: afterwards no
// file of an interrupted task is left (only finished tasks' outputs), no tool runs, the tasks
// not started are untouched, and the next batch converts as usual.
#include "outputtypes.h"
#include "pagetesting.h"
#include "tasklist.h"

#include <QComboBox>
#include <QListWidget>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QtTest>

#include <functional>

#include "testfiles.h"

using namespace PageTesting;

namespace {

// Runs `probe` on every pass of the event loop while it lives: the batch runs in the event
// loop, so the probe sees every state the rows go through.
class EventProbe : public QObject
{
public:
    explicit EventProbe(std::function<void()> probe) : probe(std::move(probe))
    {
        timer.setInterval(0);
        connect(&timer, &QTimer::timeout, this, [this] { this->probe(); });
        timer.start();
    }

private:
    std::function<void()> probe;
    QTimer timer;
};

enum class Act { Stop, Close };

} // namespace

class TestStopClose : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QTemporaryDir settingsDir;
    QString outDir;
    QStringList clips;
    int runningAtInterrupt = 0;

    QStringList OutputFiles() const
    {
        return QDir(outDir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    void ClearOutput()
    {
        QDir out(outDir);
        for (const QString &name : out.entryList(QDir::Files | QDir::Hidden))
            out.remove(name);
    }

    static void Prepare(Window &w, int outputType, int simultaneous = 1)
    {
        QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
        qobject_cast<QComboBox *>(w.item(1061))->setCurrentIndex(outputType);
        qobject_cast<QListWidget *>(w.item(1065))->setCurrentRow(0);
        qobject_cast<QSpinBox *>(w.item(1072))->setValue(simultaneous);
    }

    // Start returns at once; the batch ends later, in the event loop.
    static bool WaitForBatchEnd(Window &w)
    {
        return QTest::qWaitFor([&] { return !w.page().IsConverting(); }, 60000);
    }

    // The files a finished task may leave: its output. Anything else is left over.
    QStringList FilesOfFinishedTasks(Window &w, int outputType)
    {
        QStringList files;
        const QString extension = OutputType::Find(outputType)->Extension();
        for (int row = 0; row < w.page().Tasks().Count(); ++row) {
            const ConversionTask task = w.page().Tasks().GetAt(row);
            if (task.finished == 1)
                files.append(task.outputName + extension);
        }
        files.sort();
        return files;
    }

    // A whole batch in a fresh window: every task ends finished.
    void NextBatchConverts(int outputType)
    {
        ClearOutput();
        Window w;
        Prepare(w, outputType);
        w.add(clips);
        MessageBoxCloser boxes;
        QTest::mouseClick(w.item(1048), Qt::LeftButton);
        QVERIFY(WaitForBatchEnd(w));
        for (int row = 0; row < clips.size(); ++row)
            QCOMPARE(w.page().Tasks().GetAt(row).finished, 1);
        QCOMPARE(OutputFiles(), FilesOfFinishedTasks(w, outputType));
        QCOMPARE(ChildProcesses(), QList<int>{});
        QCOMPARE(ProcessesUsing(outDir), QStringList{});
        ClearOutput();
    }

    // Starts a batch of the clips and acts when `when` first holds; then checks what is left:
    // the tasks running then are cancelled, those after them untouched.
    void RunAndInterrupt(int outputType, Act act, const std::function<bool(Window &)> &when,
                         int simultaneous = 1)
    {
        ClearOutput();
        Window w;
        Prepare(w, outputType, simultaneous);
        w.add(clips);
        MessageBoxCloser boxes;
        bool acted = false;
        QList<int> running; // the rows converting when it acted
        EventProbe probe([&] {
            if (acted || !w.page().IsConverting() || !when(w))
                return;
            acted = true;
            for (int row = 0; row < clips.size(); ++row) {
                const ConversionTask task = w.page().Tasks().GetAt(row);
                if (task.finished == 0 && task.state >= TASK_ENCODING &&
                    task.state <= TASK_CHANGING)
                    running.append(row);
            }
            if (act == Act::Stop)
                QTest::mouseClick(w.item(1049), Qt::LeftButton);
            else
                w.frame->close();
        });
        QTest::mouseClick(w.item(1048), Qt::LeftButton);
        QVERIFY(WaitForBatchEnd(w));
        if (act == Act::Close && acted)
            QTRY_VERIFY(!w.frame->isVisible());
        const QStringList left = OutputFiles();
        QVERIFY2(left == FilesOfFinishedTasks(w, outputType), qPrintable(left.join(", ")));
        QCOMPARE(ChildProcesses(), QList<int>{});
        QCOMPARE(ProcessesUsing(outDir), QStringList{});
        runningAtInterrupt = int(running.size());
        if (!acted)
            return;
        for (int row = 0; row < clips.size(); ++row) {
            const ConversionTask task = w.page().Tasks().GetAt(row);
            if (running.contains(row))
                QCOMPARE(task.state, int(TASK_CANCELED));
            else if (row > running.value(running.size() - 1, -1) && task.finished == 0)
                QCOMPARE(task.state, int(TASK_IDLE));
        }
        if (act == Act::Stop) { // the closing message; a closed window shows none
            QTRY_COMPARE(boxes.texts.size(), 1);
            QCOMPARE(boxes.captions, QStringList{"Information"});
        }
    }

private slots:
    void initTestCase()
    {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/kestrani-test-bus");
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8()); // the batch journals
        // Stop right after Start is meant here, not a double-click's second click.
        QApplication::setDoubleClickInterval(0);
        QVERIFY(dir.isValid() && settingsDir.isValid());
        UseSettingsFolder(settingsDir.path());
        // The shipped profiles and our own tools, as the program has them.
        const QString app = dir.filePath("program/app/");
        QVERIFY(QDir().mkpath(app));
        const QDir built(QStringLiteral(KESTRANI_PROGRAM_DIR "/app"));
        for (const QString &name : built.entryList(QDir::Files))
            if (name != QLatin1String("log.txt"))
                QVERIFY(QFile::link(built.filePath(name), app + name));
        programFolder = WithTrailingSeparator(dir.filePath("program"));
        clips << MakeClip(dir.path(), "first.mp4", 1.0) << MakeClip(dir.path(), "second.mp4", 1.0)
              << MakeClip(dir.path(), "third.mp4", 1.0);
        QVERIFY(!clips.contains(QString()));
        outDir = dir.filePath("out");
        QVERIFY(QDir().mkpath(outDir));
        std::unique_ptr<QSettings> settings(OpenTestSettings());
        settings->setValue("destination/Default", outDir);
    }

    // Each state of the second task of three: 1 is pass 1, 2 passes 2 and 3, 3 passes 4 and 5.
    void interruptInEachState_data()
    {
        QTest::addColumn<int>("outputType");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("act");
        for (int act : {int(Act::Stop), int(Act::Close)})
            for (int type = 0; type < OutputType::count; ++type)
                for (int state = TASK_ENCODING;
                     state <= (type == 2 ? TASK_CHANGING : TASK_EXPORTING); ++state)
                    QTest::addRow("%s in state %d of type %d",
                                  act == int(Act::Stop) ? "Stop" : "close", state, type)
                        << type << state << act;
    }
    void interruptInEachState()
    {
        QFETCH(int, outputType);
        QFETCH(int, state);
        QFETCH(int, act);
        bool reached = false;
        RunAndInterrupt(outputType, Act(act), [&](Window &w) {
            reached = w.page().Tasks().GetAt(1).state == state;
            return reached;
        });
        QVERIFY(reached);
        if (QTest::currentTestFailed())
            return;
        // One full batch after each kind of interruption, per output type.
        if (state == TASK_ENCODING)
            NextBatchConverts(outputType);
    }

    // Tasks side by side in the window: Stop or close with two running cancels both.
    void interruptTasksSideBySide_data()
    {
        QTest::addColumn<int>("act");
        QTest::newRow("Stop") << int(Act::Stop);
        QTest::newRow("close") << int(Act::Close);
    }
    void interruptTasksSideBySide()
    {
        QFETCH(int, act);
        RunAndInterrupt(
            1, Act(act),
            [](Window &w) {
                return w.page().Tasks().GetAt(0).state == TASK_ENCODING &&
                       w.page().Tasks().GetAt(1).state == TASK_ENCODING;
            },
            2);
        QCOMPARE(runningAtInterrupt, 2);
    }

    // Many short runs, each interrupted after a random delay: whatever the moment, only
    // finished outputs stay and no tool is left. The seed is printed to repeat a run.
    void interruptAtRandomMoments()
    {
        const quint32 seed = qEnvironmentVariableIsSet("KESTRANI_STOP_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("KESTRANI_STOP_SEED"))
                                 : QRandomGenerator::global()->generate();
        qInfo("KESTRANI_STOP_SEED=%u", seed);
        QRandomGenerator random(seed);
        for (int run = 0; run < 8; ++run) {
            const int outputType = random.bounded(3);
            const Act act = random.bounded(2) == 0 ? Act::Stop : Act::Close;
            const qint64 delayMs = random.bounded(1500);
            QElapsedTimer clock; // from the batch's first served event
            RunAndInterrupt(outputType, act, [&](Window &) {
                if (!clock.isValid())
                    clock.start();
                return clock.elapsed() >= delayMs;
            });
            if (QTest::currentTestFailed()) {
                qWarning("run %d: type %d, %s after %lld ms", run, outputType,
                         act == Act::Stop ? "Stop" : "close", delayMs);
                return;
            }
        }
        NextBatchConverts(2);
    }
};

QTEST_MAIN(TestStopClose)
#include "tst_stopclose.moc"
