// SPDX-License-Identifier: GPL-3.0-or-later
// Adding, removing and selecting tasks through the page's buttons, the list's mouse clicks and
// keys, drops and the command line, with real clips, the real list view and the real preview;
// and what the page itself does around Start and Stop, with a real short batch.

#include "pagetesting.h"

#include <QComboBox>
#include <QHelpEvent>
#include <QListWidget>
#include <QMimeData>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QToolTip>
#include <QtTest>

using namespace PageTesting;

class TestTaskListCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void addFileAppendsAndLoadsIt();
    void addSeveralFilesLoadsTheLast();
    void sameFileTwiceGivesTwoTasks();
    void cancelledDialogAddsNothing();
    void unreadableFileKeptWithZeroLength_data();
    void unreadableFileKeptWithZeroLength();
    void removeTask_data();
    void removeTask();
    void removeWithoutSelectionDoesNothing();
    void removeAll();
    void listKeys_data();
    void listKeys();
    void otherKeysGoToTheList();
    void clickSelectsAndLoads();
    void clickBelowRowsKeepsCurrent();
    void droppedVideoFilesAdded();
    void commandLineFilesAddedInOrder();
    void outputTypeChangesOutputColumn_data();
    void outputTypeChangesOutputColumn();
    void wholePathsAsCellTips_data();
    void wholePathsAsCellTips();
    void startFromThePage_data();
    void startFromThePage();

private:
    QTemporaryDir dir;
    QTemporaryDir settingsDir;
    QString first;     // 4 s
    QString second;    // 3 s
    QString third;     // 5 s
    QString batchClip; // 2 s
    QString longClip;  // 12 s, 320x240
};

void TestTaskListCommands::initTestCase()
{
    UseSettingsFolder(settingsDir.path());
    QList<QPair<QString, QString>> profiles;
    for (const char *name :
         {"3GP_AMR_Profile.ini", "3GP_AAC_Profile.ini", "3GP2_AAC_Profile.ini"}) {
        QFile file(QStringLiteral(KESTRANI_SOURCE_DIR "/app/") + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        profiles.append({QString::fromLatin1(name), QString::fromUtf8(file.readAll())});
    }
    UseProgramFolder(dir.path(), profiles);
    first = MakeClip(dir.path(), "first.mp4", 4.0);
    second = MakeClip(dir.path(), "second clip.avi", 3.0, false);
    third = MakeClip(dir.path(), "third.mov", 5.0);
    batchClip = MakeClip(dir.path(), "batch.mp4", 2.0);
    longClip = MakeClip(dir.path(), "long.mp4", 12.0, true, "320x240");
    QVERIFY(!first.isEmpty() && !second.isEmpty() && !third.isEmpty());
    QVERIFY(!batchClip.isEmpty() && !longClip.isEmpty());
}

void TestTaskListCommands::addFileAppendsAndLoadsIt()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    w.add({first});
    // The first dialog opens in the Videos folder (home without one), the next where the last
    // video came from.
    w.add({});
    QCOMPARE(w.offeredFolders,
             (QStringList{QFileInfo(movies).isDir() ? movies : QDir::homePath(), dir.path()}));
    QCOMPARE(w.page().Tasks().Count(), 1);
    QCOMPARE(w.list()->GetItemCount(), 1);
    QCOMPARE(w.page().CurrentTask(), 0);
    QCOMPARE(w.list()->GetSelectionMark(), 0);
    QVERIFY(w.rowSelected(0));
    QCOMPARE(w.cell(0, 0), QStringLiteral("first.mp4"));
    QCOMPARE(w.cell(0, 1), QStringLiteral("00:00:00"));
    QCOMPARE(w.cell(0, 2), QStringLiteral("00:00:04"));
    QCOMPARE(w.cell(0, 3), QStringLiteral("first.3gp"));
    QCOMPARE(w.cell(0, 4), QString());
    const ConversionTask task = w.page().Tasks().GetAt(0);
    QCOMPARE(task.sourcePath, first);
    QCOMPARE(task.outputName, QStringLiteral("first"));
    QCOMPARE(task.title, QStringLiteral("first"));
    QVERIFY(qAbs(task.endSeconds - 4.0) < 0.1);
    QCOMPARE(w.slider()->GetMinimum(), 0.0);
    QCOMPARE(w.slider()->GetMaximum(), task.endSeconds);
    QCOMPARE(w.range(), qMakePair(0.0, task.endSeconds));
    // A new file is held at one second, in the preview that now owns the preview area.
    QVERIFY(w.preview()->isVisible());
    QVERIFY(!w.item(1058)->isVisible());
    QVERIFY(!w.preview()->CurrentFrame().isNull());
    QVERIFY(qAbs(w.preview()->CurrentPosition() - 1.0) < 0.07);
    QVERIFY(w.preview()->GetState() != CVideoEdit::State::Playing);
}

void TestTaskListCommands::addSeveralFilesLoadsTheLast()
{
    Window w;
    w.add({first, second, third});
    QCOMPARE(w.page().Tasks().Count(), 3);
    QCOMPARE(w.cell(0, 0), QStringLiteral("first.mp4"));
    QCOMPARE(w.cell(1, 0), QStringLiteral("second clip.avi"));
    QCOMPARE(w.cell(2, 0), QStringLiteral("third.mov"));
    QCOMPARE(w.page().CurrentTask(), 2);
    QVERIFY(w.rowSelected(2));
    QVERIFY(!w.rowSelected(0));
    QVERIFY(qAbs(w.slider()->GetMaximum() - 5.0) < 0.1);
    QCOMPARE(w.cell(2, 2), QStringLiteral("00:00:05"));
}

void TestTaskListCommands::sameFileTwiceGivesTwoTasks()
{
    Window w;
    w.add({first});
    w.add({first});
    QCOMPARE(w.page().Tasks().Count(), 2);
    QCOMPARE(w.cell(0, 3), w.cell(1, 3));
    ConversionTask changed = w.page().Tasks().GetAt(0);
    changed.beginSeconds = 2.0;
    w.page().Tasks().SetAt(0, changed);
    QCOMPARE(w.page().Tasks().GetAt(1).beginSeconds, 0.0);
}

void TestTaskListCommands::cancelledDialogAddsNothing()
{
    Window w;
    w.add({});
    QCOMPARE(w.page().Tasks().Count(), 0);
    QVERIFY(!w.preview()->isVisible());
    QVERIFY(w.item(1058)->isVisible());
}

void TestTaskListCommands::unreadableFileKeptWithZeroLength_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("copies");
    QTest::newRow("truncated mp4") << QStringLiteral(KESTRANI_MEDIA_DIR "/broken.mp4") << 1;
    QTest::newRow("text named like a video") << QStringLiteral("notes.mp4") << 1;
    QTest::newRow("empty file") << QStringLiteral("empty.avi") << 1;
    QTest::newRow("two in one add: one box names both")
        << QStringLiteral(KESTRANI_MEDIA_DIR "/broken.mp4") << 2;
}

void TestTaskListCommands::unreadableFileKeptWithZeroLength()
{
    QFETCH(QString, path);
    QFETCH(int, copies);
    if (!QFileInfo(path).isAbsolute()) {
        QFile file(dir.filePath(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (path.startsWith("notes"))
            file.write("not a video at all\n");
        path = file.fileName();
    }
    Window w;
    MessageBoxCloser boxes;
    w.add(QStringList{first} + QStringList(copies, path));
    const int last = copies;
    QCOMPARE(w.page().Tasks().Count(), 1 + copies);
    QCOMPARE(w.page().Tasks().GetAt(last).endSeconds, 0.0);
    QCOMPARE(w.cell(last, 2), QStringLiteral("00:00:00"));
    QCOMPARE(w.page().CurrentTask(), last);
    QVERIFY(w.rowSelected(last));
    // Added all the same, but the person hears of it now, not when the batch fails.
    QTRY_COMPARE(boxes.texts.size(), 1);
    QTest::qWait(60);
    QCOMPARE(boxes.texts.size(), 1);
    QCOMPARE(boxes.icons, QList<QMessageBox::Icon>{QMessageBox::Warning});
    QCOMPARE(boxes.texts[0].count(path), copies);
    QVERIFY2(boxes.texts[0].contains(copies == 1 ? "cannot be read as a video"
                                                 : "cannot be read as videos"),
             qPrintable(boxes.texts[0]));
    QVERIFY(!boxes.texts[0].contains(first));
    QCOMPARE(w.slider()->GetMaximum(), 0.0);
    QVERIFY(!w.preview()->IsOpen());
    // The good file next to it still loads.
    w.clickRow(0);
    QCOMPARE(w.page().CurrentTask(), 0);
    QVERIFY(w.preview()->IsOpen());
}

void TestTaskListCommands::removeTask_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("removed");
    QTest::addColumn<int>("current");
    QTest::addColumn<QString>("loaded");
    QTest::newRow("middle of three loads the former third") << 3 << 1 << 1 << "third.mov";
    QTest::newRow("last of three loads the new last") << 3 << 2 << 1 << "second clip.avi";
    QTest::newRow("first of two loads the former second") << 2 << 0 << 0 << "second clip.avi";
    QTest::newRow("the only one empties the list") << 1 << 0 << -1 << QString();
}

void TestTaskListCommands::removeTask()
{
    QFETCH(int, count);
    QFETCH(int, removed);
    QFETCH(int, current);
    QFETCH(QString, loaded);
    Window w;
    w.add(QStringList{first, second, third}.mid(0, count));
    w.clickRow(removed);
    QCOMPARE(w.page().CurrentTask(), removed);
    QTest::mouseClick(w.item(1013), Qt::LeftButton);
    QCOMPARE(w.page().Tasks().Count(), count - 1);
    QCOMPARE(w.list()->GetItemCount(), count - 1);
    QCOMPARE(w.page().CurrentTask(), current);
    if (current < 0) {
        QCOMPARE(w.range(), qMakePair(0.0, 120.0));
        QCOMPARE(w.slider()->GetMaximum(), 120.0);
        QVERIFY(!w.preview()->IsOpen());
        QVERIFY(w.preview()->isVisible());
        return;
    }
    QCOMPARE(w.cell(current, 0), loaded);
    QCOMPARE(w.list()->GetSelectionMark(), current);
    QVERIFY(w.rowSelected(current));
    const ConversionTask task = w.page().Tasks().GetAt(current);
    QCOMPARE(w.slider()->GetMaximum(), task.endSeconds);
    QVERIFY(qAbs(w.preview()->CurrentPosition() - task.beginSeconds) < 0.07);
}

void TestTaskListCommands::removeWithoutSelectionDoesNothing()
{
    Window w;
    QTest::mouseClick(w.item(1013), Qt::LeftButton);
    QCOMPARE(w.page().Tasks().Count(), 0);
    w.add({first, second});
    w.list()->SetSelectionMark(-1);
    QTest::mouseClick(w.item(1013), Qt::LeftButton);
    QCOMPARE(w.page().Tasks().Count(), 2);
}

void TestTaskListCommands::removeAll()
{
    Window w;
    w.add({first, second, third});
    QTest::mouseClick(w.item(1014), Qt::LeftButton);
    QCOMPARE(w.page().Tasks().Count(), 0);
    QCOMPARE(w.list()->GetItemCount(), 0);
    QCOMPARE(w.page().CurrentTask(), -1);
    QCOMPARE(w.range(), qMakePair(0.0, 120.0));
    QVERIFY(!w.preview()->IsOpen());
    QVERIFY(w.preview()->isVisible());
    QVERIFY(!w.item(1058)->isVisible());
    // The slider moves on screen but no task follows it.
    QTest::keyClick(w.slider(), Qt::Key_Right);
    QCOMPARE(w.page().Tasks().Count(), 0);
}

void TestTaskListCommands::listKeys_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("reloads");
    QTest::newRow("page down from row 2 of 4") << 4 << 2 << int(Qt::Key_PageDown) << 3 << true;
    QTest::newRow("page down on the last row") << 4 << 3 << int(Qt::Key_PageDown) << 3 << false;
    QTest::newRow("page down by three") << 6 << 0 << int(Qt::Key_PageDown) << 3 << true;
    QTest::newRow("page up by three") << 6 << 4 << int(Qt::Key_PageUp) << 1 << true;
    QTest::newRow("page up stops at row 0") << 6 << 1 << int(Qt::Key_PageUp) << 0 << true;
    QTest::newRow("page up on row 0") << 4 << 0 << int(Qt::Key_PageUp) << 0 << false;
    QTest::newRow("up") << 4 << 2 << int(Qt::Key_Up) << 1 << true;
    QTest::newRow("up on row 0") << 4 << 0 << int(Qt::Key_Up) << 0 << false;
    QTest::newRow("down") << 4 << 1 << int(Qt::Key_Down) << 2 << true;
    QTest::newRow("down on the last row") << 4 << 3 << int(Qt::Key_Down) << 3 << false;
    QTest::newRow("home") << 4 << 3 << int(Qt::Key_Home) << 0 << true;
    QTest::newRow("end") << 4 << 0 << int(Qt::Key_End) << 3 << true;
    QTest::newRow("home on an empty list") << 0 << -1 << int(Qt::Key_Home) << -1 << false;
    QTest::newRow("end on an empty list") << 0 << -1 << int(Qt::Key_End) << -1 << false;
}

void TestTaskListCommands::listKeys()
{
    QFETCH(int, count);
    QFETCH(int, start);
    QFETCH(int, key);
    QFETCH(int, expected);
    QFETCH(bool, reloads);
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
    const QStringList clips = {first, second, third};
    QStringList files;
    for (int i = 0; i < count; ++i)
        files << clips[i % 3];
    w.add(files);
    if (start >= 0)
        w.clickRow(start);
    QCOMPARE(w.page().CurrentTask(), start);
    // Give every task a begin time of its own so that a reload shows in the slider.
    for (int i = 0; i < count; ++i) {
        ConversionTask task = w.page().Tasks().GetAt(i);
        task.beginSeconds = 0.25 * i;
        w.page().Tasks().SetAt(i, task);
    }
    const auto before = w.range();
    QSignalSpy shown(w.preview(), &CVideoEdit::FrameShown);
    QTest::keyClick(w.list(), Qt::Key(key));
    QCOMPARE(w.page().CurrentTask(), expected);
    QCOMPARE(w.list()->GetSelectionMark(), expected);
    if (expected >= 0)
        QVERIFY(w.rowSelected(expected));
    for (int i = 0; i < count; ++i)
        QCOMPARE(w.rowSelected(i), i == expected);
    if (reloads) {
        QCOMPARE(w.range().first, 0.25 * expected);
        QVERIFY(!shown.isEmpty());
        QVERIFY(qAbs(w.preview()->CurrentPosition() - 0.25 * expected) < 0.07);
    } else {
        QCOMPARE(w.range(), before);
        QVERIFY(shown.isEmpty());
    }
    QCOMPARE(w.page().Tasks().Count(), count);
}

void TestTaskListCommands::otherKeysGoToTheList()
{
    Window w;
    w.add({first, second});
    QTest::keyClick(w.list(), Qt::Key_Delete);
    QCOMPARE(w.page().Tasks().Count(), 2);
    QCOMPARE(w.page().CurrentTask(), 1);
}

void TestTaskListCommands::clickSelectsAndLoads()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
    w.add({first, second, third});
    w.clickRow(0);
    QCOMPARE(w.page().CurrentTask(), 0);
    QVERIFY(qAbs(w.slider()->GetMaximum() - 4.0) < 0.1);
    QSignalSpy shown(w.preview(), &CVideoEdit::FrameShown);
    w.clickRow(0);
    QCOMPARE(w.page().CurrentTask(), 0);
    QVERIFY(w.rowSelected(0));
    QVERIFY2(shown.isEmpty(), "a click on the current row reloads nothing");
    w.clickRow(1, Qt::RightButton);
    QCOMPARE(w.page().CurrentTask(), 1);
    QVERIFY(qAbs(w.slider()->GetMaximum() - 3.0) < 0.1);
}

void TestTaskListCommands::clickBelowRowsKeepsCurrent()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
    w.add({first, second});
    w.clickRow(0);
    QTest::mouseClick(w.list()->viewport(), Qt::LeftButton, {},
                      QPoint(20, w.list()->viewport()->height() - 5));
    QCOMPARE(w.page().CurrentTask(), 0);
    QCOMPARE(w.list()->GetSelectionMark(), 0);
    QVERIFY(w.rowSelected(0));
}

void TestTaskListCommands::droppedVideoFilesAdded()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
    QFile text(dir.filePath("readme.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.close();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(second), QUrl::fromLocalFile(text.fileName()),
                  QUrl::fromLocalFile(third)});
    QWidget *viewport = w.list()->viewport();
    const QPoint at(50, 50);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(w.page().Tasks().Count(), 2);
    QCOMPARE(w.cell(0, 0), QStringLiteral("second clip.avi"));
    QCOMPARE(w.cell(1, 0), QStringLiteral("third.mov"));
    QCOMPARE(w.page().CurrentTask(), 1);
    QVERIFY(w.preview()->isVisible());

    QMimeData onlyText;
    onlyText.setUrls({QUrl::fromLocalFile(text.fileName())});
    QDragEnterEvent refused(at, Qt::CopyAction, &onlyText, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &refused);
    QVERIFY(!refused.isAccepted());
}

void TestTaskListCommands::commandLineFilesAddedInOrder()
{
    Window w;
    w.page().AddFiles({first, dir.filePath("missing.mp4"), dir.path(), third});
    QCOMPARE(w.page().Tasks().Count(), 2);
    QCOMPARE(w.cell(0, 0), QStringLiteral("first.mp4"));
    QCOMPARE(w.cell(1, 0), QStringLiteral("third.mov"));
    QCOMPARE(w.page().CurrentTask(), 1);
    QVERIFY(w.preview()->isVisible());
}

void TestTaskListCommands::outputTypeChangesOutputColumn_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("output");
    QTest::newRow("3GP with AMR") << 0 << "first.3gp";
    QTest::newRow("3GP with AAC") << 1 << "first.3gp";
    QTest::newRow("3G2 with AAC") << 2 << "first.3g2";
}

void TestTaskListCommands::outputTypeChangesOutputColumn()
{
    QFETCH(int, type);
    QFETCH(QString, output);
    Window w;
    w.add({first, first});
    auto *combo = qobject_cast<QComboBox *>(w.item(1061));
    combo->setCurrentIndex(type);
    QCOMPARE(w.cell(0, 3), output);
    QCOMPARE(w.cell(1, 3), output);
    QCOMPARE(w.page().Tasks().GetAt(0).outputName, QStringLiteral("first"));
}

void TestTaskListCommands::wholePathsAsCellTips_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("tip");
    QTest::newRow("source: the whole source path") << 0 << "SOURCE";
    QTest::newRow("output: folder, name and extension") << 3 << "OUTPUT";
    QTest::newRow("begin time: none") << 1 << QString();
}

void TestTaskListCommands::wholePathsAsCellTips()
{
    QFETCH(int, column);
    QFETCH(QString, tip);
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
    w.add({second});
    if (tip == "SOURCE")
        tip = second;
    else if (tip == "OUTPUT")
        tip = outputFolder + "second clip.3gp";
    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());
    QRect rect;
    QVERIFY(w.list()->GetCellRect(0, column, &rect));
    QWidget *viewport = w.list()->viewport();
    QHelpEvent event(QEvent::ToolTip, rect.center(), viewport->mapToGlobal(rect.center()));
    QApplication::sendEvent(viewport, &event);
    QCOMPARE(QToolTip::isVisible() ? QToolTip::text() : QString(), tip);
}

void TestTaskListCommands::startFromThePage_data()
{
    QTest::addColumn<QString>("folder");  // stored output folder; empty: none stored
    QTest::addColumn<int>("stopAfterMs"); // after Start; -1: no Stop
    QTest::addColumn<bool>("converts");
    const int doubleClick = QApplication::doubleClickInterval();
    const QString out = dir.filePath("out");
    QTest::newRow("stop at once after start is a double-click: the batch runs on")
        << out << 0 << true;
    QTest::newRow("stop after the double-click time stops") << out << doubleClick + 300 << false;
    QTest::newRow("proposed videos folder made at start") << QString() << -1 << true;
    QTest::newRow("stored folder that is missing is not made")
        << dir.filePath("gone/out") << -1 << false;
}

void TestTaskListCommands::startFromThePage()
{
    QFETCH(QString, folder);
    QFETCH(int, stopAfterMs);
    QFETCH(bool, converts);
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    const bool proposed = folder.isEmpty();
    std::unique_ptr<QSettings> settings(OpenTestSettings());
    if (proposed) {
        settings->remove("destination/Default");
        QDir(movies).remove("batch.3gp");
        QDir().rmdir(movies); // only when empty: it may be a person's own
        if (QFileInfo(movies).isDir())
            QSKIP("the Videos folder is in use");
        folder = movies;
    } else {
        settings->setValue("destination/Default", folder);
        if (stopAfterMs >= 0)
            QVERIFY(QDir().mkpath(folder));
        QDir(folder).remove("batch.3gp");
        QDir(folder).remove("long.3gp");
    }
    settings->sync();
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
    qobject_cast<QComboBox *>(w.item(1061))->setCurrentIndex(1);
    // The long clip at the slowest profile still runs when a late Stop comes.
    qobject_cast<QListWidget *>(w.item(1065))->setCurrentRow(stopAfterMs > 0 ? 4 : 0);
    w.add({stopAfterMs > 0 ? longClip : batchClip});
    MessageBoxCloser boxes;
    bool ran = false;
    bool stopped = false;
    bool locked = true;
    QElapsedTimer clock;
    QTimer probe; // every pass of the event loop while the batch serves events
    probe.setInterval(0);
    connect(&probe, &QTimer::timeout, [&] {
        if (!w.page().IsConverting())
            return;
        ran = true;
        // Commands the batch refuses look so; Stop and the preview's picture stay usable.
        for (int id : {1012, 1013, 1014, 1022, 1047, 1054, 1055})
            locked = locked && !w.item(id)->isEnabled();
        locked = locked && w.item(1049)->isEnabled() && w.item(1053)->isEnabled();
        if (!stopped && stopAfterMs >= 0 && clock.elapsed() >= stopAfterMs) {
            stopped = true;
            QTest::mouseClick(w.item(1049), Qt::LeftButton);
        }
    });
    probe.start();
    clock.start();
    QTest::mouseClick(w.item(1048), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.page().IsConverting(), 120000);
    probe.stop();
    QCOMPARE(ran, stopAfterMs >= 0 || converts);
    QVERIFY(locked);
    for (int id : {1012, 1013, 1014, 1022, 1047, 1054, 1055})
        QVERIFY(w.item(id)->isEnabled());
    QCOMPARE(w.page().Tasks().GetAt(0).finished, converts ? 1 : 0);
    QCOMPARE(QFileInfo(folder).isDir(), converts || stopAfterMs >= 0);
    if (!ran)
        QTRY_COMPARE(boxes.captions, QStringList{"Error"});
    if (proposed) {
        QVERIFY(QFile::remove(QDir(movies).filePath("batch.3gp")));
        QVERIFY(QDir().rmdir(movies));
    }
    settings->remove("destination/Default");
}

QTEST_MAIN(TestTaskListCommands)
#include "tst_tasklistcommands.moc"
