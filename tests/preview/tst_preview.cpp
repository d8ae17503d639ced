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

#include <map>

using namespace support;
using State = CVideoEdit::State;

namespace {

// What the page does when a thumb is released: the exact picture at `seconds`, held.
void ShowAt(CVideoEdit &edit, const QString &file, double seconds)
{
    const double length = edit.GetClipLength(file);
    edit.Stop();
    edit.CloseClip();
    edit.OpenClip(file, seconds, length, 1);
    edit.Play();
    edit.Pause();
}

// Start times of a file's video frames, read by ffprobe once.
const std::vector<double> &Times(const QString &file)
{
    static std::map<QString, std::vector<double>> read;
    if (!read.count(file))
        read[file] = FrameTimes(file);
    return read[file];
}

// The picture on screen must be ffmpeg's frame starting at `frameStart`, in a box of `size`.
void CheckShows(const CVideoEdit &edit, const QString &file, double frameStart, QSize size)
{
    QVERIFY2(
        std::abs(edit.CurrentPosition() - frameStart) < 0.0005,
        qPrintable(
            QStringLiteral("%1 s shown, not %2 s").arg(edit.CurrentPosition()).arg(frameStart)));
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

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

    QTemporaryDir temp;
    QString clip;  // H.264, 3 s, key frames 2 s apart, B-frames, a 440 Hz tone
    QString other; // MPEG-4 part 2, 2 s, another size
    std::unique_ptr<CVideoEdit> edit;

private slots:
    void initTestCase()
    {
        Clip h264, mpeg4;
        h264.seconds = 3, h264.gop = 50, h264.video = "libx264", h264.extra = {"-bf", "3"};
        mpeg4.size = "160x120";
        clip = SharedClip(h264);
        other = SharedClip(mpeg4, "other.mp4");
        QVERIFY(!clip.isEmpty() && !other.isEmpty());
    }
    void init() { edit = std::make_unique<CVideoEdit>(); }
    void cleanup() { edit.reset(); }

    // Steps: "@t" shows the clip at t seconds as the page does on a release (the exact frame);
    // "~t>k" is a drag step to t, showing the key frame at k (ffprobe's, at or before t);
    // "rest" lets the drag rest (its exact frame follows); "wait" checks later that the
    // released frame is still shown.
    void pictures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("steps");
        const QSize box(244, 200);
        QTest::newRow("first frame") << clip << box << "@0";
        QTest::newRow("far past the key frame, inside a frame") << clip << box << "@1.37";
        QTest::newRow("just after the second key frame") << clip << box << "@2.01";
        QTest::newRow("the clip's length gives the last frame") << clip << box << "@3";
        QTest::newRow("trim points in turn, on frame starts and inside frames")
            << clip << box << "@1.2 @2.01 @1.21 @2.01 @1.24";
        QTest::newRow("drag over a key frame, past the end and back, released")
            << clip << box << "@0 ~0.5>0 ~1.99>0 ~2>2 ~2.7>2 ~5>2 ~0.3>0 @1.37";
        QTest::newRow("a drag that rests shows its exact frame")
            << clip << box << "@0 ~1.37>0 rest";
        QTest::newRow("released before the drag rests: the released frame stays")
            << clip << box << "@2.01 ~1.63>0 @1.37 wait";
        QTest::newRow("640x480 turned a quarter, with sound")
            << MediaFile("sideways movie.mov") << QSize(150, 200) << "@0.6 ~0.9>0";
        QTest::newRow("568x320 upside down")
            << MediaFile("IMG_0034.MOV") << QSize(264, 149) << "@1.9";
        QTest::newRow("64:45 pixels, MPEG-1 program stream starting at 0.22 s")
            << MediaFile("weird_aspect.small.mpg") << QSize(264, 152) << "@0.9 ~0.5>0.48";
        QTest::newRow("MPEG-2 program stream, where seeks land late")
            << MediaFile("gomediainfo_sample_ac3.vob") << QSize(264, 176) << "@2.9 ~2.2>2.0073";
    }
    void pictures()
    {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        QFETCH(QString, steps);
        double at = 0, released = 0;
        for (const QString &step : steps.split(u' ')) {
            if (step.startsWith(u'@')) {
                ShowAt(*edit, file, released = at = step.mid(1).toDouble());
                QCOMPARE(edit->GetState(), State::Paused);
                CheckShows(*edit, file, IntervalStart(Times(file), at), size);
            } else if (step.startsWith(u'~')) {
                QVERIFY(edit->ShowKeyFrameNear(at = step.mid(1).section(u'>', 0, 0).toDouble()));
                const double key = step.section(u'>', 1).toDouble();
                QVERIFY2(std::abs(edit->CurrentPosition() - key) < 0.0005, qPrintable(step));
                CheckSameAsNew(*edit, file, key + 0.001);
            } else if (step == "rest") {
                const int decoded = edit->StillsDecoded();
                QTRY_VERIFY(edit->StillsDecoded() > decoded);
                CheckShows(*edit, file, IntervalStart(Times(file), at), size);
            } else {
                QTest::qWait(300);
                CheckShows(*edit, file, IntervalStart(Times(file), released), size);
            }
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Steps on working copies: "a@t" or "b@t" shows the clip or the other one at t seconds,
    // "swap" puts the other clip's file in place of the first, "play" plays on to the end.
    // Every picture is the one a new preview shows; `opened` decoders are opened in all.
    void reuse_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("opened");
        QTest::newRow("one clip forward in steps") << QStringList{"a@0.5", "a@1.3", "a@2.9"} << 1;
        QTest::newRow("one clip backwards") << QStringList{"a@2.5", "a@1.1", "a@0"} << 1;
        QTest::newRow("the file replaced on disk between two shows")
            << QStringList{"a@1", "swap", "a@1", "a@1.5"} << 2;
        QTest::newRow("another clip in between") << QStringList{"a@1", "b@1", "a@1.5"} << 3;
        QTest::newRow("played to the end in between") << QStringList{"a@2.5", "play", "a@1"} << 2;
    }
    void reuse()
    {
        QFETCH(QStringList, steps);
        const QString sources[2] = {clip, other};
        const QString copies[2] = {temp.filePath("a.mp4"), temp.filePath("b.mp4")};
        for (int i : {0, 1})
            QVERIFY(WriteFile(copies[i], Contents(sources[i])));
        for (const QString &step : steps) {
            if (step == "swap") {
                QVERIFY(QFile::remove(copies[0]) && QFile::copy(sources[1], copies[0]));
            } else if (step == "play") {
                QSignalSpy finished(edit.get(), &CVideoEdit::PlaybackFinished);
                QVERIFY(edit->Play());
                QVERIFY(finished.wait(5000));
                QCOMPARE(edit->GetState(), State::Holding);
                QCOMPARE(edit->CurrentPosition(), Times(clip).back());
            } else {
                ShowAt(*edit, copies[step[0] == u'b'], step.mid(2).toDouble());
                CheckSameAsNew(*edit, copies[step[0] == u'b'], step.mid(2).toDouble());
            }
        }
        QTEST(edit->DecodersOpened(), "opened");
    }

    // The length is ffprobe's, or an error where ffprobe reads nothing. A file that cannot be
    // shown fails with a message and leaves the preview empty, ready for the next clip.
    void lengthsAndBadFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("shows");
        const QByteArray vob = Contents(MediaFile("gomediainfo_sample_ac3.vob"));
        WriteFile(temp.filePath("cut.vob"), vob.left(vob.size() * 2 / 5));
        WriteFile(temp.filePath("empty.avi"), {});
        WriteFile(temp.filePath("readme.txt"), "not a video at all\n");
        QDir(temp.path()).mkdir("folder.mov");
        RunTool("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=d=1", temp.filePath("a.wav")});
        QTest::newRow("H.264 clip") << clip << true;
        QTest::newRow("starting at 0.53 s") << MediaFile("gomediainfo_sample_ac3.vob") << true;
        QTest::newRow("raw MPEG-1 video, length estimated")
            << MediaFile("filetype_fixture2.mpg") << true;
        QTest::newRow("program stream cut short") << temp.filePath("cut.vob") << true;
        QTest::newRow("sound only") << temp.filePath("a.wav") << false;
        QTest::newRow("mp4 without its index") << MediaFile("broken.mp4") << false;
        QTest::newRow("zero-byte file") << temp.filePath("empty.avi") << false;
        QTest::newRow("text file") << temp.filePath("readme.txt") << false;
        QTest::newRow("folder") << temp.filePath("folder.mov") << false;
        QTest::newRow("missing file") << temp.filePath("gone.mp4") << false;
    }
    void lengthsAndBadFiles()
    {
        QFETCH(QString, file);
        QFETCH(bool, shows);
        const QJsonObject probe = Probe(file);
        if (probe.contains("format"))
            QVERIFY(std::abs(edit->GetClipLength(file) - Duration(probe)) < 0.001);
        else
            QVERIFY_THROWS_EXCEPTION(CVideoEditException, edit->GetClipLength(file));
        ShowAt(*edit, clip, 1.0);
        try {
            QVERIFY(edit->OpenClip(file, 0.5, 0, 1));
            QVERIFY(shows && edit->GetState() == State::Holding && !edit->CurrentFrame().isNull());
        } catch (const CVideoEditException &e) {
            QVERIFY2(!shows, e.what());
            QVERIFY(!e.Message().isEmpty());
            QVERIFY(edit->GetState() == State::Empty && edit->CurrentFrame().isNull());
        }
        ShowAt(*edit, clip, 1.0);
        QCOMPARE(edit->CurrentPosition(), 1.0);
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
        QVERIFY(decoder.HasAudio());
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
        QVERIFY2(first <= from + 0.05 && first > from - 0.1, qPrintable(QString::number(first)));
        QFETCH(double, to);
        QVERIFY2(std::abs(reached - to) < 0.1, qPrintable(QString::number(reached)));
        const qsizetype frames = pcm.size() / 4;
        QVERIFY(std::abs(frames / 48000.0 - (reached - first)) < 0.05);
        const auto *left = reinterpret_cast<const qint16 *>(pcm.constData());
        int rises = 0;
        for (qsizetype i = 1; i < frames; ++i)
            rises += left[2 * i - 2] < 0 && left[2 * i] >= 0;
        QVERIFY2(!hertz || std::abs(rises * 48000.0 / frames - hertz) < hertz * 0.02,
                 qPrintable(QStringLiteral("%1 rises a second").arg(rises * 48000.0 / frames)));
    }
};

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
