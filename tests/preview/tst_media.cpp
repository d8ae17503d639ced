// SPDX-License-Identifier: GPL-3.0-or-later
// The media core against ffprobe and ffmpeg: clip lengths, the length cache, rejection of what
// is not media, and the decoder's sound and picture order.

#include "tst_mediasupport.h"

#include "audioformatspec.h"
#include "mediadecoder.h"
#include "mediaerror.h"
#include "mediaprobe.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace mediatest;

class TestMedia : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void clipLengthAgreesWithFfprobe_data();
    void clipLengthAgreesWithFfprobe();
    void clipLengthFollowsFileChanges();
    void clipLengthFromManyThreads();
    void notMediaThrows_data();
    void notMediaThrows();
    void soundIsResampledAndStartsAtSeek_data();
    void soundIsResampledAndStartsAtSeek();
    void picturesFollowSeekInOrder();

private:
    QTemporaryDir temp;
    QString clip;
};

void TestMedia::initTestCase()
{
    QVERIFY(temp.isValid());
    clip = MakeClip(QDir(temp.path()), "clip.mp4", {320, 240}, 4.0, 50);
    QVERIFY2(!clip.isEmpty(), "ffmpeg could not make the test clip");
}

void TestMedia::clipLengthAgreesWithFfprobe_data()
{
    QTest::addColumn<QString>("file");
    const QDir media(KESTRANI_MEDIA_DIR);
    for (const QFileInfo &info : media.entryInfoList(QDir::Files, QDir::Name)) {
        if (info.suffix() != "md")
            QTest::newRow(qPrintable(info.fileName())) << info.filePath();
    }
}

void TestMedia::clipLengthAgreesWithFfprobe()
{
    QFETCH(QString, file);
    const std::optional<double> expected = ProbeDuration(file);
    if (!expected) {
        // What ffprobe cannot read we must refuse too, not invent a length for.
        QVERIFY_THROWS_EXCEPTION(MediaError, MediaProbe::ClipLength(file));
        return;
    }
    const double length = MediaProbe::ClipLength(file);
    QVERIFY2(std::abs(length - *expected) < 0.001,
             qPrintable(QStringLiteral("%1 vs ffprobe %2").arg(length).arg(*expected)));
    QCOMPARE(MediaProbe::ClipLength(file), length); // the cached answer is the same
}

void TestMedia::clipLengthFollowsFileChanges()
{
    const QString file = QDir(temp.path()).filePath("changing.avi");
    QVERIFY(QFile::copy(MediaFile("testvideo-169.avi"), file));
    QCOMPARE(MediaProbe::ClipLength(file), 2.0);
    // Same path, new content: size and time differ, so the cached length must not be reused.
    QVERIFY(QFile::remove(file));
    QVERIFY(QFile::copy(MediaFile("gomediainfo_sample.avi"), file));
    QVERIFY(std::abs(MediaProbe::ClipLength(file) - 4.032) < 0.001);
    QVERIFY(QFile::remove(file));
    QVERIFY_THROWS_EXCEPTION(MediaError, MediaProbe::ClipLength(file));
}

void TestMedia::clipLengthFromManyThreads()
{
    const QStringList files{MediaFile("sar_2x1.mp4"), MediaFile("IMG_0034.MOV"),
                            MediaFile("filetype_fixture2.3gp"), clip};
    std::vector<double> serial;
    for (const QString &f : files)
        serial.push_back(MediaProbe::MeasureClipLength(f));
    MediaProbe::ClearCache();
    std::vector<std::vector<double>> seen(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < seen.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                for (const QString &f : files)
                    seen[t].push_back(MediaProbe::ClipLength(f));
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (const std::vector<double> &values : seen) {
        QCOMPARE(values.size(), size_t(3 * files.size()));
        for (size_t i = 0; i < values.size(); ++i)
            QCOMPARE(values[i], serial[i % files.size()]);
    }
}

void TestMedia::notMediaThrows_data()
{
    QTest::addColumn<QString>("file");
    const QDir dir(temp.path());
    WriteFile(dir.filePath("empty.mp4"), {});
    WriteFile(dir.filePath("notes.txt"), "Shopping list\neggs\nmilk\n");
    WriteFile(dir.filePath("subtitles.srt"), "1\n00:00:01,000 --> 00:00:02,000\nHello\n");
    QByteArray noise(50000, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) % 251);
    WriteFile(dir.filePath("noise.mov"), noise);
    QDir(temp.path()).mkdir("folder.mp4");
    QTest::newRow("missing file") << dir.filePath("missing.mp4");
    QTest::newRow("zero-byte file") << dir.filePath("empty.mp4");
    QTest::newRow("plain text") << dir.filePath("notes.txt");
    QTest::newRow("subtitles only") << dir.filePath("subtitles.srt");
    QTest::newRow("random bytes") << dir.filePath("noise.mov");
    QTest::newRow("directory") << dir.filePath("folder.mp4");
    QTest::newRow("mp4 without moov") << MediaFile("broken.mp4");
}

void TestMedia::notMediaThrows()
{
    QFETCH(QString, file);
    try {
        MediaProbe::ClipLength(file);
        QFAIL("no error for something that is not media");
    } catch (const MediaError &e) {
        QVERIFY(!e.Message().isEmpty());
    }
    QVERIFY_THROWS_EXCEPTION(MediaError, MediaDecoder(file, {264, 200}));
}

void TestMedia::soundIsResampledAndStartsAtSeek_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("seek");
    QTest::addColumn<double>("soundEnd");
    QTest::newRow("5.1 mixed to stereo") << MediaFile("rotate-buck-bunny.mp4") << 0.0 << 2.005;
    QTest::newRow("mp3 mono from a later start")
        << MediaFile("gomediainfo_sample.avi") << 2.0 << 4.032;
    QTest::newRow("generated tone after a seek") << QString() << 2.3 << 4.0;
}

void TestMedia::soundIsResampledAndStartsAtSeek()
{
    QFETCH(QString, file);
    QFETCH(double, seek);
    QFETCH(double, soundEnd);
    if (file.isEmpty())
        file = clip;
    const AudioFormatSpec stereo{48000, 2, false};
    MediaDecoder decoder(file, {264, 200}, stereo);
    QVERIFY(decoder.HasAudio());
    decoder.SeekExact(seek);
    VideoFrame video;
    AudioChunk audio;
    double first = -1.0, reached = 0.0, bytes = 0.0;
    for (MediaDecoder::Item item; (item = decoder.Next(video, audio)) != MediaDecoder::Item::End;) {
        if (item != MediaDecoder::Item::Audio)
            continue;
        if (first < 0.0)
            first = audio.pts;
        QVERIFY(audio.pts >= reached - 0.05); // in order
        QCOMPARE(audio.samples.size() % stereo.BytesPerFrame(), 0);
        reached = audio.pts + audio.duration;
        bytes += audio.samples.size();
    }
    QVERIFY2(first <= seek + 0.05 && first > seek - 0.1, qPrintable(QString::number(first)));
    QVERIFY2(std::abs(reached - soundEnd) < 0.1, qPrintable(QString::number(reached)));
    const double seconds = bytes / stereo.BytesPerFrame() / stereo.sampleRate;
    QVERIFY2(std::abs(seconds - (reached - first)) < 0.1, qPrintable(QString::number(seconds)));
}

void TestMedia::picturesFollowSeekInOrder()
{
    MediaDecoder decoder(clip, {264, 200});
    QVERIFY(!decoder.HasAudio()); // no sound asked for
    const VideoFrame shown = decoder.SeekExact(1.23);
    QCOMPARE(shown.pts, 1.2);
    QCOMPARE(QSize(shown.width, shown.height), QSize(264, 198));
    double last = shown.pts;
    int count = 0;
    VideoFrame video;
    AudioChunk audio;
    while (decoder.Next(video, audio) == MediaDecoder::Item::Video) {
        QVERIFY(std::abs(video.pts - (last + 0.04)) < 1e-6);
        last = video.pts;
        ++count;
    }
    QCOMPARE(count, 69); // frames 31..99 of a 4-second clip at 25 a second
    // A time past the end gives the last picture; seeking backwards works after the end.
    QVERIFY(std::abs(decoder.SeekExact(60.0).pts - 3.96) < 1e-6);
    QVERIFY(std::abs(decoder.SeekExact(0.0).pts) < 1e-6);
}

QTEST_GUILESS_MAIN(TestMedia)
#include "tst_media.moc"
