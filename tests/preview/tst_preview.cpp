// SPDX-License-Identifier: GPL-3.0-or-later
// The preview as the page drives it, against ffmpeg's own decode of the same files: the exact
// frame after a time is shown and after a slider drag is released, the key frames shown while
// dragging, rotated and anamorphic pictures, clip lengths and files that cannot be shown, the
// sound that plays with a clip, and the decoder kept from one clip to the next.

#include "support.h"

#include "mediadecoder.h"
#include "videoedit.h"
#include "videoeditexception.h"

#include <QSignalSpy>
#include <QTest>

using namespace support;
using State = CVideoEdit::State;

namespace {

// What the page does when a thumb is released: the exact picture at `seconds`, held.
void ShowAt(CVideoEdit &edit, const QString &file, double seconds)
{
    const double length = edit.GetClipLength(file);
    edit.Stop(), edit.CloseClip();
    edit.OpenClip(file, seconds, length, 1);
    edit.Play(), edit.Pause();
}

// Start times of a file's video frames, read by ffprobe once.
const std::vector<double> &Times(const QString &file)
{
    static QHash<QString, std::vector<double>> read;
    std::vector<double> &times = read[file];
    if (times.empty())
        times = FrameTimes(file);
    return times;
}

// The picture on screen must be ffmpeg's frame starting at `frameStart`, in a box of `size`.
void CheckShows(const CVideoEdit &edit, const QString &file, double frameStart, QSize size)
{
    QCOMPARE(qRound(edit.CurrentPosition() * 1000), qRound(frameStart * 1000)); // in ms
    QCOMPARE(edit.CurrentFrame().size(), size);
    static QHash<QString, QImage> decoded; // ffmpeg decodes each frame once
    const QString key = file + QString::number(frameStart);
    if (!decoded.contains(key))
        decoded.insert(key, FfmpegFrame(file, Times(file), frameStart, size));
    const double psnr = Psnr(edit.CurrentFrame(), decoded.value(key));
    QVERIFY2(psnr > 35.0, qPrintable(QStringLiteral("PSNR %1 dB against ffmpeg").arg(psnr)));
}

// The picture on screen must be the one a new preview shows at `seconds`.
void CheckSameAsNew(const CVideoEdit &edit, const QString &file, double seconds)
{
    CVideoEdit fresh;
    ShowAt(fresh, file, seconds);
    QCOMPARE(edit.CurrentPosition(), fresh.CurrentPosition());
    QVERIFY(edit.CurrentFrame() == fresh.CurrentFrame());
}

// Plays the clip open in `edit` with the speaker (the test's sound server's null sink)
// recorded, and pauses it once the speaker sounds. The loudest sample of the half second
// recorded from a quarter second after the Pause (what the recording lags behind); -1 when the
// speaker never sounded. `held`: the position just after the Pause.
int LoudestAfterPause(CVideoEdit &edit, double &held)
{
    constexpr qsizetype bytesPerSecond = 2 * 8000;
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
                 {"-v", "error", "-fragment_size", "1024", "-f", "pulse", "-i", "speaker.monitor",
                  "-t", "5", "-ac", "1", "-ar", "8000", "-flush_packets", "1", "-f", "s16le", "-"});
    QByteArray pcm;
    qsizetype pausedAt = -1;
    const auto loudest = [&pcm](qsizetype from) {
        int peak = 0;
        for (qsizetype i = from / 2 * 2; i + 1 < pcm.size(); i += 2)
            peak = qMax(peak, qAbs(int(*reinterpret_cast<const qint16 *>(pcm.constData() + i))));
        return peak;
    };
    QObject::connect(&ffmpeg, &QProcess::readyReadStandardOutput, [&] {
        const qsizetype before = pcm.size();
        pcm += ffmpeg.readAllStandardOutput();
        if (pausedAt < 0 && loudest(before) > 2000)
            edit.Pause(), pausedAt = pcm.size(), held = edit.CurrentPosition();
        if (pausedAt >= 0 && pcm.size() >= pausedAt + bytesPerSecond * 3 / 4)
            ffmpeg.kill();
    });
    QSignalSpy ended(&ffmpeg, &QProcess::finished);
    if (!ffmpeg.waitForStarted() || !edit.Play() || !ended.wait(30000) || pausedAt < 0)
        return -1;
    return loudest(pausedAt + bytesPerSecond / 4);
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

    QTemporaryDir temp;
    QString clip;  // H.264, 3 s, key frames 2 s apart, B-frames, a 440 Hz tone
    QString other; // MPEG-4 part 2, 2 s, another size and a tone
    std::unique_ptr<CVideoEdit> edit;
    QProcess soundServer; // a speaker of the test's own: a PulseAudio null sink

private slots:
    void initTestCase()
    {
        const QString socket = temp.filePath("pulse");
        qputenv("PULSE_SERVER", ("unix:" + socket).toUtf8());
        soundServer.start("pulseaudio",
                          {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                           "--disable-shm=yes",
                           "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                           "--load=module-null-sink sink_name=speaker"});
        QVERIFY2(soundServer.waitForStarted(), "pulseaudio is needed (tools/install-deps)");
        QTRY_VERIFY(QFileInfo::exists(socket));
        clip = SharedClip({.seconds = 3, .gop = 50, .video = "libx264", .extra = {"-bf", "3"}});
        other = SharedClip({.size = "160x120"}, "other.mp4");
        QVERIFY(!clip.isEmpty() && !other.isEmpty());
    }
    void cleanupTestCase() { soundServer.kill(), soundServer.waitForFinished(); }
    void init() { edit = std::make_unique<CVideoEdit>(); }

    // Steps: "@t" shows the file at t seconds as the page does on a release (the exact frame);
    // "~t>k" is a drag step to t, showing the key frame at k (ffprobe's, at or before t);
    // "rest" lets the drag rest (its exact frame follows); "wait" checks later that the frame
    // shown on the release stays; "play" plays on to the end; "other" shows another clip;
    // "swap" puts another video in the file's place; "length" checks the clip's length;
    // "fails": the file cannot be shown; "sound": plays on until the speaker sounds, and Pause
    // silences it and holds the picture.
    void pictures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("steps");
        const QSize box(244, 200);
        const QString copy = temp.filePath("copy.mp4"),
                      vob = MediaFile("gomediainfo_sample_ac3.vob");
        QFile::copy(clip, copy);
        WriteFile(temp.filePath("cut.vob"), Contents(vob).left(500000));
        WriteFile(temp.filePath("empty.avi"), {});
        WriteFile(temp.filePath("readme.txt"), "not a video at all\n");
        RunTool("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=d=1", temp.filePath("a.wav")});
        QTest::newRow("the clip's length gives the last frame") << clip << box << "length @3";
        QTest::newRow("trim points in turn, on frame starts and inside frames")
            << clip << box << "@1.2 @2.01 @1.21 @2.01 @1.24";
        QTest::newRow("first frame; a drag over a key frame, past the end and back, released")
            << clip << box << "@0 ~0.5>0 ~1.99>0 ~2>2 ~2.7>2 ~5>2 ~0.3>0 @1.37";
        QTest::newRow("played with its sound, then paused: silent, held")
            << clip << box << "@0.5 sound";
        QTest::newRow("a drag that rests shows its exact frame")
            << clip << box << "@0 ~1.37>0 rest";
        QTest::newRow("just after the second key frame; a release before a drag rests stays")
            << clip << box << "@2.01 ~1.63>0 @1.37 wait";
        QTest::newRow("another clip between, played to the end, file replaced: picture and length")
            << copy << box << "@1 other @2.8 play @1 swap length";
        QTest::newRow("640x480 turned a quarter, with sound")
            << MediaFile("sideways movie.mov") << QSize(150, 200) << "@0.6 ~0.9>0";
        QTest::newRow("568x320 upside down")
            << MediaFile("IMG_0034.MOV") << QSize(264, 149) << "@1.9";
        QTest::newRow("64:45 pixels, MPEG-1 program stream starting at 0.22 s")
            << MediaFile("weird_aspect.small.mpg") << QSize(264, 152) << "@0.9 ~0.5>0.48";
        QTest::newRow("MPEG-2 program stream starting at 0.53 s, where seeks land late")
            << vob << QSize(264, 176) << "length @2.9 ~2.2>2.0073";
        QTest::newRow("program stream cut short")
            << temp.filePath("cut.vob") << QSize(264, 176) << "length @0.5";
        QTest::newRow("raw MPEG-1 video, its length estimated")
            << MediaFile("filetype_fixture2.mpg") << QSize(264, 198) << "length @0.5";
        QTest::newRow("sound only") << temp.filePath("a.wav") << QSize() << "length fails";
        QTest::newRow("mp4 with no index") << MediaFile("broken.mp4") << QSize() << "length fails";
        QTest::newRow("zero-byte file") << temp.filePath("empty.avi") << QSize() << "length fails";
        QTest::newRow("text file") << temp.filePath("readme.txt") << QSize() << "length fails";
        QTest::newRow("missing file") << temp.filePath("gone.mp4") << QSize() << "length fails";
    }
    void pictures()
    {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        QFETCH(QString, steps);
        double at = 0;
        for (const QString &step : steps.split(u' ')) {
            const double t = step.mid(1).section(u'>', 0, 0).toDouble();
            if (step[0] == u'@') {
                ShowAt(*edit, file, at = t);
                CheckShows(*edit, file, IntervalStart(Times(file), at), size);
            } else if (step[0] == u'~') {
                QVERIFY(edit->ShowKeyFrameNear(at = t));
                const double key = step.section(u'>', 1).toDouble();
                QCOMPARE(qRound(edit->CurrentPosition() * 1000), qRound(key * 1000));
                CheckSameAsNew(*edit, file, key + 0.001);
            } else if (step == "rest" || step == "wait") {
                const int decoded = edit->StillsDecoded();
                QTest::qWait(step == "wait" ? 250 : 0);
                QTRY_VERIFY(step == "wait" || edit->StillsDecoded() > decoded);
                CheckShows(*edit, file, IntervalStart(Times(file), at), size);
            } else if (step == "length") { // ffprobe's, or an error where ffprobe reads nothing
                const QJsonObject probe = Probe(file);
                if (probe.contains("format"))
                    QVERIFY(std::abs(edit->GetClipLength(file) - Duration(probe)) < 0.001);
                else
                    QVERIFY_THROWS_EXCEPTION(CVideoEditException, edit->GetClipLength(file));
            } else if (step == "fails") { // leaving the preview empty, and ready for the next clip
                ShowAt(*edit, clip, 1);
                QVERIFY_THROWS_EXCEPTION(CVideoEditException, edit->OpenClip(file, 0.5, 0, 1));
                QVERIFY(edit->GetState() == State::Empty && edit->CurrentFrame().isNull());
                ShowAt(*edit, clip, 1);
            } else if (step == "sound") {
                double held = -1;
                const int after = LoudestAfterPause(*edit, held);
                QVERIFY2(after >= 0 && after < 100, qPrintable(QString::number(after)));
                QCOMPARE(edit->GetState(), State::Paused);
                QCOMPARE(edit->CurrentPosition(), held);
            } else if (step == "play") {
                QSignalSpy finished(edit.get(), &CVideoEdit::PlaybackFinished);
                QVERIFY(edit->Play() && finished.wait(5000));
                QCOMPARE(edit->GetState(), State::Holding);
                CheckShows(*edit, file, Times(file).back(), size);
            } else {
                if (step == "swap")
                    QVERIFY(QFile::remove(file) && QFile::copy(other, file));
                ShowAt(*edit, step == "swap" ? file : other, 1);
                CheckSameAsNew(*edit, step == "swap" ? file : other, 1);
            }
            if (QTest::currentTestFailed())
                return;
        }
    }

    // The sound playback gets after a seek: from the seek to the end of the sound, without gaps,
    // as 16-bit stereo at 48 kHz, at its own pitch (`hertz`, 0 for a film's sound).
    void sound_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<int>("hertz");
        QTest::newRow("a tone at 44.1 kHz, after a seek") << clip << 1.3 << 3.0 << 440;
        QTest::newRow("5.1 sound mixed to stereo")
            << MediaFile("rotate-buck-bunny.mp4") << 1.0 << 2.005 << 0;
    }
    void sound()
    {
        QFETCH(QString, file);
        QFETCH(double, from);
        QFETCH(int, hertz);
        MediaDecoder decoder(file, {264, 200}, {48000, 2, false});
        decoder.SeekExact(from);
        VideoFrame video;
        AudioChunk sound;
        double first = -1, reached = 0;
        QByteArray pcm;
        for (MediaDecoder::Item item;
             (item = decoder.Next(video, sound)) != MediaDecoder::Item::End;)
            if (item == MediaDecoder::Item::Audio) {
                QVERIFY2(first < 0 || std::abs(sound.pts - reached) < 0.05, "a gap in the sound");
                first = first < 0 ? sound.pts : first;
                reached = sound.pts + sound.duration;
                pcm += sound.samples;
            }
        QFETCH(double, to);
        QVERIFY2(first <= from + 0.05 && first > from - 0.1 && std::abs(reached - to) < 0.1,
                 qPrintable(QStringLiteral("sound from %1 s to %2 s").arg(first).arg(reached)));
        const qsizetype frames = pcm.size() / 4;
        const auto *left = reinterpret_cast<const qint16 *>(pcm.constData());
        int rises = 0;
        for (qsizetype i = 1; i < frames; ++i)
            rises += left[2 * i - 2] < 0 && left[2 * i] >= 0;
        QVERIFY(!hertz || std::abs(rises * 48000.0 / frames - hertz) < hertz * 0.02);
    }
};

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
