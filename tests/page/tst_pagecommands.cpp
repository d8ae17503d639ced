// SPDX-License-Identifier: GPL-3.0-or-later
// The window's commands as a person gives them: adding (and being told of files that cannot be
// read), removing, clearing and selecting tasks with buttons, clicks, keys and drops; trimming
// with the slider while the preview follows; the output folder; the settings kept for the next
// start of the window; and help. The output type and profile chosen are proven by the batches
// of tst_pagebatch, whose outputs they shape.

#include "window.h"

#include "conversionengine.h"
#include "files/bytenames.h"
#include "pageconstants.h"
#include "progress/progresstext.h"

#include <QtTest>
#include <QtWidgets>

#include <unistd.h>

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

// The steps; then the Source column, the current row (the only one selected, loaded in the
// slider and the preview), the files one box named (unreadable or no video), and what the box
// says of them.
struct ListRow {
    QString steps, sources;
    int current;
    QString told, why;
};

// A setting as stored before the window opens, what the person does in that window, and what
// it and the next window show: the output folder (with a '/'), Simultaneous tasks, or where the
// window or the help window is ("window centred", "help 50,70": its frame's corner).
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
    // truncated file, a text and an empty file named like videos; A, V, K, N: clip 0 as
    // FOUR.AVI, FIVE.MOV, six.mkv and seven.bin; S: a sound file; X: a text file.
    QHash<QChar, QString> files;

    // "centred" when the window's frame is in the middle of its screen's free area (give or
    // take the window manager's title bar), else its frame's top-left corner.
    static QString Where(QWidget *window)
    {
        const QRect area = window->screen()->availableGeometry();
        const QPoint off = window->frameGeometry().center() - area.center();
        if (qAbs(off.x()) <= 30 && qAbs(off.y()) <= 30)
            return QStringLiteral("centred");
        return QStringLiteral("%1,%2").arg(window->pos().x()).arg(window->pos().y());
    }

    // The files the first box names, in its order.
    QString Named(const QString &box) const
    {
        QMap<qsizetype, QString> at;
        for (const QString &path : files)
            if (const qsizetype i = box.indexOf(path + u' '); i >= 0)
                at.insert(i, QFileInfo(path).fileName());
        return at.values().join(u'|');
    }

    // "+01": add clips 0 and 1 ("+" alone: the dialog cancelled); "@1" ("@1R"): click
    // (right-click) row 1; "remove", "clear": their buttons; "drop:01" drops clips 0 and 1 on
    // the list, "args:01" names them on the window's command line; anything else: a key.
    void Run(Window &w, const QString &steps)
    {
        for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
            QStringList chosen;
            QList<QUrl> urls;
            for (QChar c : step.contains(u':') ? step.section(u':', 1) : step.mid(1))
                chosen << files.value(c),
                    urls << QUrl::fromEncoded(
                        "file://" + bytenames::Encode(files.value(c)).toPercentEncoding("/"));
            QMimeData dropped;
            dropped.setUrls(urls);
            if (step.startsWith("args:")) {
                w.page().AddFiles(chosen); // what main() gives the window
            } else if (step.startsWith(u'+')) {
                w.add(chosen);
            } else if (step.startsWith(u'@')) {
                w.clickRow(step.mid(1, 1).toInt(),
                           step.endsWith(u'R') ? Qt::RightButton : Qt::LeftButton);
            } else if (step == "remove" || step == "clear") {
                w.click(step == "remove" ? IDC_REMOVE_TASK : IDC_REMOVE_ALL);
            } else if (step.startsWith("drop:")) {
                QDragEnterEvent enter({50, 50}, Qt::CopyAction, &dropped, Qt::LeftButton, {});
                QDropEvent drop({50, 50}, Qt::CopyAction, &dropped, Qt::LeftButton, {});
                QApplication::sendEvent(w.list()->viewport(), &enter);
                QApplication::sendEvent(w.list()->viewport(), &drop);
            } else {
                QTest::keyClick(w.list(), QKeySequence(step)[0].key());
            }
        }
    }

    // Runs this row again in a program of its own on a screen of 1280x1024 at a scale factor of
    // 2, where 640x512 is left for the window; there, checks the window and the help window.
    void SmallScreen()
    {
        if (!qEnvironmentVariableIsSet("KESTRANI_TEST_SMALL_SCREEN")) {
            const QString config = dir.filePath("small-screen.json");
            QVERIFY(WriteFile(config, R"({"screens": [{"name": "small", "x": 0, "y": 0,
                "width": 1280, "height": 1024, "logicalDpi": 192}]})"));
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + config);
            env.insert("KESTRANI_TEST_SMALL_SCREEN", "1");
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("settingsKept:") + QTest::currentDataTag()});
            QVERIFY(child.waitForFinished(60000));
            QVERIFY2(child.exitCode() == 0, child.readAll().constData());
            return;
        }
        Window w;
        const QRect area = w.frame->screen()->availableGeometry();
        QCOMPARE(area.size(), QSize(640, 512));
        QVERIFY(w.frame->LayoutScale() < 1);
        QVERIFY(area.contains(w.frame->frameGeometry()));
        // The Add button, drawn smaller, still answers a click where it is drawn.
        auto *view = w.frame->findChild<QGraphicsView *>();
        QVERIFY(view);
        const QPoint add = w.item(IDC_ADD_FILE)->geometry().center() + Page::pageOrigin;
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->mapFromScene(add));
        QCOMPARE(w.offeredFolders.size(), 1);
        // The help window is a window of its own, not drawn inside the view, and fits too.
        w.click(IDC_HELP_CONTENTS);
        CHelpWindow *help = w.page().HelpWindow();
        QVERIFY(help && help->isVisible() && !help->graphicsProxyWidget());
        QVERIFY(area.contains(help->frameGeometry()));
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
        if (qEnvironmentVariableIsSet("KESTRANI_TEST_SMALL_SCREEN"))
            return; // the one row of a small screen needs no clips
        Clip clip;
        for (const char *name : {"one.mp4", "two clip.avi", "three.mov"}) {
            clip.seconds = 2 + files.size();
            clip.sound = files.size() != 1;
            files.insert(QString::number(files.size())[0], SharedClip(clip, name));
        }
        files['B'] = dir.filePath("bad.mp4");
        files['T'] = dir.filePath("bad text.mp4");
        files['E'] = dir.filePath("bad empty.avi");
        const char *const names[] = {"FOUR.AVI", "FIVE.MOV", "six.mkv", "seven.bin"};
        for (int i = 0; i < 4; ++i) {
            files["AVKN"[i]] = dir.filePath(names[i]);
            QVERIFY(QFile::copy(files['0'], files["AVKN"[i]]));
        }
        files['S'] = SharedClip(Clip{.seconds = 1, .sar = {}, .extra = {"-vn"}}, "tone.m4a");
        files['X'] = dir.filePath("a.txt");
        // L: clip 0 under a Latin-1 name, as an old disk or archive holds it (not UTF-8).
        files['L'] = bytenames::Decode(QFile::encodeName(dir.path()) + "/caf\xe9.mp4");
        QVERIFY(::symlink(QFile::encodeName(files['0']).constData(),
                          bytenames::Encode(files['L']).constData()) == 0);
        QVERIFY(WriteFile(files['B'], Contents(MediaFile("broken.mp4"))) &&
                WriteFile(files['T'], "not a video\n") && WriteFile(files['E'], ""));
        QVERIFY(WriteFile(dir.filePath("bad text.srt"), "00:00:01,000 --> 00:00:02,000\nHi\n"));
        QVERIFY(WriteFile(files['X'], "text") && !files.values().contains(""));
    }

    void listCommands_data()
    {
        QTest::addColumn<ListRow>("row");
        const QString all = "one.mp4|two clip.avi|three.mov", five = all + "|one.mp4|two clip.avi";
        const QString others = "FOUR.AVI|FIVE.MOV|six.mkv|seven.bin";
        const auto row = [](const char *name, ListRow r) { QTest::newRow(name) << r; };
        row("three in one add: the last loaded", {"+012", all, 2, "", ""});
        row("same file twice: two tasks", {"+0 +0", "one.mp4|one.mp4", 1, "", ""});
        row("cancelled dialog adds nothing", {"+", "", -1, "", ""});
        row("truncated file added with no length, and told of",
            {"+0B", "one.mp4|bad.mp4", 1, "bad.mp4", "cannot open the file: Invalid data"});
        row("text and empty file: one box names both and why; the video beside still loads",
            {"+T0E @1", "bad text.mp4|one.mp4|bad empty.avi", 1, "bad text.mp4|bad empty.avi",
             "bad empty.avi (the file is empty)"});
        row("a sound file picked with All files is no video: left out and told of",
            {"+KS", "six.mkv", 0, "tone.m4a", "tone.m4a is not a video: it has no picture"});
        row("remove the middle of three: the former third loaded",
            {"+012 @1 remove", "one.mp4|three.mov", 1, "", ""});
        row("remove the last of three: the new last loaded",
            {"+012 remove", "one.mp4|two clip.avi", 1, "", ""});
        row("remove the only one empties the list", {"+0 remove", "", -1, "", ""});
        row("remove on an empty list does nothing", {"remove", "", -1, "", ""});
        row("clear removes every task", {"+012 @1 clear", "", -1, "", ""});
        row("click selects and loads", {"+012 @0", all, 0, "", ""});
        row("right click selects and loads", {"+012 @1R", all, 1, "", ""});
        // The keys move the view's current row as the toolkit does; the task loaded follows.
        row("Home, End and Up", {"+012 Home End Up", all, 1, "", ""});
        row("Page Down by three", {"+01201 @0 PgDown", five, 3, "", ""});
        row("dropped: upper-case names, other kinds and a video of no video name taken; a text "
            "and a sound file named in one box",
            {"drop:AVXKSN", others, 3, "a.txt|tone.m4a", "These files are not videos"});
        row("dropped: a name that is not UTF-8 (Latin-1) opens and reads as it was meant",
            {"drop:L", "café.mp4", 0, "", ""});
        row("named on the window's command line: taken and told of as dropped ones",
            {"args:AVXKSN", others, 3, "a.txt|tone.m4a", "These files are not videos"});
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
            QCOMPARE(w.list()->GetItemState(task, LVIS_SELECTED) != 0, task == row.current);
        }
        QCOMPARE(shown.join(u'|'), row.sources);
        QCOMPARE(w.page().CurrentTask(), row.current);
        // The clips' lengths differ: the slider shows which one is loaded.
        const double length = row.current < 0 ? -1 : w.page().Tasks().GetAt(row.current).endSeconds;
        QCOMPARE(w.preview()->IsOpen(), length > 0);
        if (length >= 0)
            QCOMPARE(w.range(), qMakePair(0.0, length));
        QTRY_COMPARE(Named(boxes.texts.value(0)), row.told);
        QVERIFY2(boxes.texts.value(0).contains(row.why), qPrintable(boxes.texts.value(0)));
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
        // The narrow Source and Output cells show the whole paths on hover, as the file
        // system names them (not an alias's).
        if (row.current >= 0) {
            QCOMPARE(w.tip(row.current, COL_SOURCE),
                     row.steps == "drop:L" ? dir.path() + "/café.mp4"
                                           : w.page().Tasks().GetAt(row.current).sourcePath);
            // The Output cell's tip also says about how large the file will be, if it can.
            const QStringList output = w.tip(row.current, COL_OUTPUT).split(u'\n');
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
        // At rest the trim takes whole frames (25 fps): Begin goes back to the start of its
        // frame, End on to the end of its own, while the thumbs stay where they were put.
        QCOMPARE(w.range(), range);
        const ConversionTask task = w.page().Tasks().GetAt(1);
        QVERIFY(task.beginSeconds <= range.first && task.beginSeconds > range.first - 0.04);
        QVERIFY(task.endSeconds >= range.second && task.endSeconds <= range.second + 0.04);
        QCOMPARE(w.cell(1, COL_BEGIN) + w.cell(1, COL_END),
                 FormatClock(task.beginSeconds) + FormatClock(task.endSeconds));
        // The trim stays with its task: the other is untouched, and it comes back on selection.
        w.clickRow(0);
        QCOMPARE(w.range(), qMakePair(0.0, w.page().Tasks().GetAt(0).endSeconds));
        w.clickRow(1);
        QCOMPARE(w.range(), qMakePair(task.beginSeconds, task.endSeconds));
        QCOMPARE(w.page().Tasks().GetAt(1).beginSeconds, task.beginSeconds);
        QCOMPARE(w.preview()->CurrentPosition(), task.beginSeconds);
        // The play button plays the whole video from its start, whatever the trim; the pause
        // button beside it holds it.
        w.click(IDC_PREVIEW_PLAY);
        QCOMPARE(w.preview()->GetState(), CVideoEdit::State::Playing);
        QVERIFY(w.preview()->CurrentPosition() < 0.07);
        w.click(IDC_PREVIEW_STOP);
        QCOMPARE(w.preview()->GetState(), CVideoEdit::State::Paused);
        QCOMPARE(w.range(), qMakePair(task.beginSeconds, task.endSeconds));
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
        row("folder chosen with Browse", {NewFolder(dir, folders, "stored"), "browse", "PICKED/"});
        row("Browse cancelled keeps the stored folder", {"/data/kept", "cancel", "/data/kept/"});
        row("Simultaneous tasks set to 3", {QVariant(), "3", "3"});
        row("Simultaneous tasks set to Auto", {"2", "0", "Auto"});
        row("stored count not a number: one at a time", {"many", "", "1"});
        row("stored count more than offered: one at a time", {"99", "", "1"});
        row("window: centred on the screen the first time", {QVariant(), "", "window centred"});
        row("window: opens where the user left it", {QVariant(), "move 40,60", "window 40,60"});
        row("window: a place no screen shows any more is left for the middle",
            {QPoint(5000, 4000), "", "window centred"});
        row("help window: centred, then where the user left it",
            {QVariant(), "move 50,70", "help 50,70"});
        row("a screen too small for the window (1280x1024 at a scale of 2): the page drawn "
            "smaller, whole, and its buttons still answer",
            {QVariant(), "small screen", "scaled"});
    }
    void settingsKept()
    {
        QFETCH(SettingRow, row);
        if (row.act == "small screen")
            return SmallScreen();
        const bool folderShown = row.shown.contains(u'/');
        const QString placed = row.shown.section(u' ', 0, 0);
        UseSettingsFolder(NewFolder(dir, folders, "settings"));
        if (row.stored.isValid())
            QSettings(QSettings::NativeFormat, QSettings::UserScope, "Kestrani", "Kestrani")
                .setValue(placed == "window" ? "window/Default"
                          : folderShown      ? "destination/Default"
                                             : "simultaneous/Default",
                          row.stored);
        const QString picked = NewFolder(dir, folders, "picked");
        row.shown.replace("VIDEOS", videos).replace("PICKED", picked);
        for (int start = 0; start < 2; ++start) {
            Window w;
            MessageBoxCloser boxes;
            QString offered; // where the folder dialog opens: the output folder, else home
            w.page().chooseOutputFolder = [&](const QString &folder) {
                offered = folder;
                return row.act == "browse" ? picked : QString();
            };
            auto *count = qobject_cast<QSpinBox *>(w.item(IDC_SIMULTANEOUS));
            if (placed == "window" || placed == "help") {
                QWidget *window = w.frame.get();
                if (placed == "help") {
                    w.click(IDC_HELP_CONTENTS);
                    window = w.page().HelpWindow();
                }
                if (start == 0 && row.act.startsWith("move "))
                    window->move(row.act.section(u' ', 1).section(u',', 0, 0).toInt(),
                                 row.act.section(u',', 1).toInt());
                QCOMPARE(placed + u' ' + Where(window), row.shown);
                window->close();
                continue;
            }
            if (start == 0 && (row.act == "browse" || row.act == "cancel")) {
                w.click(IDC_BROWSE);
                const QString stored = row.stored.toString();
                QCOMPARE(offered, QFileInfo(stored).isDir() ? stored + '/' : QDir::homePath());
            } else if (start == 0 && row.act == "start") {
                w.add({files['T']}); // fails at once: only the folder matters here
                QTRY_COMPARE(boxes.texts.size(), 1);
                w.click(IDC_START);
                QTRY_COMPARE(boxes.captions.value(1), row.stored.isNull() ? "Warning" : "Error");
                QCOMPARE(boxes.icons, QList({QMessageBox::Warning, row.stored.isNull()
                                                                       ? QMessageBox::Warning
                                                                       : QMessageBox::Critical}));
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
        QTest::addColumn<QString>("tip");     // the Output cell's tip line on subtitles
        const auto row = [](const char *name, const char *act, const char *shown,
                            const char *started, const char *tip) {
            QTest::newRow(name) << QString(act) << QString(shown) << QString(started)
                                << QString(tip);
        };
        row("nothing stored: every option off, 300 KB offered", "", "- 300 KB - - -", "0 0 none 0",
            "");
        row("split clicked without a limit: it stays off", "split", "- 300 KB - - -", "0 0 none 0",
            "");
        row("largest file 1 MB typed, in parts: kept, the batch limited to 1 MB in parts",
            "size:1 MB,split", "x 1 MB x - -", "1048576 1 none 0", "");
        row("even sound and subtitles: kept, the batch asks for -16 LUFS and subtitles, the tip "
            "names the file beside the video (a video of no length: no cue)",
            "loudness,subtitles", "- 300 KB - x x", "0 0 -16 1",
            "subtitles: bad text.srt (none fall within the part converted)");
        row("a largest file that is no size: Start says why in an Error box", "size:lots",
            "x lots - - -",
            "Error: The largest file cannot be used: \"lots\" is not a size: write it as 300K, "
            "1M or a number of bytes.",
            "");
    }
    void batchOptionsKept()
    {
        QFETCH(QString, act);
        QFETCH(QString, shown);
        QFETCH(QString, started);
        QFETCH(QString, tip);
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
            const QStringList lines = w.tip(0, COL_OUTPUT).split(u'\n');
            QCOMPARE(lines.filter(QRegularExpression("^subtitles: ")).join(u'\n'), tip);
        }
    }

    // The window's words for its buttons (their tips), the list's columns and the output types;
    // then its help.
    void help()
    {
        Window w;
        QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
        QStringList words;
        for (int id : {IDC_ADD_FILE, IDC_REMOVE_TASK, IDC_REMOVE_ALL, IDC_PREVIEW_PLAY,
                       IDC_PREVIEW_STOP, IDC_START, IDC_STOP})
            words << w.item(id)->toolTip();
        for (int column = 0; column < 5; ++column)
            words << w.list()
                         ->QAbstractItemView::model()
                         ->headerData(column, Qt::Horizontal)
                         .toString();
        for (int type = 0; type < 3; ++type)
            words << qobject_cast<QComboBox *>(w.item(IDC_OUTPUT_TYPE))->itemText(type);
        QCOMPARE(words.join(u'|'), "Add a video to converting task|Remove selected video|"
                                   "Remove all videos|Preview selected videos|Stop preview|"
                                   "Start Converting|Stop Converting|Source|Begin Time|End Time|"
                                   "Output|Progress|Cell Phone 3GP  files (3GP + AMR)|"
                                   "Cell Phone 3GP  files (3GP + AAC)|"
                                   "Cell Phone 3GP2 files (3GP2 + AAC)");
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
