// SPDX-License-Identifier: GPL-3.0-or-later
// Faults from outside while a batch runs, with the real tools: the disk fills in a pass, the
// output folder turns read-only, a source goes away or is replaced, the last tool fails, crashes,
// hangs with a tool of its own or is missing. The task that meets one ends "Failed" with its reason
// in its row and in the log, leaves no file that could pass for a converted one, the user's files
// stay as they were, no tool is left running and the batch goes on. Then the read-back check that
// stands between the tools' word and "Finished", on crafted files a phone could not play, and on
// sources whose headers, timing or tracks are odd: their good conversions must finish.
#include "engine.h"
#include "mediacheck/outputcheck.h"

#include <QRegularExpression>
#include <QStorageInfo>

#include <unistd.h>

using namespace support;

namespace {

enum Fault { SourceGone, SourceReplaced, ReadOnly, DiskFull, Tool, UserCopy };
enum Crafted { Good, Cut, ShortSound, Silent, SoundOnly, Text, Zeroed, BadAmr };
enum Odd { VfrBFrames, HeaderLies, EmptyTrack, SlideShow, NoSound, TailDamaged, FirstCut, Empty };

// Zeroes `bytes` bytes of a copy of `path` from `at` (the middle when negative); the copy's path.
QString Damaged(const QString &path, const QString &copy, qint64 at, qint64 bytes)
{
    QByteArray data = Contents(path);
    const qint64 from = at < 0 ? data.size() / 2 : at;
    data.replace(from, bytes, QByteArray(bytes, '\0'));
    return WriteFile(copy, data) ? copy : QString();
}

// Where ffprobe finds the packets of one stream ("v", "a"): pairs of position and size.
QList<QPair<qint64, qint64>> PacketsOf(const QString &path, const char *stream)
{
    QList<QPair<qint64, qint64>> packets;
    const QByteArray out =
        RunTool("ffprobe", {"-v", "error", "-select_streams", stream, "-show_entries",
                            "packet=pos,size", "-of", "json", "file:" + path})
            .out;
    for (const QJsonValue p : QJsonDocument::fromJson(out)["packets"].toArray())
        packets.append({p["pos"].toString().toLongLong(), p["size"].toString().toLongLong()});
    return packets;
}

// The shipped first 3GP + AAC entry (row 0) and copies of it whose last pass, the tagging
// tool's, exits with 3 (row 1), crashes (2), hangs with a child of its own (3) or is missing (4).
QString Profiles()
{
    const QString shipped = QString::fromUtf8(Contents(builtApp + "3GP_AAC_Profile.ini"));
    const QRegularExpression entry("^(Pass[123]|Check)=.*$", QRegularExpression::MultilineOption);
    QStringList real; // Pass1, Pass2, Pass3, Check of the first entry
    for (auto it = entry.globalMatch(shipped); it.hasNext() && real.size() < 4;)
        real.append(it.next().captured());
    const QString fake = "Pass3=" KESTRANI_TEST_BIN_DIR "/fake_encoder --silent --frames 1 ";
    const QStringList last{real.value(2), fake + "--exit 3", fake + "--crash",
                           fake + "--hang --spawn --tag \"$OUTPUT_DIR\"",
                           "Pass3=kestrani-no-such-tool"};
    QString text = "[Info]\nDescription=faults\nDefaultProfile=1\n";
    for (int i = 0; i < last.size(); ++i)
        text += QStringLiteral("[E%1]\nTitle=e%1\n%2\n%3\n%4\n%5\n")
                    .arg(i)
                    .arg(real.value(0), real.value(1), last[i], real.value(3));
    return text;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    EnginePaths paths;
    QString clip;
    qint64 outputBytes = 0; // what a finished output of the clip takes
    QStringList mounts;
    int folders = 0;
    std::unique_ptr<Batch> odd; // of the odd sources, in their order

    bool RunOddSources()
    {
        const QString sources = NewFolder(dir, folders, "odd");
        // 30 fps for a second, then every seventh frame
        const Clip vfr{.seconds = 3,
                       .rate = "30",
                       .video = "libx264",
                       .extra = {"-vf", "select='lt(t,1)+gte(t,1)*not(mod(n,7))'", "-fps_mode",
                                 "vfr", "-bf", "3"}};
        // The sound goes on after the picture; the header gives both its length.
        const Clip lies{
            .seconds = 2.5, .video = "wmv2", .audio = "wmav2", .extra = {"-vf", "trim=end=1.5"}};
        const Clip track{.audio = "pcm_s16le", .extra = {"-af", "atrim=end=0"}};
        const Clip slides{.seconds = 3, .rate = "1"}, mute{.sound = false},
            tail{.seconds = 3, .video = "libx264"};
        const Clip dv{.size = "720x576", .seconds = 0.2, .sound = false, .video = "dvvideo"};
        QStringList files{SharedClip(vfr, "vfr.mp4"),     SharedClip(lies, "lies.wmv"),
                          SharedClip(track, "track.mkv"), SharedClip(slides, "slides.mp4"),
                          SharedClip(mute, "mute.mp4"),   SharedClip(tail, "tail.mp4"),
                          SharedClip(dv, "first-cut.dv"), sources + "/empty.mp4"};
        const auto pictures = PacketsOf(files[TailDamaged], "v"); // 25 a second
        for (auto it = pictures.end() - 25; it != pictures.end(); ++it)
            files[TailDamaged] =
                Damaged(files[TailDamaged], sources + "/tail.mp4", it->first, it->second);
        files[FirstCut] = sources + "/first-cut.dv";
        if (!WriteFile(files[FirstCut], Contents(SharedClip(dv, "first-cut.dv")).left(4096)) ||
            !WriteFile(files[Empty], {}) || files.contains(QString()))
            return false;
        QFile::remove(paths.logFile); // the log of this batch alone
        odd = std::make_unique<Batch>(paths, 0, NewFolder(dir, folders));
        odd->host.profileRow = 2; // the default: its rate buffer is the first to be too small
        odd->engine.SetSimultaneousTasks(2);
        for (const QString &file : files)
            odd->Add(file, Duration(Probe(file)));
        return odd->Run(180000);
    }

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        paths = MakeProgramFolder(dir.filePath("program"), {{"3GP_AAC_Profile.ini", Profiles()}});
        QVERIFY(paths.IsValid());
        clip = SharedClip(Clip{.seconds = 1.0});
        Batch batch(paths, 1, NewFolder(dir, folders));
        batch.Add(clip, 1.0);
        QVERIFY(batch.Run() && batch.Finished(0));
        outputBytes = QFileInfo(batch.OutputOf(0)).size();
    }

    void cleanup()
    {
        for (const QString &folder : std::as_const(mounts))
            RunTool("umount", {"-l", folder});
        mounts.clear();
    }

    // Two tasks of the clip; the fault meets the first, or the second where the folder turns
    // read-only after the first. `finished`: per task, y or n.
    void faultFailsTheTask_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("logText"); // in the failed task's log entry
        QTest::addColumn<int>("profile");
        QTest::addColumn<int>("fullFrom"); // the disk: full as this state shows, before its pass
        QTest::addColumn<QString>("finished");
        QTest::newRow("source deleted before its turn")
            << int(SourceGone) << "does not exist" << 0 << 0 << "ny";
        QTest::newRow("source replaced while pass 1 reads it")
            << int(SourceReplaced) << "removed, truncated or replaced" << 0 << 0 << "ny";
        QTest::newRow("output folder turns read-only after the first task")
            << int(ReadOnly) << "cannot be written any more" << 0 << 0 << "yn";
        QTest::newRow("disk full in pass 1: the encoder says so")
            << int(DiskFull) << "No space left" << 0 << int(TASK_ENCODING) << "ny";
        QTest::newRow("disk full in pass 3: the tagger ends with 0, its file cut short")
            << int(DiskFull) << "file is cut short" << 0 << int(TASK_EXPORTING) << "ny";
        QTest::newRow("last tool exits with 3 after the output was written")
            << int(Tool) << "exit code 3" << 1 << 0 << "nn";
        QTest::newRow("last tool crashes") << int(Tool) << "ended abnormally" << 2 << 0 << "nn";
        QTest::newRow("last tool hangs with a child of its own: both are ended")
            << int(Tool) << "no progress for too long" << 3 << 0 << "nn";
        QTest::newRow("last tool missing") << int(Tool) << "did not start" << 4 << 0 << "nn";
        QTest::newRow("the user's file copied over the output's placeholder in pass 1: kept")
            << int(UserCopy) << "a.3gp was written over or removed by someone else" << 0 << 0
            << "ny";
    }
    void faultFailsTheTask()
    {
        QFETCH(int, fault);
        QFETCH(QString, logText);
        QFETCH(int, profile);
        QFETCH(int, fullFrom);
        QFETCH(QString, finished);
        const QString out = NewFolder(dir, folders);
        if (fault == DiskFull || fault == ReadOnly) {
            // A real "no space left" and a real read-only remount: root ignores permissions.
            if (::geteuid() != 0)
                QSKIP("a file system of its own needs root");
            QVERIFY(RunTool("mount", {"-t", "tmpfs", "-o", "size=4m", "tmpfs", out}).ok());
            mounts.append(out);
        }
        QVERIFY(WriteFile(out + "/mine.txt", "the user's own file"));
        const QString sources = NewFolder(dir, folders, "src");
        for (const char *name : {"/a.mp4", "/b.mp4"})
            QVERIFY(QFile::copy(clip, sources + name));
        QFile::remove(paths.logFile);

        Batch batch(paths, 1, out);
        batch.host.profileRow = profile;
        batch.Add(sources + "/a.mp4", 1.0);
        batch.Add(sources + "/b.mp4", 1.0);
        if (profile == 3)
            batch.engine.SetStallSeconds(1);
        batch.engine.SetSimultaneousTasks(fault == Tool ? 2 : 1); // side by side: sooner over
        if (fault == DiskFull) {
            // Too long a title for the room in the file: the tagger writes the file anew.
            ConversionTask task = batch.tasks.GetAt(0);
            task.title = QString(1000, u't');
            batch.tasks.SetAt(0, task);
        }
        if (fault == SourceGone)
            QVERIFY(QFile::remove(sources + "/a.mp4"));
        const QString filler = out + "/filler";
        bool struck = fault == SourceGone || fault == Tool;
        batch.host.onProgress = [&](int row) {
            if (row != 0)
                return;
            if (fault == DiskFull && struck && batch.State(0) == TASK_FAILED)
                QFile::remove(filler); // the next task has room again
            if (!struck && fault == SourceReplaced && batch.tasks.GetAt(0).encodedSeconds > 0)
                struck = QFile::copy(clip, sources + "/new") &&
                         ::rename(QFile::encodeName(sources + "/new").constData(),
                                  QFile::encodeName(sources + "/a.mp4").constData()) == 0;
            if (!struck && fault == UserCopy && batch.State(0) == TASK_ENCODING)
                struck = WriteFile(out + "/a.3gp", "the user's copy"); // in place, as cp does
            if (!struck && fault == ReadOnly && batch.Finished(0))
                struck = RunTool("mount", {"-o", "remount,ro", out}).ok();
            if (!struck && fault == DiskFull && batch.State(0) == fullFrom) {
                // Before pass 3: room for what pass 2 writes and a little more.
                const qint64 room = fullFrom == TASK_EXPORTING ? outputBytes + 8192 : 0;
                const qint64 fill = (QStorageInfo(out).bytesAvailable() - room) / 4096 * 4096;
                struck = WriteFile(filler, QByteArray(fill, 'u'));
            }
        };
        QVERIFY(batch.Run() && struck);

        const QString log = QString::fromUtf8(Contents(paths.logFile));
        QVERIFY2(TaskEntry(paths, fault == ReadOnly).contains(logText), qPrintable(log));
        QStringList expected{"mine.txt"};
        if (fault == UserCopy)
            expected.append("a.3gp");
        for (int row = 0; row < 2; ++row) {
            const bool ok = finished.at(row) == u'y';
            QVERIFY2(batch.Finished(row) == ok, qPrintable(log));
            if (ok)
                expected.append(QFileInfo(batch.OutputOf(row)).fileName());
            else
                QCOMPARE(ProgressText(batch.tasks.GetAt(row)), QStringLiteral("Failed"));
            QCOMPARE(batch.host.failures.value(row).isEmpty(), ok);
        }
        // The second task ran: it started its first pass unless the folder refused it.
        QCOMPARE(batch.host.states.value(1).value(0) == TASK_ENCODING, fault != ReadOnly);
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages.at(0).text,
                 QStringLiteral("%1 of 2 videos failed: see the Progress column")
                     .arg(finished.count(u'n')));
        // Nothing of a failed task is left; the user's files are as they were.
        expected.sort();
        QCOMPARE(FilesIn(out), expected);
        QCOMPARE(Contents(out + "/mine.txt"), QByteArray("the user's own file"));
        if (fault == UserCopy)
            QCOMPARE(Contents(out + "/a.3gp"), QByteArray("the user's copy"));
        QCOMPARE(Contents(sources + "/b.mp4"), Contents(clip));
        QTRY_VERIFY_WITH_TIMEOUT(ProcessesUsing(out + "/").isEmpty(), 3000);
        QCOMPARE(ChildProcesses(), QList<int>{});
    }

    // A folder that is read-only from the start: an Error box says so and nothing runs.
    void readOnlyFolderAtStart()
    {
        const QString out = NewFolder(dir, folders);
        if (::geteuid() != 0)
            QSKIP("a file system of its own needs root");
        QVERIFY(RunTool("mount", {"-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", out}).ok());
        mounts.append(out);
        Batch batch(paths, 1, out);
        batch.Add(clip, 1.0);
        QVERIFY(batch.Run());
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages.at(0).text,
                 "  The output directory \"" + out + "\" cannot be written   ");
        QCOMPARE(batch.host.messages.at(0).caption, QStringLiteral("Error"));
        QVERIFY(batch.host.states.isEmpty() && ChildProcesses().isEmpty());
    }

    // The read-back check on crafted files, against "brand codec WIDTHxHEIGHT rate" and a
    // length: each fault is one a phone would meet.
    void readBackCheck_data()
    {
        QTest::addColumn<int>("file");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("fault"); // in the answer; empty for a good file
        const QString ok = "3gp4 h263 176x144 15";
        QTest::newRow("length within one frame") << int(Good) << ok << 2.05 << "";
        QTest::newRow("3GP where a 3G2 is wanted")
            << int(Good) << "3g2a h263 176x144 15" << 2.0 << "file type is 3gp4";
        QTest::newRow("wrong codec") << int(Good) << "3gp4 mpeg4 176x144 15" << 2.0
                                     << "picture is coded as h263 instead of mpeg4";
        QTest::newRow("wrong size") << int(Good) << "3gp4 h263 352x144 15" << 2.0
                                    << "picture is 176x144 instead of 352x144";
        QTest::newRow("rate above the cap")
            << int(Good) << "3gp4 h263 176x144 10" << 2.0 << "picture runs at 15 frames per second";
        QTest::newRow("picture shorter than the part")
            << int(Good) << ok << 3.0 << "picture lasts 2.00 s instead of 3.00 s";
        QTest::newRow("picture longer than the part")
            << int(Good) << ok << 1.8 << "picture lasts 2.00 s instead of 1.80 s";
        QTest::newRow("3000 zeroed bytes amid the media data: it does not decode cleanly")
            << int(Zeroed) << ok << 2.0 << "does not decode cleanly";
        QTest::newRow("AMR frames zeroed: marked bad, though a decoder plays them")
            << int(BadAmr) << "3gp4 h263 176x144 10" << 9.67 << "sound does not decode cleanly";
        QTest::newRow("truncated: the index lists samples that are gone")
            << int(Cut) << ok << 2.0 << "file is cut short";
        QTest::newRow("sound cut short") << int(ShortSound) << ok << 2.0 << "sound lasts 1.0";
        QTest::newRow("soundless although the source has sound")
            << int(Silent) << ok << 2.0 << "has no sound";
        QTest::newRow("sound only") << int(SoundOnly) << ok << 2.0 << "has no picture";
        QTest::newRow("not a video") << int(Text) << ok << 2.0 << "cannot be read back";
    }
    void readBackCheck()
    {
        QFETCH(int, file);
        QFETCH(QString, expected);
        QFETCH(QString, fault);
        // 2 s of H.263 at 15 frames per second with sound, in 3GP; the index first where cut
        // (a file cut short still opens).
        const QStringList extra = file == Cut          ? QStringList{"-movflags", "+faststart"}
                                  : file == ShortSound ? QStringList{"-af", "atrim=end=1"}
                                  : file == SoundOnly  ? QStringList{"-vn"}
                                                       : QStringList{};
        const Clip made{.rate = "15", .sound = file != Silent, .video = "h263", .extra = extra};
        QString path = file == Text ? paths.appFolder + "3GP_AAC_Profile.ini"
                                    : SharedClip(made, file == SoundOnly ? "a.m4a" : "a.3gp");
        if (file == Cut)
            path =
                WriteFile(dir.filePath("cut.3gp"), Contents(path).left(QFileInfo(path).size() / 2))
                    ? dir.filePath("cut.3gp")
                    : QString();
        if (file == Zeroed)
            path = Damaged(path, dir.filePath("zeroed.3gp"), -1, 3000);
        if (file == BadAmr) { // a phone's clip, one AMR sample (five frames) zeroed
            const QString phone = MediaFile("filetype_fixture2.3gp");
            const auto sound = PacketsOf(phone, "a");
            path = Damaged(phone, dir.filePath("bad-amr.3gp"), sound.value(sound.size() / 2).first,
                           sound.value(sound.size() / 2).second);
        }
        OutputExpectation expectation;
        expectation.brands = QStringList{expected.section(u' ', 0, 0)};
        QVERIFY(expectation.ReadCheckEntry({"Check"}, {expected.section(u' ', 1)}));
        QFETCH(double, seconds);
        expectation.durationSeconds = seconds;
        expectation.expectSound = true;
        const QString answer = OutputCheck::Verify(path, expectation);
        QVERIFY2(fault.isEmpty() ? answer.isEmpty() : answer.contains(fault), qPrintable(answer));
    }

    // Sources with odd headers, timing or tracks, all in one batch through type 0's default
    // profile: a good conversion finishes (with sound where the source has some), a source
    // that cannot give one fails before any tool runs, saying why.
    void oddSources_data()
    {
        QTest::addColumn<int>("source");
        QTest::addColumn<QString>("outcome"); // "sound", "no sound", or the reason it failed
        QTest::newRow("variable rate with B-frames: the picture ends where its last frame does")
            << int(VfrBFrames) << "sound";
        QTest::newRow("header promises a longer picture than its packets hold")
            << int(HeaderLies) << "sound";
        QTest::newRow("Matroska sound track without packets: converted without sound")
            << int(EmptyTrack) << "no sound";
        QTest::newRow("slide show at 1 fps: pictures repeated up to what the buffer takes")
            << int(SlideShow) << "sound";
        QTest::newRow("no sound at all") << int(NoSound) << "no sound";
        QTest::newRow("last second does not decode: the part ends where the pictures do")
            << int(TailDamaged) << "sound";
        QTest::newRow("DV cut inside its first picture")
            << int(FirstCut) << "the source holds no whole picture";
        QTest::newRow("empty file: said so, not \"clip length is 0\"")
            << int(Empty) << "the source is empty";
    }
    void oddSources()
    {
        QFETCH(int, source);
        QFETCH(QString, outcome);
        if (!odd)
            QVERIFY(RunOddSources());
        const QString log = QString::fromUtf8(Contents(paths.logFile));
        const QString output = odd->OutputOf(source);
        if (outcome.contains("sound")) {
            QVERIFY2(odd->Finished(source), qPrintable(TaskEntry(paths, source)));
            QCOMPARE(StreamCount(Probe(output), "audio"), int(outcome == "sound"));
        } else {
            QVERIFY2(odd->host.failures.value(source).startsWith(outcome),
                     qPrintable(odd->host.failures.value(source)));
            QVERIFY(!QFileInfo::exists(output));
        }
        // A source whose sound track holds nothing is noted as such, and no other.
        const QString note = QStringLiteral("NOTE:    TASK        =   %1 (").arg(source + 1);
        QCOMPARE(log.contains(note), source == EmptyTrack);
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
