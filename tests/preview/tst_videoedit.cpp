// SPDX-License-Identifier: GPL-3.0-or-later
// The preview widget through its public operations, on real files, against frames ffmpeg
// extracts: exact pictures after the show-at sequence, shapes of rotated and anamorphic video,
// the play/pause/stop/close states, real-time playback and bad files; key-frame pictures while a
// slider is dragged and the exact pictures kept for the two trim points.

#include "tst_mediasupport.h"

#include "videoedit.h"
#include "videoeditexception.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <set>

using namespace mediatest;
using State = CVideoEdit::State;

namespace {

// What the page does to show a clip held at a time.
void ShowClipAt(CVideoEdit &edit, const QString &path, double position)
{
    const double length = edit.GetClipLength(path);
    edit.Stop();
    edit.CloseClip();
    const double start = position <= length ? position : 1.0;
    edit.OpenClip(path, start, length, 1);
    edit.Play();
    edit.Pause();
}

// Presentation times of the video's key frames, from the file's start time, sorted.
std::vector<double> KeyFrameTimes(const QString &file)
{
    const QByteArray out = Run(
        "ffprobe", {"-v", "error", "-select_streams", "v:0", "-skip_frame", "nokey",
                    "-show_entries", "frame=best_effort_timestamp_time", "-of", "csv=p=0", file});
    const double origin = ProbeStartTime(file);
    std::vector<double> times;
    for (const QByteArray &line : out.split('\n')) {
        bool ok = false;
        const double t = line.split(',').value(0).trimmed().toDouble(&ok);
        if (ok)
            times.push_back(t - origin);
    }
    std::sort(times.begin(), times.end());
    return times;
}

} // namespace

class TestVideoEdit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void shownFrameMatchesFfmpeg_data();
    void shownFrameMatchesFfmpeg();
    void pictureShapeFollowsRotationAndAspect_data();
    void pictureShapeFollowsRotationAndAspect();
    void pictureIsLetterBoxedInBlack();
    void operationsMoveThroughStates();
    void operationsNeedingAClipThrow();
    void pauseHoldsTheFrameAndPlayResumes();
    void playbackRunsInRealTime_data();
    void playbackRunsInRealTime();
    void badFilesThrowAndLeaveTheWidgetUsable_data();
    void badFilesThrowAndLeaveTheWidgetUsable();
    void showingAgainMatchesAFreshWidget_data();
    void showingAgainMatchesAFreshWidget();
    void dragShowsTheKeyFrameAtOrBefore_data();
    void dragShowsTheKeyFrameAtOrBefore();
    void trimPointsShowTheirKeptPictures_data();
    void trimPointsShowTheirKeptPictures();

private:
    QTemporaryDir temp;
    QString clip; // 6 s, key frames 5 s apart: most times are far from one
    std::unique_ptr<CVideoEdit> edit;
};

void TestVideoEdit::initTestCase()
{
    QVERIFY(temp.isValid());
    clip = MakeClip(QDir(temp.path()), "clip.mp4", {480, 270}, 6.0, 125);
    QVERIFY2(!clip.isEmpty(), "ffmpeg could not make the test clip");
}

void TestVideoEdit::init()
{
    edit = std::make_unique<CVideoEdit>();
    edit->resize(CVideoEdit::previewWidth, CVideoEdit::previewHeight);
    edit->show();
}

void TestVideoEdit::cleanup()
{
    edit.reset();
}

void TestVideoEdit::shownFrameMatchesFfmpeg_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("seconds");
    QTest::newRow("first frame") << QString() << 0.0;
    QTest::newRow("inside a frame, far past the key frame") << QString() << 4.37;
    QTest::newRow("exactly on a frame start") << QString() << 2.2;
    QTest::newRow("just after the second key frame") << QString() << 5.01;
    QTest::newRow("clip length gives the last frame") << QString() << 6.0;
    QTest::newRow("mpeg4 avi") << MediaFile("gomediainfo_sample.avi") << 2.5;
    QTest::newRow("rotated 90 with sound") << MediaFile("sideways movie.mov") << 0.6;
    QTest::newRow("rotated 180") << MediaFile("IMG_0034.MOV") << 1.9;
    QTest::newRow("variable frame rate") << MediaFile("cursed-vfr.mp4") << 5.5;
    QTest::newRow("sample aspect 2:1") << MediaFile("sar_2x1.mp4") << 3.3;
    QTest::newRow("mpeg2 vob with start time") << MediaFile("gomediainfo_sample_ac3.vob") << 1.7;
    QTest::newRow("h263 3gp") << MediaFile("filetype_fixture.3gp") << 4.1;
    QTest::newRow("interlaced transport stream") << MediaFile("filetype_fixture-raw.mts") << 0.5;
    QTest::newRow("motion jpeg") << MediaFile("filetype_fixture-mjpeg.mov") << 1.05;
}

void TestVideoEdit::shownFrameMatchesFfmpeg()
{
    QFETCH(QString, file);
    QFETCH(double, seconds);
    if (file.isEmpty())
        file = clip;
    ShowClipAt(*edit, file, seconds);
    QCOMPARE(edit->GetState(), State::Paused);
    const QImage shown = edit->CurrentFrame();
    QVERIFY(!shown.isNull());
    const std::vector<double> times = FrameTimes(file);
    QVERIFY(!times.empty());
    const double expectedStart = IntervalStart(times, seconds);
    QVERIFY2(std::abs(edit->CurrentPosition() - expectedStart) < 0.0005,
             qPrintable(QStringLiteral("at %1, ffprobe frame %2")
                            .arg(edit->CurrentPosition())
                            .arg(expectedStart)));
    const QImage reference = FfmpegFrame(file, SeekBefore(times, expectedStart), shown.size());
    QVERIFY(!reference.isNull());
    if (qEnvironmentVariableIsSet("KESTRANI_KEEP_FRAMES")) {
        shown.save(QStringLiteral("/tmp/shown-%1.png").arg(QTest::currentDataTag()));
        reference.save(QStringLiteral("/tmp/ffmpeg-%1.png").arg(QTest::currentDataTag()));
    }
    const double psnr = Psnr(shown.convertToFormat(QImage::Format_RGB32), reference);
    QVERIFY2(psnr > 35.0, qPrintable(QStringLiteral("PSNR %1 dB").arg(psnr)));
    // Still the same after the event loop has run: nothing of the aborted playback arrives.
    QTest::qWait(100);
    QCOMPARE(edit->CurrentFrame(), shown);
}

void TestVideoEdit::pictureShapeFollowsRotationAndAspect_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("640x480 turned a quarter") << MediaFile("sideways movie.mov") << QSize(150, 200);
    QTest::newRow("568x320 upside down") << MediaFile("IMG_0034.MOV") << QSize(264, 149);
    QTest::newRow("hevc 1920x1080 portrait")
        << MediaFile("vertical_video_from_iphone.mov") << QSize(113, 200);
    QTest::newRow("1920x1080 turned, 5.1 sound")
        << MediaFile("rotate-buck-bunny.mp4") << QSize(113, 200);
    QTest::newRow("640x360 with 2:1 pixels") << MediaFile("sar_2x1.mp4") << QSize(264, 74);
    QTest::newRow("352x288 with 64:45 pixels")
        << MediaFile("weird_aspect.small.mpg") << QSize(264, 152);
    QTest::newRow("160x120 is enlarged") << MediaFile("filetype_fixture.asf") << QSize(264, 198);
}

void TestVideoEdit::pictureShapeFollowsRotationAndAspect()
{
    QFETCH(QString, file);
    QFETCH(QSize, expected);
    ShowClipAt(*edit, file, 0.3);
    QCOMPARE(edit->CurrentFrame().size(), expected);
}

void TestVideoEdit::pictureIsLetterBoxedInBlack()
{
    ShowClipAt(*edit, MediaFile("sideways movie.mov"), 0.5);
    const QImage screen = edit->grab().toImage();
    QCOMPARE(screen.size(), QSize(264, 200));
    // A 150-wide picture in the middle: 57 columns of black either side.
    for (int y : {0, 100, 199}) {
        QCOMPARE(QColor(screen.pixel(0, y)), QColor(Qt::black));
        QCOMPARE(QColor(screen.pixel(56, y)), QColor(Qt::black));
        QCOMPARE(QColor(screen.pixel(207, y)), QColor(Qt::black));
        QCOMPARE(QColor(screen.pixel(263, y)), QColor(Qt::black));
    }
    QCOMPARE(screen.copy(57, 0, 150, 200), edit->CurrentFrame().convertToFormat(screen.format()));
}

void TestVideoEdit::operationsMoveThroughStates()
{
    QSignalSpy states(edit.get(), &CVideoEdit::StateChanged);
    QCOMPARE(edit->GetState(), State::Empty);
    // What the page calls before anything was opened must not fail.
    edit->Stop();
    edit->Pause();
    edit->CloseClip();
    QCOMPARE(edit->GetState(), State::Empty);
    QVERIFY(states.isEmpty());

    const double length = edit->GetClipLength(clip);
    QVERIFY(edit->OpenClip(clip, 0.0, length, 1));
    QCOMPARE(edit->GetState(), State::Holding);
    QVERIFY(edit->SetClipRange(clip, 0.0, length));
    QVERIFY(edit->Play());
    QCOMPARE(edit->GetState(), State::Playing);
    QTRY_VERIFY(edit->FramesShown() >= 3);
    edit->Pause();
    QCOMPARE(edit->GetState(), State::Paused);
    QVERIFY(edit->Play());
    QCOMPARE(edit->GetState(), State::Playing);
    edit->Stop();
    QCOMPARE(edit->GetState(), State::Holding);
    QVERIFY(!edit->CurrentFrame().isNull());
    // Play after Stop starts over from the range start.
    QVERIFY(edit->Play());
    QCOMPARE(edit->CurrentPosition(), 0.0);
    edit->CloseClip();
    QCOMPARE(edit->GetState(), State::Empty);
    QVERIFY(edit->CurrentFrame().isNull());
    const QList<State> expected{State::Holding, State::Playing, State::Paused, State::Playing,
                                State::Holding, State::Playing, State::Empty};
    QCOMPARE(states.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(states.at(i).at(0).value<State>(), expected.at(i));
}

void TestVideoEdit::operationsNeedingAClipThrow()
{
    QVERIFY_THROWS_EXCEPTION(CVideoEditException, edit->Play());
    QVERIFY_THROWS_EXCEPTION(CVideoEditException, edit->SetClipRange(clip, 0.0, 1.0));
    edit->OpenClip(clip, 1.0, 6.0, 1);
    const QString other = MediaFile("sar_2x1.mp4");
    QVERIFY_THROWS_EXCEPTION(CVideoEditException, edit->SetClipRange(other, 0.0, 1.0));
    QCOMPARE(edit->GetState(), State::Holding);
    // A new start moves the held picture there at once.
    QVERIFY(edit->SetClipRange(clip, 3.0, 6.0));
    QCOMPARE(edit->CurrentPosition(), 3.0);
}

void TestVideoEdit::pauseHoldsTheFrameAndPlayResumes()
{
    edit->OpenClip(clip, 1.0, 6.0, 1);
    edit->Play();
    QTRY_VERIFY(edit->CurrentPosition() >= 1.4);
    edit->Pause();
    const QImage held = edit->CurrentFrame();
    const double at = edit->CurrentPosition();
    const int shown = edit->FramesShown();
    QTest::qWait(300);
    QCOMPARE(edit->FramesShown(), shown);
    QCOMPARE(edit->CurrentFrame(), held);
    edit->Play();
    QTRY_VERIFY(edit->FramesShown() > shown + 2);
    QVERIFY(edit->CurrentPosition() > at);
    QVERIFY(edit->CurrentPosition() < at + 1.0); // resumed, not started over, not jumped
}

void TestVideoEdit::playbackRunsInRealTime_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("end");
    QTest::addColumn<int>("frames");
    QTest::newRow("generated clip, middle 2 s") << QString() << 2.0 << 4.0 << 50;
    QTest::newRow("5 fps avi without sound") << MediaFile("testvideo-169.avi") << 0.0 << 2.0 << 10;
    QTest::newRow("phone clip with sound") << MediaFile("IMG_0034.MOV") << 0.0 << 2.675 << 80;
}

void TestVideoEdit::playbackRunsInRealTime()
{
    QFETCH(QString, file);
    QFETCH(double, start);
    QFETCH(double, end);
    QFETCH(int, frames);
    if (file.isEmpty())
        file = clip;
    QSignalSpy finished(edit.get(), &CVideoEdit::PlaybackFinished);
    edit->CloseClip();
    edit->OpenClip(file, start, end, 1);
    edit->SetClipRange(file, start, end);
    const int before = edit->FramesShown();
    QElapsedTimer timer;
    timer.start();
    edit->Play();
    QVERIFY(finished.wait(int((end - start) * 1000) + 5000));
    const double elapsed = timer.elapsed() / 1000.0;
    const double span = end - start;
    QVERIFY2(elapsed > span * 0.85 && elapsed < span + 1.5, qPrintable(QString::number(elapsed)));
    // Every frame is either shown or dropped as late; a loaded machine may drop some.
    const int played = edit->FramesShown() - before + edit->FramesDropped();
    QVERIFY2(std::abs(played - (frames - 1)) <= 2, qPrintable(QString::number(played)));
    QVERIFY(edit->FramesShown() - before > frames / 2);
    QVERIFY(edit->CurrentPosition() < end);
    QVERIFY(edit->CurrentPosition() > end - 0.5);
    QCOMPARE(edit->GetState(), State::Holding);
}

void TestVideoEdit::badFilesThrowAndLeaveTheWidgetUsable_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("mustFail");
    const QDir dir(temp.path());
    WriteFile(dir.filePath("empty.avi"), {});
    WriteFile(dir.filePath("readme.txt"), "not a video at all\n");
    dir.mkdir("a folder.mov");
    Run("ffmpeg",
        {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=1", dir.filePath("tone.wav")});
    QTest::newRow("moov atom missing") << MediaFile("broken.mp4") << true;
    QTest::newRow("zero-byte file") << dir.filePath("empty.avi") << true;
    QTest::newRow("a directory") << dir.filePath("a folder.mov") << true;
    QTest::newRow("a text file") << dir.filePath("readme.txt") << true;
    QTest::newRow("sound only") << dir.filePath("tone.wav") << true;
    QTest::newRow("missing file") << dir.filePath("gone.mp4") << true;
    // Truncated copies: opening may work on what is left, or fail cleanly; never crash.
    const QStringList sources{"sideways movie.mov", "gomediainfo_sample.avi", "sar_2x1.mp4",
                              "gomediainfo_sample_ac3.vob", "filetype_fixture.3gp"};
    for (const QString &name : sources) {
        const QByteArray whole = ReadFile(MediaFile(name));
        for (int percent : {3, 40, 97}) {
            const QString cut =
                dir.filePath(QStringLiteral("%1-%2.%3")
                                 .arg(percent)
                                 .arg(QFileInfo(name).baseName(), QFileInfo(name).suffix()));
            WriteFile(cut, whole.left(whole.size() * percent / 100));
            QTest::newRow(qPrintable(QStringLiteral("%1 cut at %2%").arg(name).arg(percent)))
                << cut << false;
        }
    }
}

void TestVideoEdit::badFilesThrowAndLeaveTheWidgetUsable()
{
    QFETCH(QString, file);
    QFETCH(bool, mustFail);
    bool failed = false;
    try {
        ShowClipAt(*edit, file, 1.0);
        // What opened plays to the end of what is there and stops by itself.
        QSignalSpy finished(edit.get(), &CVideoEdit::PlaybackFinished);
        edit->SetClipRange(file, 0.0, edit->GetClipLength(file));
        edit->Stop();
        edit->Play();
        QVERIFY(finished.wait(15000));
    } catch (const CVideoEditException &e) {
        failed = true;
        QVERIFY(!QString::fromUtf8(e.what()).isEmpty());
        QCOMPARE(edit->GetState(), State::Empty);
        QVERIFY(edit->CurrentFrame().isNull());
    }
    QVERIFY(failed || !mustFail);
    QVERIFY_THROWS_EXCEPTION(CVideoEditException, edit->GetClipLength(MediaFile("broken.mp4")));
    ShowClipAt(*edit, clip, 1.0);
    QCOMPARE(edit->CurrentPosition(), 1.0);
}

// Steps: "a@t" or "b@t" shows the generated clip (a) or another video (b) at t seconds through
// a working copy of it; "swap" puts the other video in place of the first working copy on disk;
// "play" plays for a moment. Every picture must be the one a new widget shows at that time,
// and only the given number of files may have been opened from scratch.
void TestVideoEdit::showingAgainMatchesAFreshWidget_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("opened");
    QTest::newRow("slider released forward in steps")
        << QStringList{"a@0.5", "a@1.0", "a@1.5", "a@2.5", "a@3.3", "a@4.96", "a@5.3"} << 1;
    QTest::newRow("jumps backwards") << QStringList{"a@4.4", "a@2.2", "a@0.3", "a@0.0"} << 1;
    QTest::newRow("the same position twice") << QStringList{"a@3.3", "a@3.3", "a@3.31"} << 1;
    QTest::newRow("file replaced on disk between two calls")
        << QStringList{"a@2.0", "swap", "a@2.0", "a@2.5"} << 2;
    QTest::newRow("another file in between") << QStringList{"a@1.0", "b@1.0", "a@1.5"} << 3;
    QTest::newRow("playback in between") << QStringList{"a@1.0", "play", "a@2.5", "a@3.0"} << 2;
}

void TestVideoEdit::showingAgainMatchesAFreshWidget()
{
    QFETCH(QStringList, steps);
    QFETCH(int, opened);
    const QDir dir(temp.path());
    const QString sources[2] = {clip, MediaFile("sar_2x1.mp4")};
    const QString copies[2] = {dir.filePath("working-a.mp4"), dir.filePath("working-b.mp4")};
    for (int i = 0; i < 2; ++i) {
        QFile::remove(copies[i]);
        QVERIFY(QFile::copy(sources[i], copies[i]));
    }
    for (const QString &step : steps) {
        if (step == "play") {
            edit->Play();
            QTRY_VERIFY(edit->FramesShown() >= 5);
            continue;
        }
        if (step == "swap") {
            QVERIFY(QFile::remove(copies[0]));
            QVERIFY(QFile::copy(sources[1], copies[0]));
            continue;
        }
        const QString &file = copies[step.startsWith('a') ? 0 : 1];
        const double at = step.mid(2).toDouble();
        ShowClipAt(*edit, file, at);
        CVideoEdit fresh;
        ShowClipAt(fresh, file, at);
        QVERIFY2(edit->CurrentFrame() == fresh.CurrentFrame(), qPrintable(step));
        QCOMPARE(edit->CurrentPosition(), fresh.CurrentPosition());
        QCOMPARE(edit->GetState(), State::Paused);
    }
    QCOMPARE(edit->DecodersOpened(), opened);
    QTest::qWait(50); // nothing of a kept decoder may reach the screen later
    edit->CloseClip();
    QVERIFY(edit->CurrentFrame().isNull());
}

// A drag over `drags` (seconds) after the clip was shown at 1.0 s, then the release at the last
// of them: every drag picture is the exact picture of the key frame at or before its time, each
// key frame is decoded once however often it is passed, and the release shows the exact frame.
void TestVideoEdit::dragShowsTheKeyFrameAtOrBefore_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QList<double>>("drags");
    QTest::newRow("over the second key frame and back")
        << QString() << QList<double>{1.2, 3.7, 4.99, 5.0, 5.01, 5.9, 4.2, 0.3};
    QTest::newRow("past the end") << QString() << QList<double>{5.5, 7.0, 0.0};
    QTest::newRow("rotated 180") << MediaFile("IMG_0034.MOV") << QList<double>{0.2, 1.9, 2.6};
    QTest::newRow("mpeg2 vob with start time")
        << MediaFile("gomediainfo_sample_ac3.vob") << QList<double>{0.1, 1.7, 3.0};
    QTest::newRow("interlaced transport stream")
        << MediaFile("filetype_fixture-raw.mts") << QList<double>{0.5, 0.1, 0.9};
    QTest::newRow("mpeg4 avi") << MediaFile("gomediainfo_sample.avi") << QList<double>{1.3, 2.5};
    QTest::newRow("sample aspect 2:1") << MediaFile("sar_2x1.mp4") << QList<double>{3.3, 0.5};
}

void TestVideoEdit::dragShowsTheKeyFrameAtOrBefore()
{
    QFETCH(QString, file);
    QFETCH(QList<double>, drags);
    if (file.isEmpty())
        file = clip;
    const std::vector<double> keys = KeyFrameTimes(file);
    QVERIFY(!keys.empty());
    ShowClipAt(*edit, file, 1.0);
    const int decodedBefore = edit->StillsDecoded();
    std::set<double> keysShown;
    for (double at : drags) {
        QVERIFY(edit->ShowKeyFrameNear(at));
        const double key = IntervalStart(keys, at);
        keysShown.insert(key);
        QVERIFY2(std::abs(edit->CurrentPosition() - key) < 0.0005,
                 qPrintable(QStringLiteral("at %1: key frame %2 shown, %3 expected")
                                .arg(at)
                                .arg(edit->CurrentPosition())
                                .arg(key)));
        CVideoEdit exact;
        ShowClipAt(exact, file, key);
        QVERIFY2(edit->CurrentFrame() == exact.CurrentFrame(), qPrintable(QString::number(at)));
        QCOMPARE(edit->GetState(), State::Holding);
    }
    QCOMPARE(edit->StillsDecoded() - decodedBefore, int(keysShown.size()));
    ShowClipAt(*edit, file, drags.last());
    CVideoEdit fresh;
    ShowClipAt(fresh, file, drags.last());
    QCOMPARE(edit->CurrentPosition(), fresh.CurrentPosition());
    QVERIFY(edit->CurrentFrame() == fresh.CurrentFrame());
}

// Steps on the generated clip: "@t" shows it at t seconds as the page does on a release, "~t" is
// a drag step there, "rest" lets the drag rest, "play" plays a moment from the last start. Every
// "@" picture must be the one a fresh widget shows, and `decoded` pictures in all may have been
// decoded.
void TestVideoEdit::trimPointsShowTheirKeptPictures_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("decoded");
    QTest::newRow("back and forth between begin and end")
        << QStringList{"@1.0", "@4.4", "@1.0", "@4.4", "@1.01"} << 2;
    QTest::newRow("moving one point keeps the other's picture")
        << QStringList{"@1.0", "@4.4", "@1.5", "@4.4", "@1.5", "@1.0"} << 4;
    QTest::newRow("a drag onto a kept time shows the exact picture")
        << QStringList{"@1.0", "@4.4", "~4.41", "@4.4"} << 2;
    QTest::newRow("a drag between the points, released on the begin")
        << QStringList{"@1.0", "@4.4", "~2.5", "~5.5", "~1.0", "@1.0"} << 4;
    QTest::newRow("a drag that rests gets its exact picture, the release keeps it")
        << QStringList{"@1.0", "~3.3", "rest", "@3.3", "@1.0"} << 3;
    QTest::newRow("playing from a kept picture starts there")
        << QStringList{"@1.0", "@4.4", "@1.0", "play"} << 2;
}

void TestVideoEdit::trimPointsShowTheirKeptPictures()
{
    QFETCH(QStringList, steps);
    QFETCH(int, decoded);
    for (const QString &step : steps) {
        if (step == "play") {
            const double from = edit->CurrentPosition();
            const int shown = edit->FramesShown();
            edit->Play();
            QTRY_VERIFY(edit->FramesShown() >= shown + 5);
            QVERIFY(edit->CurrentPosition() > from);
            QVERIFY(edit->CurrentPosition() < from + 1.0);
            continue;
        }
        if (step == "rest") {
            // The exact picture at the drag's time replaces the key frame's, decoded aside.
            const int decoded = edit->StillsDecoded();
            QTRY_VERIFY_WITH_TIMEOUT(edit->StillsDecoded() == decoded + 1, 10000);
            QVERIFY(edit->CurrentPosition() > 3.0);
            continue;
        }
        const double at = step.mid(1).toDouble();
        if (step.startsWith('~')) {
            QVERIFY(edit->ShowKeyFrameNear(at));
            continue;
        }
        ShowClipAt(*edit, clip, at);
        CVideoEdit fresh;
        ShowClipAt(fresh, clip, at);
        QVERIFY2(edit->CurrentFrame() == fresh.CurrentFrame(), qPrintable(step));
        QCOMPARE(edit->CurrentPosition(), fresh.CurrentPosition());
    }
    QCOMPARE(edit->StillsDecoded(), decoded);
}

QTEST_MAIN(TestVideoEdit)
#include "tst_videoedit.moc"
