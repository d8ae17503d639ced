// SPDX-License-Identifier: GPL-3.0-or-later
// The window's commands as a person gives them: adding (and being told of files that cannot be
// read), removing, clearing and selecting tasks with buttons, clicks, keys and drops; trimming
// with the slider while the preview follows; the output folder; the settings kept for the next
// start of the window; and help. The output type and profile chosen are proven by the batches
// of tst_pagebatch, whose outputs they shape.

#include "window.h"

#include "conversionengine.h"
#include "pageconstants.h"
#include "progress/progresstext.h"

#include <QtTest>
#include <QtWidgets>

using namespace support;
using namespace Page;

namespace {

// Presses at `from` and moves to `to`, pixels from the slider's left edge; the button stays down.
void Drag(CRangeSlider *slider, int from, int to)
{
    const int y = slider->height() / 2;
    QTest::mousePress(slider, Qt::LeftButton, {}, {from, y});
    QTest::mouseMove(slider, {to, y});
}

// The tip shown when the mouse rests on a cell of the list.
QString Tip(Window &w, int row, int column)
{
    QToolTip::hideText();
    QRect rect;
    if (!w.list()->GetCellRect(row, column, &rect))
        return QStringLiteral("no such cell");
    QWidget *viewport = w.list()->viewport();
    QHelpEvent event(QEvent::ToolTip, rect.center(), viewport->mapToGlobal(rect.center()));
    QApplication::sendEvent(viewport, &event);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

// The steps; then the Source column, the current row (the only one selected, loaded in the
// slider and the preview), and how many files one warning named as unreadable.
struct ListRow {
    QString steps, sources;
    int current, warned;
};

// A setting as stored before the window opens, what the person does in that window, and what
// it and the next window show: the output folder (with a '/') or Simultaneous tasks.
struct SettingRow {
    QVariant stored;
    QString act, shown;
};

} // namespace

Q_DECLARE_METATYPE(ListRow)
Q_DECLARE_METATYPE(SettingRow)

class TestPageCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;
    QString videos; // the Videos folder of the test's own home
    // 0-2: clips of 2, 3 and 4 s (a row loaded shows in the slider's length); B, T, E: a
    // truncated file, a text and an empty file named like videos.
    QHash<QChar, QString> files;

    // "+01": add clips 0 and 1 ("+" alone: the dialog cancelled); "@1" ("@1R"): click
    // (right-click) row 1; "remove", "clear": their buttons; "drop": two videos and a text file
    // dropped on the list; anything else: a key by its name.
    void Run(Window &w, const QString &steps)
    {
        QMimeData dropped; // two videos and a text file
        dropped.setUrls({QUrl::fromLocalFile(files['1']),
                         QUrl::fromLocalFile(dir.filePath("a.txt")),
                         QUrl::fromLocalFile(files['2'])});
        for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
            QStringList chosen;
            for (QChar c : step.mid(1))
                chosen << files.value(c);
            if (step.startsWith(u'+')) {
                w.add(chosen);
            } else if (step.startsWith(u'@')) {
                w.clickRow(step.mid(1, 1).toInt(),
                           step.endsWith(u'R') ? Qt::RightButton : Qt::LeftButton);
            } else if (step == "remove" || step == "clear") {
                w.click(step == "remove" ? IDC_REMOVE_TASK : IDC_REMOVE_ALL);
            } else if (step == "drop") {
                QDragEnterEvent enter({50, 50}, Qt::CopyAction, &dropped, Qt::LeftButton, {});
                QDropEvent drop({50, 50}, Qt::CopyAction, &dropped, Qt::LeftButton, {});
                QApplication::sendEvent(w.list()->viewport(), &enter);
                QApplication::sendEvent(w.list()->viewport(), &drop);
            } else {
                QTest::keyClick(w.list(), QKeySequence(step)[0].key());
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
        const QString program = NewFolder(dir, folders, "program");
        UseProgramFolder(program);
        QVERIFY(QFile::link(KESTRANI_PROGRAM_DIR "/Help.html", program + "/Help.html"));
        Clip clip;
        for (const char *name : {"one.mp4", "two clip.avi", "three.mov"}) {
            clip.seconds = 2 + files.size();
            clip.sound = files.size() != 1;
            files.insert(QString::number(files.size())[0], SharedClip(clip, name));
        }
        files['B'] = dir.filePath("bad.mp4");
        files['T'] = dir.filePath("bad text.mp4");
        files['E'] = dir.filePath("bad empty.avi");
        QVERIFY(WriteFile(files['B'], Contents(MediaFile("broken.mp4"))) &&
                WriteFile(files['T'], "not a video\n") && WriteFile(files['E'], ""));
        QVERIFY(WriteFile(dir.filePath("a.txt"), "text") && !files.values().contains(""));
    }

    void listCommands_data()
    {
        QTest::addColumn<ListRow>("row");
        const QString all = "one.mp4|two clip.avi|three.mov", five = all + "|one.mp4|two clip.avi";
        const auto row = [](const char *name, ListRow r) { QTest::newRow(name) << r; };
        row("one file added: selected and loaded", {"+0", "one.mp4", 0, 0});
        row("three in one add: the last loaded", {"+012", all, 2, 0});
        row("same file twice: two tasks", {"+0 +0", "one.mp4|one.mp4", 1, 0});
        row("cancelled dialog adds nothing", {"+", "", -1, 0});
        row("truncated file added with no length, and told of", {"+0B", "one.mp4|bad.mp4", 1, 1});
        row("text and empty file: one warning names both; the video beside still loads",
            {"+T0E @1", "bad text.mp4|one.mp4|bad empty.avi", 1, 2});
        row("remove the first of three: the former second loaded",
            {"+012 @0 remove", "two clip.avi|three.mov", 0, 0});
        row("remove the middle of three: the former third loaded",
            {"+012 @1 remove", "one.mp4|three.mov", 1, 0});
        row("remove the last of three: the new last loaded",
            {"+012 remove", "one.mp4|two clip.avi", 1, 0});
        row("remove the only one empties the list", {"+0 remove", "", -1, 0});
        row("remove on an empty list does nothing", {"remove", "", -1, 0});
        row("clear removes every task", {"+012 @1 clear", "", -1, 0});
        row("click selects and loads", {"+012 @0", all, 0, 0});
        row("right click selects and loads", {"+012 @1R", all, 1, 0});
        row("Up moves up one", {"+012 Up", all, 1, 0});
        row("Up on the first row stays", {"+012 @0 Up", all, 0, 0});
        row("Down moves down one", {"+012 @0 Down", all, 1, 0});
        row("Down on the last row stays", {"+012 Down", all, 2, 0});
        row("Home and End", {"+012 Home End Up", all, 1, 0});
        row("Page Down by three", {"+01201 @0 PgDown", five, 3, 0});
        row("Page Up stops at the first row", {"+01201 @1 PgUp", five, 0, 0});
        row("dropped videos added, other files left out", {"drop", "two clip.avi|three.mov", 1, 0});
    }
    void listCommands()
    {
        QFETCH(ListRow, row);
        Window w;
        MessageBoxCloser boxes;
        Run(w, row.steps);
        QStringList shown;
        for (int task = 0; task < w.list()->GetItemCount(); ++task) {
            shown << w.cell(task, COL_SOURCE);
            QCOMPARE(w.cell(task, COL_END), FormatClock(w.page().Tasks().GetAt(task).endSeconds));
            QCOMPARE(w.rowSelected(task), task == row.current);
        }
        QCOMPARE(shown.join(u'|'), row.sources);
        QCOMPARE(w.page().CurrentTask(), row.current);
        // The clips' lengths differ: the slider shows which one is loaded.
        const double length = row.current < 0 ? -1 : w.page().Tasks().GetAt(row.current).endSeconds;
        QCOMPARE(w.preview()->IsOpen(), length > 0);
        if (length >= 0)
            QCOMPARE(w.range(), qMakePair(0.0, length));
        QTRY_COMPARE(boxes.texts.value(0).count("/bad"), row.warned);
        // The add dialog opens in the Videos folder (home without one), then where the last
        // video added came from.
        QStringList offers;
        QString last = QFileInfo(videos).isDir() ? videos : QDir::homePath();
        for (const QString &step : row.steps.split(u' ', Qt::SkipEmptyParts)) {
            if (step.startsWith(u'+'))
                offers << last;
            if (step.startsWith(u'+') && step.size() > 1)
                last = QFileInfo(files.value(step.back())).absolutePath();
        }
        QCOMPARE(w.offeredFolders, offers);
        // The narrow Source and Output cells show the whole paths on hover.
        if (row.current >= 0) {
            QCOMPARE(Tip(w, row.current, COL_SOURCE),
                     w.page().Tasks().GetAt(row.current).sourcePath);
            // The Output cell's tip also says about how large the file will be, if it can.
            const QStringList output = Tip(w, row.current, COL_OUTPUT).split(u'\n');
            const ConversionTask task = w.page().Tasks().GetAt(row.current);
            QVERIFY2(output.value(0).startsWith(u'/') &&
                         output.value(0).endsWith(w.cell(row.current, COL_OUTPUT)) &&
                         output.size() == (task.endSeconds > task.beginSeconds ? 2 : 1) &&
                         (output.size() == 1 || output.value(1).startsWith("about ")),
                     qPrintable(output.join(u'|')));
        }
    }

    void trimWithTheSlider_data()
    {
        QTest::addColumn<QString>("thumb");
        QTest::newRow("left thumb: the begin follows, the preview shows it") << "left";
        QTest::newRow("right thumb: the end follows, the preview shows it") << "right";
        QTest::newRow("the band between: both move, the preview shows the begin") << "band";
    }
    void trimWithTheSlider()
    {
        QFETCH(QString, thumb);
        Window w;
        w.add({files['1'], files['2']});
        CRangeSlider *slider = w.slider();
        const int width = slider->width();
        if (thumb == "band") { // narrowed first, so that the band can be grabbed
            Drag(slider, width - 2, width / 2);
            QTest::mouseRelease(slider, Qt::LeftButton, {}, {width / 2, slider->height() / 2});
        }
        const auto before = w.range();
        const int from = thumb == "left" ? 1 : thumb == "right" ? width - 2 : width / 4;
        const int to = thumb == "right" ? width * 3 / 5 : from + width / 4;
        Drag(slider, from, to);
        // While the mouse moves, the task and its Begin and End cells follow.
        const auto range = w.range();
        QCOMPARE(w.cell(1, COL_BEGIN) + w.cell(1, COL_END),
                 FormatClock(range.first) + FormatClock(range.second));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, {to, slider->height() / 2});
        QCOMPARE(range.first > before.first + 0.5, thumb != "right");
        QCOMPARE(range.second < before.second - 0.5, thumb == "right");
        QCOMPARE(qAbs(range.second - range.first - before.second + before.first) < 0.05,
                 thumb == "band");
        const double shown = thumb == "right" ? range.second : range.first;
        QVERIFY(qAbs(w.preview()->CurrentPosition() - shown) < 0.07);
        // The trim stays with its task: the other is untouched, and it comes back on selection.
        w.clickRow(0);
        QCOMPARE(w.range(), qMakePair(0.0, w.page().Tasks().GetAt(0).endSeconds));
        w.clickRow(1);
        QCOMPARE(w.range(), range);
        QVERIFY(qAbs(w.preview()->CurrentPosition() - range.first) < 0.07);
    }

    void settingsKept_data()
    {
        QTest::addColumn<SettingRow>("row");
        const QString gone = dir.filePath("gone/out");
        const auto row = [](const char *name, SettingRow r) { QTest::newRow(name) << r; };
        row("nothing stored: the Videos folder proposed, not made", {QVariant(), "", "VIDEOS/"});
        row("the proposed Videos folder made at Start", {QVariant(), "start", "VIDEOS/"});
        row("a stored folder that is missing is not made at Start: an Error box",
            {gone, "start", gone + "/"});
        row("folder chosen with Browse", {dir.path(), "browse", "PICKED/"});
        row("Browse cancelled keeps the stored folder", {"/data/kept", "cancel", "/data/kept/"});
        row("Simultaneous tasks set to 3", {QVariant(), "3", "3"});
        row("Simultaneous tasks set to Auto", {"2", "0", "Auto"});
        row("stored count not a number: one at a time", {"many", "", "1"});
        row("stored count more than offered: one at a time", {"99", "", "1"});
    }
    void settingsKept()
    {
        QFETCH(SettingRow, row);
        const bool folderShown = row.shown.contains(u'/');
        UseSettingsFolder(NewFolder(dir, folders, "settings"));
        if (row.stored.isValid())
            OpenTestSettings()->setValue(
                folderShown ? "destination/Default" : "simultaneous/Default", row.stored);
        const QString picked = NewFolder(dir, folders, "picked");
        row.shown.replace("VIDEOS", videos).replace("PICKED", picked);
        for (int start = 0; start < 2; ++start) {
            Window w;
            MessageBoxCloser boxes;
            w.page().chooseOutputFolder = [&](const QString &) {
                return row.act == "browse" ? picked : QString();
            };
            auto *count = qobject_cast<QSpinBox *>(w.item(IDC_SIMULTANEOUS));
            if (start == 0 && (row.act == "browse" || row.act == "cancel")) {
                w.click(IDC_BROWSE);
            } else if (start == 0 && row.act == "start") {
                w.add({files['T']}); // fails at once: only the folder matters here
                QTRY_COMPARE(boxes.texts.size(), 1);
                w.click(IDC_START);
                QTRY_COMPARE(boxes.captions.value(1),
                             row.stored.isNull() ? "Information" : "Error");
            } else if (start == 0 && !row.act.isEmpty()) {
                count->setValue(row.act.toInt());
            }
            const QString folder = qobject_cast<QLineEdit *>(w.item(IDC_OUTPUT_DIR))->text();
            QCOMPARE(folderShown ? WithTrailingSeparator(folder) : count->text(), row.shown);
        }
        QCOMPARE(QFileInfo::exists(videos), row.act == "start" && row.stored.isNull());
        QVERIFY(!QFileInfo::exists(dir.filePath("gone")));
        QDir(videos).removeRecursively();
    }

    // The batch's options: the controls as the person leaves them are what the next window
    // shows, and what Start hands the batch, or the reason it cannot start.
    void batchOptionsKept_data()
    {
        QTest::addColumn<QString>("act");     // clicks, and a size typed, in the first window
        QTest::addColumn<QString>("shown");   // largest file, its size, parts, sound, subtitles
        QTest::addColumn<QString>("started"); // the options after Start, or its box
        QTest::newRow("nothing stored: every option off, 300 KB offered") << ""
                                                                          << "- 300 KB - - -"
                                                                          << "0 0 none 0";
        QTest::newRow("split clicked without a limit: it stays off") << "split"
                                                                     << "- 300 KB - - -"
                                                                     << "0 0 none 0";
        QTest::newRow("largest file 1 MB typed, in parts: kept, the batch limited to 1 MB in parts")
            << "size:1 MB,split"
            << "x 1 MB x - -"
            << "1048576 1 none 0";
        QTest::newRow("even sound and subtitles: kept, the batch asks for -16 LUFS and subtitles")
            << "loudness,subtitles"
            << "- 300 KB - x x"
            << "0 0 -16 1";
        QTest::newRow("a largest file that is no size: Start says why in an Error box")
            << "size:lots"
            << "x lots - - -"
            << "Error: The largest file cannot be used: \"lots\" is not a size: write it as "
               "300K, 1M or a number of bytes.";
    }
    void batchOptionsKept()
    {
        QFETCH(QString, act);
        QFETCH(QString, shown);
        QFETCH(QString, started);
        UseSettingsFolder(NewFolder(dir, folders, "settings"));
        for (int start = 0; start < 2; ++start) {
            Window w;
            const auto check = [&w](int id) { return qobject_cast<QCheckBox *>(w.item(id)); };
            auto *size = qobject_cast<QComboBox *>(w.item(IDC_MAX_SIZE));
            for (const QString &step : act.split(u',', Qt::SkipEmptyParts)) {
                if (start > 0)
                    break;
                if (step.startsWith("size:")) {
                    w.click(IDC_MAX_SIZE_CHECK);
                    size->lineEdit()->selectAll();
                    QTest::keyClicks(size->lineEdit(), step.mid(5));
                } else {
                    w.click(step == "split"      ? IDC_SPLIT
                            : step == "loudness" ? IDC_LOUDNESS
                                                 : IDC_SUBTITLES);
                }
            }
            const auto mark = [&](int id) { return check(id)->isChecked() ? "x" : "-"; };
            QCOMPARE(QStringList({mark(IDC_MAX_SIZE_CHECK), size->currentText(), mark(IDC_SPLIT),
                                  mark(IDC_LOUDNESS), mark(IDC_SUBTITLES)})
                         .join(u' '),
                     shown);
            if (start > 0)
                continue;
            MessageBoxCloser boxes;
            w.add({files['T']}); // fails at once: only the options matter here
            QTRY_COMPARE(boxes.texts.size(), 1);
            w.click(IDC_START);
            QTRY_COMPARE(boxes.texts.size(), 2);
            const BatchOptions o = w.page().Engine().Options();
            QCOMPARE(boxes.captions[1] == "Error"
                         ? "Error: " + boxes.texts[1]
                         : QStringLiteral("%1 %2 %3 %4")
                               .arg(o.maxFileBytes)
                               .arg(int(o.splitIntoParts))
                               .arg(o.loudnessTarget ? QString::number(*o.loudnessTarget) : "none")
                               .arg(int(o.burnSubtitles)),
                     started);
        }
    }

    void help()
    {
        Window w;
        QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
        w.click(IDC_HELP_CONTENTS);
        // Shown by the program itself, beside the window: no web browser is needed.
        CHelpWindow *help = w.page().HelpWindow();
        QVERIFY(help && help->isVisible() && !help->isModal());
        QVERIFY(help->Browser()->toPlainText().startsWith(QStringLiteral("Kestrani Help")));
        QTest::keyClick(help->Browser(), Qt::Key_Escape);
        QVERIFY(!help->isVisible());
        QTest::keyClick(w.list(), Qt::Key_Escape); // Escape closes the help, never the window
        QVERIFY(w.frame->isVisible());
        w.frame->activateWindow();
        QTest::keyClick(w.item(IDC_OUTPUT_TYPE), Qt::Key_F1);
        QVERIFY(help->isVisible());
    }
};

QTEST_MAIN(TestPageCommands)
#include "tst_pagecommands.moc"
