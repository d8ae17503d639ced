// SPDX-License-Identifier: GPL-3.0-or-later
// Stop, and closing the window, at every pass of every output type and at random moments, from
// the real window with the shipped profiles and tools: afterwards no file of an interrupted task
// is left (only finished tasks' outputs), no tool runs, and the next batch converts as usual.
#include "conversionengine.h"
#include "pagetesting.h"

#include <QComboBox>
#include <QListWidget>
#include <QRandomGenerator>
#include <QtTest>

#include <functional>
#include <unistd.h>

using namespace PageTesting;

namespace {

// Runs `probe` on every pass of the event loop while it lives: the batch serves events after
// every chunk of tool output and while it waits for a tool.
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

// Processes still around that this test started (its children) or that name the folder (the
// tools write there, and tools started by tools are no children of ours).
QStringList ToolsLeft(const QString &folder)
{
    QStringList found;
    const QByteArray self = QByteArray::number(::getpid());
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        entry.toInt(&isPid);
        if (!isPid || entry == QString::fromLatin1(self))
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!stat.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        const QByteArray command = cmdline.readAll();
        if (fields.value(0) != "Z" &&
            (fields.value(1) == self || command.contains(folder.toUtf8())))
            found.append(QString::fromUtf8(command).replace(QChar(0), QLatin1Char(' ')));
    }
    return found;
}

enum class Act { Stop, Close };

} // namespace

class TestStopClose : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QTemporaryDir settingsDir;
    QString outDir;
    QStringList clips;

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

    static void Prepare(Window &w, int outputType)
    {
        QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
        qobject_cast<QComboBox *>(w.item(1061))->setCurrentIndex(outputType);
        qobject_cast<QListWidget *>(w.item(1065))->setCurrentRow(0);
    }

    // The files a finished task may leave: its output. Anything else is left over.
    QStringList FilesOfFinishedTasks(Window &w, int outputType)
    {
        QStringList files;
        const QString extension =
            QString::fromLatin1(ConversionEngine::OutputType(outputType)->extension);
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
        for (int row = 0; row < clips.size(); ++row)
            QCOMPARE(w.page().Tasks().GetAt(row).finished, 1);
        QCOMPARE(OutputFiles(), FilesOfFinishedTasks(w, outputType));
        QCOMPARE(ToolsLeft(outDir), QStringList{});
        ClearOutput();
    }

    // Starts a batch of the clips and acts when `when` first holds; then checks what is left.
    void RunAndInterrupt(int outputType, Act act, const std::function<bool(Window &)> &when)
    {
        ClearOutput();
        Window w;
        Prepare(w, outputType);
        w.add(clips);
        MessageBoxCloser boxes;
        bool acted = false;
        EventProbe probe([&] {
            if (acted || !w.page().IsConverting() || !when(w))
                return;
            acted = true;
            if (act == Act::Stop)
                QTest::mouseClick(w.item(1049), Qt::LeftButton);
            else
                w.frame->close();
        });
        QTest::mouseClick(w.item(1048), Qt::LeftButton);
        QVERIFY(!w.page().IsConverting());
        if (act == Act::Close && acted)
            QTRY_VERIFY(!w.frame->isVisible());
        const QStringList left = OutputFiles();
        QVERIFY2(left == FilesOfFinishedTasks(w, outputType), qPrintable(left.join(", ")));
        QCOMPARE(ToolsLeft(outDir), QStringList{});
        if (acted) {
            const int row = w.page().Engine().currentTaskIndex;
            QCOMPARE(w.page().Tasks().GetAt(row).state, int(TASK_CANCELED));
            for (int later = row + 1; later < clips.size(); ++later)
                QCOMPARE(w.page().Tasks().GetAt(later).state, int(TASK_IDLE));
        }
    }

private slots:
    void initTestCase()
    {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/kestrani-test-bus");
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
        clips << MakeClip(dir.path(), "first.mp4", 1.0) << MakeClip(dir.path(), "second.mp4", 1.0);
        QVERIFY(!clips.contains(QString()));
        outDir = dir.filePath("out");
        QVERIFY(QDir().mkpath(outDir));
        std::unique_ptr<QSettings> settings(OpenTestSettings());
        settings->setValue("destination/Default", outDir);
    }

    void interruptInEachPass_data()
    {
        QTest::addColumn<int>("outputType");
        QTest::addColumn<int>("pass");
        QTest::addColumn<int>("act");
        const int passes[] = {3, 3, 5};
        for (int act : {int(Act::Stop), int(Act::Close)})
            for (int type = 0; type < 3; ++type)
                for (int pass = 1; pass <= passes[type]; ++pass)
                    QTest::addRow("%s in pass %d of type %d",
                                  act == int(Act::Stop) ? "Stop" : "close", pass, type)
                        << type << pass << act;
    }
    void interruptInEachPass()
    {
        QFETCH(int, outputType);
        QFETCH(int, pass);
        QFETCH(int, act);
        bool reached = false;
        RunAndInterrupt(outputType, Act(act), [&](Window &w) {
            const ConversionEngine &engine = w.page().Engine();
            reached = engine.currentTaskIndex == 1 && engine.currentPass == pass;
            return reached;
        });
        QVERIFY(reached);
        if (QTest::currentTestFailed())
            return;
        // One full batch after each kind of interruption, per output type.
        if (pass == 1)
            NextBatchConverts(outputType);
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
        for (int run = 0; run < 12; ++run) {
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
