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

using namespace support;
using namespace Page;

namespace {

// files: a clip per letter (a: 2 s, b: 1 s, x: unreadable); '*' drags the left thumb of the
// clip before it to the slider's middle. act: "stop" or "close" once `running` tasks are in
// state `when` with a file in the output folder (when 0: right after Start), or "shutdown"
// ticked before Start; `running` is also Simultaneous tasks, 0 for Auto (two at least).
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
        Clip shorter;
        shorter.seconds = 1;
        clips['a'] = SharedClip({}, "first.mp4"); // 2 s
        clips['b'] = SharedClip(shorter, "second.mp4");
        clips['x'] = MediaFile("broken.mp4");
    }

    void batch_data()
    {
        QTest::addColumn<Row>("row");
        const int pass1 = TASK_ENCODING, pass2 = TASK_EXPORTING;
        const QString twoDone = " Finished | Finished ", one = "second.3gp";
        const QString refused = "Your computer cannot shutdown";
        QTest::newRow("two convert, the first trimmed with the slider; files as umask 027 allows")
            << Row{1, "a*b", "", 0, 1, 027, twoDone, "first.3gp|" + one, finishedText, 176};
        QTest::newRow("AMR's smallest profile chosen; an unreadable file fails, the other not")
            << Row{0, "xb", "", 0, 1, 002, "Failed| Finished ", one, failed.arg(1), 128};
        QTest::newRow("Stop right after Start is a double-click's second click: ignored")
            << Row{1, "b", "stop", 0, 1, 022, " Finished ", one, finishedText, 176};
        QTest::newRow("Stop in pass 1: its partial file removed, the next task untouched")
            << Row{2, "ab", "stop", pass1, 1, 022, "Canceled|", "", failed.arg(2), 0};
        QTest::newRow("Stop with two tasks side by side cancels both")
            << Row{2, "ab", "stop", pass1, 2, 022, "Canceled|Canceled", "", failed.arg(2), 0};
        QTest::newRow("Auto: two tasks side by side, Stop cancels both")
            << Row{2, "ab", "stop", pass1, 0, 022, "Canceled|Canceled", "", failed.arg(2), 0};
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
        const Umask restricted{mode_t(row.mask)};
        // A Stop right after Start is meant, except where the Stop is a double-click's second
        // click.
        QApplication::setDoubleClickInterval(row.when == 0 ? 10000 : 0);
        const QString settings = NewFolder(dir, folders, "settings");
        const QString program = NewFolder(dir, folders, "program");
        const QString out = NewFolder(dir, folders);
        UseSettingsFolder(settings);
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
        for (QChar c : row.files) {
            if (c == u'*') { // the thumbs dragged to a third and to two thirds of the way
                CRangeSlider *slider = w->slider();
                const int y = slider->height() / 2, third = slider->width() / 3;
                for (int from : {1, slider->width() - 2}) {
                    const QPoint to(from == 1 ? third : 2 * third, y);
                    QTest::mousePress(slider, Qt::LeftButton, {}, {from, y});
                    QTest::mouseMove(slider, to);
                    QTest::mouseRelease(slider, Qt::LeftButton, {}, to);
                }
                lengths.removeLast();
            } else {
                w->add({clips[c]});
            }
            if (c != u'x')
                lengths << w->range().second - w->range().first;
        }
        QTRY_COMPARE(boxes.texts.size(), row.files.count(u'x')); // told of at once

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

        QStringList cells, made;
        for (int task = 0; task < w->page().Tasks().Count(); ++task) {
            cells << w->cell(task, COL_PROGRESS);
            // The Output column names the file each task makes: its video's name, the type's
            // extension.
            const QString named = w->cell(task, COL_OUTPUT);
            QCOMPARE(named, QFileInfo(w->page().Tasks().GetAt(task).sourcePath).completeBaseName() +
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
        QCOMPARE(boxes.texts.mid(row.files.count(u'x')),
                 row.box.isEmpty() ? QStringList() : QStringList{row.box});
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
        QCOMPARE(ModeOf(settings + "/Kestrani/Kestrani.conf"), mode);
    }
};

QTEST_MAIN(TestPageBatch)
#include "tst_pagebatch.moc"
