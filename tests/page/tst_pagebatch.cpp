// SPDX-License-Identifier: GPL-3.0-or-later
// Batches run from the real window: the Progress cells a person watches, the controls greyed
// while the batch runs and given back after it, Stop (and the second click of a double-click on
// Start, which is no Stop), the window closed mid-batch, the closing message, the files left in
// the output folder and their permissions. The 3GP types run the shipped profiles and tools; the
// 3G2 type runs stand-in passes slow enough to stop in any of its five.

#include "engine.h"
#include "window.h"

#include "pageconstants.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/fsuid.h>

using namespace support;
using namespace Page;

namespace {

// files: a clip per letter (a: 2 s, b: 1 s, f and g: 2 s at 15 fps, which the profiles keep
// frame for frame, x: unreadable, p: a copy of b that cannot be opened when it is added, and
// can at Start); '*' drags the thumbs of the clip before it, '>' moves them with the arrow
// keys, '@' clicks the first row. The preview's pictures at Begin and End, at rest after each,
// are compared with the first and last pictures of the f and g outputs. act: "stop" or "close"
// once `running` tasks are in state `when` with a file in the output folder (when 0: right
// after Start), or "shutdown" ticked before Start; `running` is also Simultaneous tasks, 0 for
// Auto (two at least).
struct Row {
    int type; // with its first profile chosen
    QString files, act;
    int when, running, mask;
    QString progress; // the Progress cells after the batch
    QString left;     // the files in the output folder after it
    QString box;      // the closing message; none when the window was closed
    int width;        // of the outputs' picture
};

// What a running batch refuses: the list's commands, the folder, the slider, the preview, and
// the output settings.
const int batchRefused[] = {IDC_ADD_FILE,     IDC_REMOVE_TASK,  IDC_REMOVE_ALL,   IDC_BROWSE,
                            IDC_RANGE_SLIDER, IDC_PREVIEW_PLAY, IDC_PREVIEW_STOP, IDC_OUTPUT_TYPE,
                            IDC_PROFILE_LIST, IDC_SHUTDOWN,     IDC_SIMULTANEOUS};

const QString failed = QStringLiteral("%1 of 2 videos failed: see the Progress column");

// Which of the frames of `file` (starting at `times`) near `seconds` a picture shows: the
// closest. Encoding changes a picture a little; a frame's neighbours differ more.
int FrameIn(const QImage &picture, const QString &file, const std::vector<double> &times,
            double seconds)
{
    static QHash<QString, QImage> decoded; // each frame once
    const auto at = std::lower_bound(times.begin(), times.end(), IntervalStart(times, seconds));
    const int near = int(at - times.begin());
    int best = -1;
    double bestPsnr = -1.0;
    for (int i = std::max(0, near - 2); i <= std::min(int(times.size()) - 1, near + 2); ++i) {
        const QString key =
            QStringLiteral("%1 %2x%3").arg(i).arg(picture.width()).arg(picture.height());
        if (!decoded.contains(key))
            decoded.insert(key, FfmpegFrame(file, times, times[i], picture.size()));
        if (const double psnr = Psnr(picture, decoded[key]); psnr > bestPsnr)
            best = i, bestPsnr = psnr;
    }
    return best;
}

} // namespace

Q_DECLARE_METATYPE(Row)

class TestPageBatch : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;
    QHash<QChar, QString> clips;

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        clips['a'] = SharedClip({}, "first.mp4"); // 2 s
        clips['b'] = SharedClip({.seconds = 1}, "second.mp4");
        clips['x'] = MediaFile("broken.mp4");
        clips['f'] = SharedClip({.seconds = 2, .rate = "15", .gop = 15}, "fifteen.mp4");
        clips['g'] = dir.filePath("sixteen.mp4"); // the same, named to come after it
        QVERIFY(QFile::copy(clips['f'], clips['g']));
    }

    void batch_data()
    {
        QTest::addColumn<Row>("row");
        const int pass1 = TASK_ENCODING, pass2 = TASK_EXPORTING;
        const QString twoDone = " Finished | Finished ", one = "second.3gp";
        const QString refused =
            "The computer cannot be shut down: the system bus cannot be reached "
            "(Failed to connect to socket "
            "/nonexistent/kestrani-tests-have-no-bus: No such file or "
            "directory)";
        QTest::newRow("two convert, the first trimmed with the slider; files as umask 027 allows")
            << Row{1, "a*b", "", 0, 1, 027, twoDone, "first.3gp|" + one, finishedText, 176};
        QTest::newRow("AMR's smallest profile chosen; an unreadable file fails, the other not")
            << Row{0, "xb", "", 0, 1, 002, "Failed| Finished ", one, failed.arg(1), 128};
        QTest::newRow("a file that could not be opened when added (no permission): read again "
                      "at Start, it converts")
            << Row{1, "bp", "", 0, 1, 022, twoDone, one + "|unlocked.3gp", finishedText, 176};
        QTest::newRow("thumbs dragged between frames, moved with the arrow keys, the row clicked "
                      "again: Begin's picture and End's are the output's first and last")
            << Row{1,  "f*g>@", "", 0, 1, 022, twoDone, "fifteen.3gp|sixteen.3gp", finishedText,
                   176};
        QTest::newRow("Stop right after Start is a double-click's second click: ignored")
            << Row{1, "b", "stop", 0, 1, 022, " Finished ", one, finishedText, 176};
        QTest::newRow("Stop in pass 1: its partial file removed, the next task untouched") << Row{
            2, "ab", "stop", pass1, 1, 022, "Canceled|", "", "1 of 2 videos stopped, 1 not started",
            0};
        QTest::newRow("Auto: two tasks side by side, Stop cancels both") << Row{
            2, "ab", "stop", pass1, 0, 022, "Canceled|Canceled", "", "2 of 2 videos stopped", 0};
        QTest::newRow("shutdown ticked: the computer asked to turn off, which it refuses here")
            << Row{1, "b", "shutdown", 0, 1, 022, " Finished ", one, refused, 176};
        QTest::newRow("window closed in pass 1: stopped, its partial file removed, no message")
            << Row{2, "ab", "close", pass1, 1, 022, "Canceled|", "", "", 0};
        QTest::newRow("window closed in pass 2 of 3G2: stopped, every file removed")
            << Row{2, "ab", "close", pass2, 1, 022, "Canceled|", "", "", 0};
        QTest::newRow("window closed right after Start: stopped all the same")
            << Row{1, "b", "close", 0, 1, 022, "Canceled", "", "", 0};
    }
    void batch()
    {
        QFETCH(Row, row);
        const auto umaskBack = qScopeGuard([was = ::umask(mode_t(row.mask))] { ::umask(was); });
        // A Stop right after Start is meant, except where the Stop is a double-click's second
        // click.
        QApplication::setDoubleClickInterval(row.when == 0 ? 10000 : 0);
        const QString program = NewFolder(dir, folders, "program");
        const QString out = NewFolder(dir, folders);
        UseSettingsFolder(NewFolder(dir, folders, "settings"));
        UseProgramFolder(program, {{"3GP2_AAC_Profile.ini", StandInProfile(2, dir.filePath("q"))}});

        auto w = std::make_unique<Window>();
        MessageBoxCloser boxes;
        qobject_cast<QComboBox *>(w->item(IDC_OUTPUT_TYPE))->setCurrentIndex(row.type);
        auto *profiles = qobject_cast<QListWidget *>(w->item(IDC_PROFILE_LIST));
        profiles->setCurrentRow(0);
        // The type's own profiles and description are shown: AMR, AAC, the 3G2 stand-in.
        const QString own = QStringList{"AMR", "AAC", "stand-in"}[row.type];
        QVERIFY(profiles->currentItem()->text().contains(own));
        QVERIFY(qobject_cast<QLabel *>(w->item(IDC_OUTPUT_DESCRIPTION))->text().contains(own));
        qobject_cast<QCheckBox *>(w->item(IDC_SHUTDOWN))->setChecked(row.act == "shutdown");
        qobject_cast<QSpinBox *>(w->item(IDC_SIMULTANEOUS))->setValue(row.running);
        const int running = row.running > 0 ? row.running : 2; // Auto: two here at least
        w->page().chooseOutputFolder = [&](const QString &) { return out; };
        w->click(IDC_BROWSE);
        QList<double> lengths; // what each output must last: its clip, or the trim on the slider
        QMap<int, QImage> begins, ends; // of the f tasks: the pictures at rest at Begin and End
        const auto shown = [&](QMap<int, QImage> &at, int task) {
            if (QFileInfo(w->page().Tasks().GetAt(task).sourcePath).size() ==
                QFileInfo(clips['f']).size())
                at[task] = w->preview()->CurrentFrame();
        };
        for (QChar c : row.files) {
            const int last = w->page().Tasks().Count() - 1;
            CRangeSlider *slider = w->slider();
            if (c == u'*') { // the thumbs dragged to a third and to two thirds of the way
                const int y = slider->height() / 2, third = slider->width() / 3;
                for (int from : {1, slider->width() - 2}) {
                    const QPoint to(from == 1 ? third : 2 * third, y);
                    QTest::mousePress(slider, Qt::LeftButton, {}, {from, y});
                    QTest::mouseMove(slider, to);
                    QTest::mouseRelease(slider, Qt::LeftButton, {}, to);
                    shown(from == 1 ? begins : ends, last);
                }
                lengths.removeLast();
            } else if (c == u'>') { // End down nine steps, both up seven, End down one
                for (int i = 0; i < 9; ++i)
                    QTest::keyClick(slider, Qt::Key_Left, Qt::ShiftModifier);
                for (int i = 0; i < 7; ++i)
                    QTest::keyClick(slider, Qt::Key_Right);
                shown(begins, last);
                QTest::keyClick(slider, Qt::Key_Left, Qt::ShiftModifier);
                shown(ends, last);
                lengths.removeLast();
            } else if (c == u'@') {
                w->clickRow(0);
                shown(begins, 0);
                continue;
            } else if (c == u'p') { // no permission to read it, even for root, while it is added
                const QString folder = NewFolder(dir, folders, "locked");
                const QString locked = folder + "/unlocked.mp4";
                const auto through = QFile::Permissions(0x7711); // rwx--x--x: the file is found
                QVERIFY(QFile::setPermissions(dir.path(), through) &&
                        QFile::setPermissions(folder, through));
                QVERIFY(QFile::copy(clips['b'], locked) && QFile::setPermissions(locked, {}));
                const uid_t was = ::setfsuid(65534);
                w->add({locked});
                ::setfsuid(was);
                QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadOther));
                lengths << 1.0; // read again at Start
            } else {
                w->add({clips[c]});
            }
            if (c != u'x' && c != u'p') {
                const ConversionTask task =
                    w->page().Tasks().GetAt(last + (c != u'*' && c != u'>'));
                lengths << task.endSeconds - task.beginSeconds;
            }
        }
        const int told = row.files.count(u'x') + row.files.count(u'p');
        QTRY_COMPARE(boxes.texts.size(), told); // told of at once
        QVERIFY2(!row.files.contains(u'p') || boxes.texts.join("").contains("Permission denied"),
                 qPrintable(boxes.texts.join("")));

        const QRegularExpression progressLine(
            R"(^\d\d:\d\d:\d\d  \d+\.\d\dMB  (\d+\.\d\d)Frames/s  %\d+ $)");
        double rate = -1; // Frames/s in the first progress line seen
        bool greyed = true, acted = false, exported = false;
        const auto act = [&] {
            acted = true;
            row.act == "stop" ? w->click(IDC_STOP) : void(w->frame->close());
        };
        const auto state = [&](int task) { return w->page().Tasks().GetAt(task).state; };
        QTimer probe; // every pass of the event loop, in which the batch runs
        connect(&probe, &QTimer::timeout, [&] {
            if (!w->page().IsConverting())
                return;
            for (int id : batchRefused)
                greyed = greyed && !w->item(id)->isEnabled();
            greyed = greyed && w->item(IDC_STOP)->isVisible() && !w->item(IDC_START)->isVisible() &&
                     w->preview()->GetState() != CVideoEdit::State::Playing;
            const QString text = w->cell(0, COL_PROGRESS);
            exported = exported || text == "Exporting";
            if (const auto line = progressLine.match(text); rate < 0 && line.hasMatch())
                rate = line.captured(1).toDouble();
            // In pass 1 the act waits for the progress line, which the stand-in shows at once.
            if (!acted && row.when > 0 && state(0) == row.when && state(running - 1) == row.when &&
                !FilesIn(out).isEmpty() &&
                (row.when != TASK_ENCODING || progressLine.match(text).hasMatch()))
                act();
        });
        probe.start(0);
        w->click(IDC_PREVIEW_PLAY); // Start stops the preview
        w->click(IDC_START);
        if ((row.act == "stop" || row.act == "close") && row.when == 0)
            act();
        // A closed window ends the program: the window goes once the batch has wound down.
        QVERIFY(QTest::qWaitFor(
            [&] { return row.act == "close" ? w->frame->isHidden() : !w->page().IsConverting(); },
            60000));
        probe.stop();

        QList<QPair<double, double>> trims;
        QStringList cells, made;
        for (int task = 0; task < w->page().Tasks().Count(); ++task) {
            const ConversionTask t = w->page().Tasks().GetAt(task);
            trims << qMakePair(t.beginSeconds, t.endSeconds);
            cells << w->cell(task, COL_PROGRESS);
            // A Failed cell tells why on hover, in the words the log keeps; no other cell has
            // a tip.
            const QString tip = w->tip(task, COL_PROGRESS);
            QCOMPARE(tip.isEmpty(), cells.last() != "Failed");
            QVERIFY2(tip.isEmpty() || Contents(program + "/app/log.txt").contains(tip.toUtf8()),
                     qPrintable(tip));
            // The Output column names the file each task makes: its video's name, the type's
            // extension.
            const QString named = w->cell(task, COL_OUTPUT);
            QCOMPARE(named, QFileInfo(t.sourcePath).completeBaseName() +
                                (row.type == 2 ? ".3g2" : ".3gp"));
            if (cells.last() == " Finished ")
                made << named;
        }
        if (row.act == "close")
            w.reset(); // the program ends with its window
        QCOMPARE(FilesIn(out).join(u'|'), row.left);
        made.sort();
        QCOMPARE(made.join(u'|'), row.left);
        // The stand-in's frames by the time since the task started: so many a second, not a
        // millisecond or a minute.
        QVERIFY2(row.when != TASK_ENCODING || (rate > 0.1 && rate < 1000),
                 qPrintable(QString::number(rate)));
        QVERIFY(ProcessesUsing(out).isEmpty() && ChildProcesses().isEmpty());
        QVERIFY2(greyed, "the batch's controls greyed, Stop in Start's place, the preview still");
        QCOMPARE(cells.join(u'|'), row.progress);
        QVERIFY(exported || !row.progress.startsWith(" Fin"));
        QCOMPARE(boxes.texts.mid(told), row.box.isEmpty() ? QStringList() : QStringList{row.box});
        if (!row.box.isEmpty()) // a warning only when a video failed
            QCOMPARE(boxes.icons.last(), row.box.contains("failed") ? QMessageBox::Warning
                                         : row.act == "shutdown"    ? QMessageBox::Critical
                                                                    : QMessageBox::Information);
        for (int id : batchRefused) // given back
            QVERIFY(!w || w->item(id)->isEnabled());
        QVERIFY(!w || (w->item(IDC_START)->isVisible() && !w->item(IDC_STOP)->isVisible()));
        w.reset();

        // Each output lasts as long as its task's trim, is of the type and profile chosen, and
        // has the permissions the umask allows.
        const mode_t mode = 0666 & ~mode_t(row.mask);
        const QStringList outputs = row.left.split(u'|', Qt::SkipEmptyParts);
        for (int k = 0; k < outputs.size(); ++k) {
            const QJsonObject media = Probe(out + "/" + outputs[k]);
            QVERIFY2(qAbs(Duration(media) - lengths[k]) < 0.15, qPrintable(outputs[k]));
            QCOMPARE(StreamOf(media, "video")["width"].toInt(), row.width);
            QCOMPARE(ModeOf(out + "/" + outputs[k]), mode);
        }
        if (row.progress.contains("Failed"))
            QCOMPARE(ModeOf(program + "/app/log.txt"), mode);

        // The picture at rest at Begin is the frame on screen then, and the output's first; the
        // picture at End is the frame on screen just before, and the output's last.
        const QString f = clips['f'];
        const std::vector<double> times = FrameTimes(f);
        for (auto it = begins.begin(); it != begins.end(); ++it) {
            const int k = it.key();
            const QString output = out + "/" + outputs[k];
            const std::vector<double> made = FrameTimes(output);
            const auto [begin, end] = trims[k];
            const QImage first = FfmpegFrame(output, made, made.front(), it->size());
            const QImage last = FfmpegFrame(output, made, made.back(), ends[k].size());
            const int atBegin = FrameIn(*it, f, times, begin);
            QCOMPARE(atBegin, FrameIn(first, f, times, begin));
            QCOMPARE(times[atBegin], IntervalStart(times, begin));
            const int atEnd = FrameIn(ends[k], f, times, end);
            QCOMPARE(atEnd, FrameIn(last, f, times, end));
            QCOMPARE(times[atEnd], IntervalStart(times, end - 1e-4));
        }
    }
};

QTEST_MAIN(TestPageBatch)
#include "tst_pagebatch.moc"
