// SPDX-License-Identifier: GPL-3.0-or-later
// The window's commands as a person gives them: adding (and being told of unreadable files),
// removing, clearing and selecting tasks with buttons, clicks, keys and drops; trimming with the
// slider while the preview follows; the output type, profile and folder; the settings kept for
// the next start of the window; and help.

#include "window.h"

#include "conversionengine.h"
#include "pageconstants.h"
#include "progresstext.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QtTest>

using namespace support;
using namespace Page;

namespace {

void SendMouse(QWidget *widget, QEvent::Type type, int x, Qt::MouseButtons buttons)
{
    const QPointF at(x, widget->height() / 2);
    QMouseEvent event(type, at, widget->mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Drags with the mouse from `from` to `to` (pixels from the slider's left edge); the button is
// released only when `release`.
void Drag(CRangeSlider *slider, int from, int to, bool release = true)
{
    SendMouse(slider, QEvent::MouseButtonPress, from, Qt::LeftButton);
    SendMouse(slider, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    SendMouse(slider, QEvent::MouseMove, to, Qt::LeftButton);
    if (release)
        SendMouse(slider, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

QString Clock(double seconds)
{
    return QStringLiteral("00:00:%1").arg(int(seconds), 2, 10, QLatin1Char('0'));
}

QString FolderText(Window &w)
{
    return WithTrailingSeparator(qobject_cast<QLineEdit *>(w.item(IDC_OUTPUT_DIR))->text());
}

QSpinBox *Simultaneous(Window &w)
{
    return qobject_cast<QSpinBox *>(w.item(IDC_SIMULTANEOUS));
}

} // namespace

class TestPageCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;
    QStringList clips; // 2, 3 and 4 s long: a row loaded shows in the slider's length
    QString videos;    // the Videos folder of the test's own home

    void Run(Window &w, const QString &steps)
    {
        static const QHash<QString, Qt::Key> keys{
            {"Up", Qt::Key_Up},         {"Down", Qt::Key_Down},     {"Home", Qt::Key_Home},
            {"End", Qt::Key_End},       {"PgUp", Qt::Key_PageUp},   {"PgDn", Qt::Key_PageDown},
            {"Delete", Qt::Key_Delete}};
        for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
            if (step.startsWith(u'+')) {
                QStringList files;
                for (QChar c : step.mid(1))
                    files << clips[c.digitValue()];
                w.add(files);
            } else if (step.startsWith(u'@')) {
                w.clickRow(step.mid(1, 1).toInt(),
                           step.endsWith(u'R') ? Qt::RightButton : Qt::LeftButton);
            } else if (step == "below") {
                QWidget *viewport = w.list()->viewport();
                QTest::mouseClick(viewport, Qt::LeftButton, {}, {20, viewport->height() - 5});
            } else if (step == "remove" || step == "clear") {
                w.click(step == "remove" ? IDC_REMOVE_TASK : IDC_REMOVE_ALL);
            } else if (step == "drop") {
                QMimeData mime;
                mime.setUrls({QUrl::fromLocalFile(clips[1]), QUrl::fromLocalFile(dir.filePath("a.txt")),
                              QUrl::fromLocalFile(clips[2])});
                QDragEnterEvent enter({50, 50}, Qt::CopyAction, &mime, Qt::LeftButton, {});
                QApplication::sendEvent(w.list()->viewport(), &enter);
                QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, {});
                QApplication::sendEvent(w.list()->viewport(), &drop);
            } else if (step == "args") {
                w.page().AddFiles({clips[0], dir.filePath("missing.mp4"), dir.path(), clips[2]});
            } else {
                QTest::keyClick(w.list(), keys.value(step));
            }
        }
    }

private slots:
    void initTestCase()
    {
        // Home, settings and Videos folder of the test's own, never the person's running it.
        qputenv("HOME", dir.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        QVERIFY(videos.startsWith(dir.path()));
        UseSettingsFolder(NewFolder(dir, folders, "settings"));
        const QString program = NewFolder(dir, folders, "program");
        UseProgramFolder(program);
        QVERIFY(QFile::link(KESTRANI_PROGRAM_DIR "/Help.html", program + "/Help.html"));
        const auto clip = [](double seconds, bool sound) {
            Clip made;
            made.seconds = seconds;
            made.sound = sound;
            return made;
        };
        clips << SharedClip(clip(2, true), "one.mp4") << SharedClip(clip(3, false), "two clip.avi")
              << SharedClip(clip(4, true), "three.mov");
        QVERIFY(!clips.contains(QString()));
        QVERIFY(WriteFile(dir.filePath("a.txt"), "text"));
        QVERIFY(WriteFile(dir.filePath("notes.mp4"), "not a video at all\n"));
        QVERIFY(WriteFile(dir.filePath("empty.avi"), ""));
    }

    // The steps, then the Source column, the current row: the only one selected, loaded in the
    // slider and the preview.
    void listCommands_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("sources");
        QTest::addColumn<int>("current");
        const QString all = "one.mp4|two clip.avi|three.mov";
        QTest::newRow("one file added: selected and loaded") << "+0" << "one.mp4" << 0;
        QTest::newRow("three in one add: the last loaded") << "+012" << all << 2;
        QTest::newRow("same file twice: two tasks") << "+0 +0" << "one.mp4|one.mp4" << 1;
        QTest::newRow("cancelled dialog adds nothing") << "+" << "" << -1;
        QTest::newRow("remove the first of three: the former second loaded")
            << "+012 @0 remove" << "two clip.avi|three.mov" << 0;
        QTest::newRow("remove the middle of three: the former third loaded")
            << "+012 @1 remove" << "one.mp4|three.mov" << 1;
        QTest::newRow("remove the last of three: the new last loaded")
            << "+012 remove" << "one.mp4|two clip.avi" << 1;
        QTest::newRow("remove the only one empties the list") << "+0 remove" << "" << -1;
        QTest::newRow("remove on an empty list does nothing") << "remove" << "" << -1;
        QTest::newRow("clear removes every task") << "+012 @1 clear" << "" << -1;
        QTest::newRow("add after clear starts a new list") << "+01 clear +2" << "three.mov" << 0;
        QTest::newRow("click selects and loads") << "+012 @0" << all << 0;
        QTest::newRow("right click selects and loads") << "+012 @1R" << all << 1;
        QTest::newRow("click below the rows keeps the current") << "+012 @1 below" << all << 1;
        QTest::newRow("Up moves up one") << "+012 Up" << all << 1;
        QTest::newRow("Up on the first row stays") << "+012 @0 Up" << all << 0;
        QTest::newRow("Down moves down one") << "+012 @0 Down" << all << 1;
        QTest::newRow("Down on the last row stays") << "+012 Down" << all << 2;
        QTest::newRow("Home to the first") << "+012 Home" << all << 0;
        QTest::newRow("End to the last") << "+012 @0 End" << all << 2;
        QTest::newRow("Page Down by three")
            << "+01201 @0 PgDn" << all + "|one.mp4|two clip.avi" << 3;
        QTest::newRow("Page Up stops at the first row") << "+01201 @1 PgUp" << all + "|one.mp4|two clip.avi" << 0;
        QTest::newRow("Delete removes nothing") << "+01 Delete" << "one.mp4|two clip.avi" << 1;
        QTest::newRow("dropped videos added, other files left out")
            << "drop" << "two clip.avi|three.mov" << 1;
        QTest::newRow("command line: videos in order, missing files and folders left out")
            << "args" << "one.mp4|three.mov" << 1;
    }
    void listCommands()
    {
        QFETCH(QString, steps);
        QFETCH(QString, sources);
        QFETCH(int, current);
        Window w;
        QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
        Run(w, steps);
        QStringList shown;
        for (int row = 0; row < w.list()->GetItemCount(); ++row) {
            shown << w.cell(row, COL_SOURCE);
            QCOMPARE(w.rowSelected(row), row == current);
        }
        QCOMPARE(shown.join(u'|'), sources);
        QCOMPARE(w.page().Tasks().Count(), shown.size());
        QCOMPARE(w.page().CurrentTask(), current);
        QCOMPARE(w.preview()->IsOpen(), current >= 0);
        if (current >= 0) {
            const ConversionTask task = w.page().Tasks().GetAt(current);
            QCOMPARE(w.slider()->GetMaximum(), task.endSeconds);
            QCOMPARE(w.range(), qMakePair(task.beginSeconds, task.endSeconds));
        }
    }

    void unreadableFilesAnnounced_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("copies");
        QTest::newRow("truncated mp4") << MediaFile("broken.mp4") << 1;
        QTest::newRow("text named like a video") << dir.filePath("notes.mp4") << 1;
        QTest::newRow("empty file") << dir.filePath("empty.avi") << 1;
        QTest::newRow("two in one add: one box names both") << MediaFile("broken.mp4") << 2;
    }
    void unreadableFilesAnnounced()
    {
        QFETCH(QString, file);
        QFETCH(int, copies);
        Window w;
        MessageBoxCloser boxes;
        w.add(QStringList{clips[0]} + QStringList(copies, file));
        // Added all the same, with no length; the person hears of it now, not at Start.
        QCOMPARE(w.page().Tasks().Count(), 1 + copies);
        QCOMPARE(w.cell(copies, COL_END), QStringLiteral("00:00:00"));
        QCOMPARE(w.page().CurrentTask(), copies);
        QVERIFY(!w.preview()->IsOpen());
        QTRY_COMPARE(boxes.icons, QList<QMessageBox::Icon>{QMessageBox::Warning});
        QCOMPARE(boxes.texts[0].count(file), copies);
        QVERIFY(!boxes.texts[0].contains(clips[0]));
        w.clickRow(0);
        QVERIFY(w.preview()->IsOpen());
    }

    void trimWithTheSlider_data()
    {
        QTest::addColumn<QString>("part");
        QTest::newRow("left thumb: the begin follows, the preview shows it") << "left";
        QTest::newRow("right thumb: the end follows, the preview shows it") << "right";
        QTest::newRow("the band between: both move, the preview shows the begin") << "band";
    }
    void trimWithTheSlider()
    {
        QFETCH(QString, part);
        Window w;
        QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
        w.add({clips[1], clips[2]});
        CRangeSlider *slider = w.slider();
        const int width = slider->width();
        if (part == "band") // narrowed first, so that the band can be grabbed
            Drag(slider, width - 2, width / 2);
        const auto before = w.range();
        const int from = part == "left" ? 1 : part == "right" ? width - 2 : width / 4;
        Drag(slider, from, part == "right" ? width * 3 / 5 : from + width / 4, false);
        // While the mouse moves, the task and its Begin and End cells follow.
        const auto range = w.range();
        ConversionTask task = w.page().Tasks().GetAt(1);
        QCOMPARE(qMakePair(task.beginSeconds, task.endSeconds), range);
        QCOMPARE(w.cell(1, COL_BEGIN), Clock(range.first));
        QCOMPARE(w.cell(1, COL_END), Clock(range.second));
        SendMouse(slider, QEvent::MouseButtonRelease, width / 2, Qt::NoButton);
        if (part == "right") {
            QVERIFY(range.first == before.first && range.second < before.second - 0.5);
        } else {
            QVERIFY(range.first > before.first + 0.5);
            QCOMPARE(range.second - range.first > before.second - before.first - 0.05,
                     part == "band");
        }
        const double shown = part == "right" ? range.second : range.first;
        QVERIFY2(qAbs(w.preview()->CurrentPosition() - shown) < 0.07,
                 qPrintable(QString::number(w.preview()->CurrentPosition())));
        // The trim stays with its task: the other is untouched, and it comes back on selection.
        w.clickRow(0);
        task = w.page().Tasks().GetAt(0);
        QCOMPARE(w.range(), qMakePair(0.0, task.endSeconds));
        QVERIFY(qAbs(task.endSeconds - 3.0) < 0.1);
        w.clickRow(1);
        QCOMPARE(w.range(), range);
        QVERIFY(qAbs(w.preview()->CurrentPosition() - range.first) < 0.07);
    }

    // The type changes the Output column, the description and the profiles offered.
    void outputTypeAndProfile_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("output");
        QTest::newRow("3GP with AMR") << 0 << "one.3gp";
        QTest::newRow("3GP with AAC") << 1 << "one.3gp";
        QTest::newRow("3G2 with AAC") << 2 << "one.3g2";
    }
    void outputTypeAndProfile()
    {
        QFETCH(int, type);
        QFETCH(QString, output);
        Window w;
        w.add({clips[0], clips[0]});
        auto *combo = qobject_cast<QComboBox *>(w.item(IDC_OUTPUT_TYPE));
        auto *profiles = qobject_cast<QListWidget *>(w.item(IDC_PROFILE_LIST));
        auto *description = qobject_cast<QLabel *>(w.item(IDC_OUTPUT_DESCRIPTION));
        combo->setCurrentIndex((type + 1) % 3);
        const QString otherText = description->text();
        const int otherCount = profiles->count();
        const QString otherFirst = profiles->item(0)->text();
        combo->setCurrentIndex(type);
        QCOMPARE(w.cell(0, COL_OUTPUT), output);
        QCOMPARE(w.cell(1, COL_OUTPUT), output);
        QVERIFY(!description->text().isEmpty() && description->text() != otherText);
        QVERIFY(profiles->count() != otherCount || profiles->item(0)->text() != otherFirst);
        QVERIFY(profiles->currentRow() >= 0); // the type's default profile is chosen
    }

    // What a window leaves in its settings is what the next one shows.
    void settingsKept_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("act");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("shown");
        const QString folder = "destination/Default", count = "simultaneous/Default";
        QTest::newRow("nothing stored: the Videos folder proposed, not made")
            << folder << QVariant() << "" << int(IDC_OUTPUT_DIR) << "VIDEOS";
        QTest::newRow("folder chosen with Browse, which starts in the stored one")
            << folder << QVariant(dir.path()) << "browse" << int(IDC_OUTPUT_DIR) << "PICKED";
        QTest::newRow("Browse cancelled keeps the stored folder")
            << folder << QVariant("/data/kept") << "cancel" << int(IDC_OUTPUT_DIR)
            << "/data/kept/";
        QTest::newRow("Simultaneous tasks set to 3") << count << QVariant() << "3"
                                                     << int(IDC_SIMULTANEOUS) << "3";
        QTest::newRow("Simultaneous tasks set to Auto")
            << count << QVariant("2") << "0" << int(IDC_SIMULTANEOUS) << "Auto";
        QTest::newRow("stored count not a number: one at a time")
            << count << QVariant("many") << "" << int(IDC_SIMULTANEOUS) << "1";
        QTest::newRow("stored count more than offered: one at a time")
            << count << QVariant("99") << "" << int(IDC_SIMULTANEOUS) << "1";
    }
    void settingsKept()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QString, act);
        QFETCH(int, id);
        QFETCH(QString, shown);
        UseSettingsFolder(NewFolder(dir, folders, "settings"));
        if (stored.isValid())
            OpenTestSettings()->setValue(key, stored);
        const QString picked = NewFolder(dir, folders, "picked");
        shown.replace("VIDEOS", videos + "/").replace("PICKED", picked + "/");
        const auto text = [&](Window &w) {
            return id == IDC_OUTPUT_DIR ? FolderText(w) : Simultaneous(w)->text();
        };
        for (int start = 0; start < 2; ++start) {
            Window w;
            QString offered;
            w.page().chooseOutputFolder = [&](const QString &from) {
                offered = from;
                return act == "browse" ? picked : QString();
            };
            if (start == 0 && (act == "browse" || act == "cancel")) {
                w.click(IDC_BROWSE);
                QCOMPARE(offered, QFileInfo(stored.toString()).isDir()
                                      ? stored.toString() + "/"
                                      : QDir::homePath());
            } else if (start == 0 && !act.isEmpty()) {
                Simultaneous(w)->setValue(act.toInt());
            }
            QCOMPARE(text(w), shown);
            QCOMPARE(outputFolder, FolderText(w));
            QCOMPARE(w.page().Engine().SimultaneousTasks(), Simultaneous(w)->value());
        }
        QVERIFY(!QFileInfo::exists(videos));
    }

    // The Videos folder the window proposed is made when a batch starts into it; a folder the
    // person chose is never made behind their back.
    void videosFolderMadeAtStartOnly_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing stored: the proposed Videos folder made at Start")
            << QVariant() << "Information" << "1 of 1 videos failed: see the Progress column";
        QTest::newRow("a stored folder that is missing is not made")
            << QVariant(dir.filePath("gone/out")) << "Error" << "does not exist";
    }
    void videosFolderMadeAtStartOnly()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, caption);
        QFETCH(QString, text);
        UseSettingsFolder(NewFolder(dir, folders, "settings"));
        if (stored.isValid())
            OpenTestSettings()->setValue("destination/Default", stored);
        const QString folder = stored.isValid() ? stored.toString() : videos;
        Window w;
        MessageBoxCloser boxes;
        w.add({dir.filePath("notes.mp4")}); // fails at once: only the folder matters here
        QTRY_COMPARE(boxes.captions, QStringList{"Warning"});
        QVERIFY(!QFileInfo::exists(folder));
        w.click(IDC_START);
        QTRY_COMPARE(boxes.captions, (QStringList{"Warning", caption}));
        QVERIFY2(boxes.texts[1].contains(text), qPrintable(boxes.texts[1]));
        QCOMPARE(QFileInfo(folder).isDir(), stored.isNull());
        QDir(videos).removeRecursively();
    }

    void help_data()
    {
        QTest::addColumn<bool>("key");
        QTest::newRow("help button") << false;
        QTest::newRow("F1") << true;
    }
    void help()
    {
        QFETCH(bool, key);
        Window w;
        QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
        if (key) {
            w.frame->activateWindow();
            QTest::keyClick(w.item(IDC_OUTPUT_TYPE), Qt::Key_F1);
        } else {
            w.click(IDC_HELP_CONTENTS);
        }
        // Shown by the program itself, beside the window: no web browser is needed.
        CHelpWindow *help = w.page().HelpWindow();
        QVERIFY(help && help->isVisible() && !help->isModal());
        QVERIFY(help->Browser()->toPlainText().startsWith(QStringLiteral("Kestrani Help")));
        QTest::keyClick(help->Browser(), Qt::Key_Escape);
        QVERIFY(!help->isVisible());
        // Escape closes the help, never the window.
        QTest::keyClick(w.list(), Qt::Key_Escape);
        QVERIFY(w.frame->isVisible());
    }
};

QTEST_MAIN(TestPageCommands)
#include "tst_pagecommands.moc"
