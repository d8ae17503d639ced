// SPDX-License-Identifier: GPL-3.0-or-later
// A real batch run from the window: the shipped profile's smallest preset, real ffmpeg and
// AtomicParsley, the Progress cell watched on every event the batch serves, Stop, commands
// refused while converting, the window closed mid-batch, and the shut-down box.

#include "conversionengine.h"
#include "pagetesting.h"
#include "progresstext.h"
#include "tasklist.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QRegularExpression>
#include <QtTest>

#include "testfiles.h"

#include <functional>

using namespace PageTesting;

namespace {

// Runs `probe` on every pass of the event loop while it lives: the batch runs in the event
// loop, so the probe sees each state the window goes through.
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

const QString finishedBox =
    QStringLiteral("                   Converting Finished                    ");

// Start returns at once; the batch ends later, in the event loop.
bool WaitForBatchEnd(Window &w)
{
    return QTest::qWaitFor([&] { return !w.page().IsConverting(); }, 60000);
}

} // namespace

class TestBatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void batchGoesThroughItsTextsToFinished();
    void stopCancelsTheRunningTask();
    void commandsRefusedWhileConverting();
    void closingTheWindowStopsTheBatchFirst();
    void unreadableFileFailsAndTheNextConverts();
    void shutdownBoxTickedAsksForShutdown();

private:
    // The window with the AAC output type and its smallest profile selected.
    void Prepare(Window &w);
    QStringList OutputFiles() const;

    QTemporaryDir dir;
    QTemporaryDir settingsDir;
    QString outDir;
    QString shortClip; // 2 s
    QString longClip;  // 30 s, 320x240: pass 1 long enough to show its progress
};

void TestBatch::initTestCase()
{
    // The shut-down test must never reach the machine's own login manager.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/kestrani-test-bus");
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8()); // the batch journals
    // Stop right after Start is meant here, not a double-click's second click.
    QApplication::setDoubleClickInterval(0);
    UseSettingsFolder(settingsDir.path());
    QList<QPair<QString, QString>> profiles;
    for (const char *name :
         {"3GP_AMR_Profile.ini", "3GP_AAC_Profile.ini", "3GP2_AAC_Profile.ini"}) {
        QFile file(QStringLiteral(KESTRANI_SOURCE_DIR "/app/") + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        profiles.append({QString::fromLatin1(name), QString::fromUtf8(file.readAll())});
    }
    UseProgramFolder(dir.filePath("program"), profiles);
    shortClip = MakeClip(dir.path(), "short.mp4", 2.0);
    longClip = MakeClip(dir.path(), "long clip.mp4", 30.0, true, "320x240");
    QVERIFY(!shortClip.isEmpty() && !longClip.isEmpty());
    outDir = dir.filePath("out");
    QVERIFY(QDir().mkpath(outDir));
}

void TestBatch::init()
{
    QDir out(outDir);
    for (const QString &name : out.entryList(QDir::Files))
        out.remove(name);
    std::unique_ptr<QSettings> settings(OpenTestSettings());
    settings->setValue("destination/Default", outDir);
}

void TestBatch::Prepare(Window &w)
{
    QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
    qobject_cast<QComboBox *>(w.item(1061))->setCurrentIndex(1);
    auto *profiles = qobject_cast<QListWidget *>(w.item(1065));
    QVERIFY(profiles->count() >= 2);
    profiles->setCurrentRow(0);
}

QStringList TestBatch::OutputFiles() const
{
    return QDir(outDir).entryList(QDir::Files, QDir::Name);
}

void TestBatch::batchGoesThroughItsTextsToFinished()
{
    Window w;
    Prepare(w);
    w.add({longClip, shortClip});
    MessageBoxCloser boxes;
    QStringList seen;
    bool swapped = false;
    bool settingsLocked = false;
    const QRegularExpression line(
        QStringLiteral(R"(^\d\d:\d\d:\d\d  \d+\.\d\dMB  \d+\.\d\dFrames/s  %\d+ $)"));
    EventProbe probe([&] {
        if (!w.page().IsConverting())
            return;
        const QString text = w.cell(0, 4);
        if (seen.isEmpty() || seen.last() != text)
            seen << text;
        swapped = swapped || (!w.item(1048)->isVisible() && w.item(1049)->isVisible());
        settingsLocked =
            settingsLocked || (!w.item(1061)->isEnabled() && !w.item(1065)->isEnabled() &&
                               !w.item(1059)->isEnabled());
    });
    QTest::mouseClick(w.item(1048), Qt::LeftButton);
    QVERIFY(WaitForBatchEnd(w));

    QVERIFY(swapped);
    QVERIFY(settingsLocked);
    QVERIFY2(std::any_of(seen.begin(), seen.end(),
                         [&](const QString &t) { return line.match(t).hasMatch(); }),
             qPrintable(seen.join('|')));
    QVERIFY2(seen.contains(QStringLiteral("Exporting")), qPrintable(seen.join('|')));
    QCOMPARE(w.cell(0, 4), QStringLiteral(" Finished "));
    QCOMPARE(w.cell(1, 4), QStringLiteral(" Finished "));
    QVERIFY(w.item(1048)->isVisible());
    QVERIFY(!w.item(1049)->isVisible());
    QVERIFY(w.item(1061)->isEnabled() && w.item(1065)->isEnabled() && w.item(1059)->isEnabled());
    QTRY_COMPARE(boxes.texts, QStringList{finishedBox});
    QCOMPARE(boxes.captions, QStringList{"Information"});
    QCOMPARE(OutputFiles(), (QStringList{"long clip.3gp", "short.3gp"}));
}

void TestBatch::stopCancelsTheRunningTask()
{
    Window w;
    Prepare(w);
    w.add({shortClip, longClip, shortClip});
    MessageBoxCloser boxes;
    bool stopped = false;
    EventProbe probe([&] {
        if (stopped || !w.page().IsConverting() || w.page().Tasks().GetAt(1).state != TASK_ENCODING)
            return;
        stopped = true;
        QTest::mouseClick(w.item(1049), Qt::LeftButton);
    });
    QTest::mouseClick(w.item(1048), Qt::LeftButton);
    QVERIFY(WaitForBatchEnd(w));

    QVERIFY(stopped);
    QCOMPARE(w.cell(0, 4), QStringLiteral(" Finished "));
    QCOMPARE(w.cell(1, 4), QStringLiteral("Canceled"));
    QCOMPARE(w.cell(2, 4), QString());
    QVERIFY(w.item(1048)->isVisible());
    QVERIFY(!w.item(1049)->isVisible());
    QVERIFY(ProcessesUsing(outDir).isEmpty());
    QTRY_COMPARE(boxes.texts.size(), 1);
    QCOMPARE(boxes.captions, QStringList{"Information"});
    // Only the finished task's file: nothing of the interrupted one is left behind.
    QCOMPARE(OutputFiles(), QStringList{"short.3gp"});
}

void TestBatch::commandsRefusedWhileConverting()
{
    Window w;
    Prepare(w);
    w.add({longClip, shortClip});
    w.clickRow(0);
    MessageBoxCloser boxes;
    bool tried = false;
    const QString folderBefore = outputFolder;
    EventProbe probe([&] {
        if (tried || !w.page().IsConverting() || w.page().Tasks().GetAt(0).state != TASK_ENCODING)
            return;
        tried = true;
        w.chosenFiles = {shortClip};
        QTest::mouseClick(w.item(1012), Qt::LeftButton); // add
        QTest::mouseClick(w.item(1013), Qt::LeftButton); // remove
        QTest::mouseClick(w.item(1014), Qt::LeftButton); // remove all
        w.clickRow(1);
        QTest::keyClick(w.list(), Qt::Key_End);
        QTest::keyClick(w.slider(), Qt::Key_Left, Qt::ShiftModifier);
        w.page().chooseOutputFolder = [](const QString &) { return QStringLiteral("/tmp"); };
        QTest::mouseClick(w.item(1022), Qt::LeftButton); // browse
        w.page().AddFiles({shortClip});                  // a drop or the command line
        QTest::mouseClick(w.item(1048), Qt::LeftButton); // hidden Start: nothing
        QCOMPARE(w.page().Tasks().Count(), 2);
        QCOMPARE(w.page().CurrentTask(), 0);
        QCOMPARE(w.list()->GetSelectionMark(), 0);
        QVERIFY(qAbs(w.page().Tasks().GetAt(0).endSeconds - 30.0) < 0.1);
        QCOMPARE(outputFolder, folderBefore);
        QTest::mouseClick(w.item(1049), Qt::LeftButton);
    });
    QTest::mouseClick(w.item(1048), Qt::LeftButton);
    QVERIFY(WaitForBatchEnd(w));
    QVERIFY(tried);
    QCOMPARE(w.page().Tasks().Count(), 2);
}

void TestBatch::closingTheWindowStopsTheBatchFirst()
{
    Window w;
    Prepare(w);
    w.add({longClip, shortClip});
    MessageBoxCloser boxes;
    bool closed = false;
    bool stillOpenAfterClose = false;
    EventProbe probe([&] {
        if (closed || !w.page().IsConverting() || w.page().Tasks().GetAt(0).state != TASK_ENCODING)
            return;
        closed = true;
        w.frame->close();
        // The window waits for the batch to wind down before it goes.
        stillOpenAfterClose = w.frame->isVisible();
    });
    QTest::mouseClick(w.item(1048), Qt::LeftButton);
    QVERIFY(WaitForBatchEnd(w));
    QVERIFY(closed);
    QVERIFY(stillOpenAfterClose);
    QTRY_VERIFY(!w.frame->isVisible());
    QCOMPARE(w.cell(0, 4), QStringLiteral("Canceled"));
    QVERIFY(ProcessesUsing(outDir).isEmpty());
    QTest::qWait(60);
    QVERIFY2(boxes.texts.isEmpty(), "a closed window shows no closing message");
    QVERIFY(OutputFiles().isEmpty());
    std::unique_ptr<QSettings> settings(OpenTestSettings());
    QCOMPARE(settings->value("fileno/Default").toString(), QStringLiteral("0"));
    w.frame.reset();
}

void TestBatch::unreadableFileFailsAndTheNextConverts()
{
    Window w;
    Prepare(w);
    w.add({QStringLiteral(KESTRANI_MEDIA_DIR "/broken.mp4"), shortClip});
    MessageBoxCloser boxes;
    QTest::mouseClick(w.item(1048), Qt::LeftButton);
    QVERIFY(WaitForBatchEnd(w));
    QCOMPARE(w.cell(0, 4), QStringLiteral("Failed"));
    QCOMPARE(w.cell(1, 4), QStringLiteral(" Finished "));
    // The warning given when the file was added, then the end of the batch.
    QTRY_COMPARE(boxes.texts.size(), 2);
    QVERIFY(boxes.texts.first().contains(QStringLiteral("cannot be read as a video")));
    QCOMPARE(boxes.texts.last(), QStringLiteral("1 of 2 videos failed: see the Progress column"));
    QCOMPARE(OutputFiles(), QStringList{"short.3gp"});
}

void TestBatch::shutdownBoxTickedAsksForShutdown()
{
    Window w;
    Prepare(w);
    w.add({shortClip});
    qobject_cast<QCheckBox *>(w.item(1059))->setChecked(true);
    MessageBoxCloser boxes;
    QTest::mouseClick(w.item(1048), Qt::LeftButton);
    QVERIFY(WaitForBatchEnd(w));
    QCOMPARE(w.cell(0, 4), QStringLiteral(" Finished "));
    // There is no login manager on the test's bus: the refusal, and no closing message.
    QTRY_COMPARE(boxes.texts, QStringList{"Your computer cannot shutdown"});
    QCOMPARE(boxes.captions, QStringList{"Warning"});
}

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"
