// SPDX-License-Identifier: GPL-3.0-or-later
// A decoder used for one seek after another, and the cache that keeps it between clips: every
// frame it finds must be the frame a freshly opened decoder finds, whichever way it got there
// (the same frame again, decoding on, or seeking back), and a kept decoder must never serve a
// file that changed on disk.

#include "tst_mediasupport.h"

#include "audioformatspec.h"
#include "decodercache.h"
#include "mediadecoder.h"
#include "mediaerror.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace mediatest;
using Route = MediaDecoder::Route;

namespace {

const QSize box(264, 200);

VideoFrame ColdFrame(const QString &file, double seconds)
{
    MediaDecoder fresh(file, box);
    return fresh.SeekExact(seconds);
}

QString RouteName(Route route)
{
    switch (route) {
    case Route::Held:
        return "held";
    case Route::Forward:
        return "forward";
    case Route::Seek:
        return "seek";
    }
    return {};
}

bool SamePicture(const VideoFrame &a, const VideoFrame &b)
{
    return a.width == b.width && a.height == b.height && a.pixels == b.pixels &&
           std::abs(a.pts - b.pts) < 1e-9;
}

} // namespace

class TestMediaReuse : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reusedDecoderMatchesColdOpen_data();
    void reusedDecoderMatchesColdOpen();
    void soundFollowsAReusedSeek();
    void cacheKeepsOnlyTheSameUnchangedFile_data();
    void cacheKeepsOnlyTheSameUnchangedFile();
    void cacheLetsGoWhenIdle();

private:
    QTemporaryDir temp;
    QString clip; // 8 s at 25 frames a second, key frames at 0 and 5 s
};

void TestMediaReuse::initTestCase()
{
    QVERIFY(temp.isValid());
    clip = MakeClip(QDir(temp.path()), "clip.mp4", {320, 180}, 8.0, 125);
    QVERIFY2(!clip.isEmpty(), "ffmpeg could not make the test clip");
}

// Steps: a number seeks to that time; "+n" plays n items on (pictures or sound) as playback
// would. Routes: the way each seek must take, so that every path is really exercised.
void TestMediaReuse::reusedDecoderMatchesColdOpen_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("routes");
    QTest::newRow("forward steps inside a key-frame interval")
        << QString() << QStringList{"0.3", "0.8", "1.3", "2.9", "4.99"}
        << QStringList{"seek", "forward", "forward", "forward", "forward"};
    QTest::newRow("the same time twice, and another time in that frame")
        << QString() << QStringList{"2.0", "2.0", "2.039", "2.04"}
        << QStringList{"seek", "held", "held", "forward"};
    QTest::newRow("backward jumps") << QString() << QStringList{"4.5", "1.23", "0.0", "7.7", "5.0"}
                                    << QStringList{"seek", "seek", "seek", "seek", "seek"};
    QTest::newRow("near a key frame decodes on, far past it seeks")
        << QString() << QStringList{"4.8", "5.3", "0.5", "7.3"}
        << QStringList{"seek", "forward", "seek", "seek"};
    QTest::newRow("past the end, again, and back")
        << QString() << QStringList{"6.5", "60.0", "61.0", "1.0"}
        << QStringList{"seek", "forward", "held", "seek"};
    // 1.81 lies in the interval of the picture played last (1.80): decoding on cannot give it.
    QTest::newRow("after playing on, ahead, and inside the picture played last")
        << QString() << QStringList{"1.0", "+12", "1.6", "+5", "1.81", "+3", "1.7"}
        << QStringList{"seek", "forward", "seek", "seek"};
    QTest::newRow("transport stream without an index")
        << MediaFile("filetype_fixture-raw.mts") << QStringList{"0.2", "0.5", "0.5", "0.1"}
        << QStringList{"seek", "forward", "held", "seek"};
    // Key frames 0.4 s apart: a jump of more than a second over some of them seeks.
    QTest::newRow("mpeg4 in avi") << MediaFile("gomediainfo_sample.avi")
                                  << QStringList{"0.5", "1.5", "3.9", "2.2"}
                                  << QStringList{"seek", "forward", "seek", "seek"};
}

void TestMediaReuse::reusedDecoderMatchesColdOpen()
{
    QFETCH(QString, file);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, routes);
    if (file.isEmpty())
        file = clip;
    MediaDecoder decoder(file, box);
    int seeks = 0;
    for (const QString &step : steps) {
        if (step.startsWith('+')) {
            VideoFrame video;
            AudioChunk audio;
            for (int i = step.mid(1).toInt(); i > 0; --i)
                QVERIFY(decoder.Next(video, audio) != MediaDecoder::Item::End);
            continue;
        }
        const double at = step.toDouble();
        const VideoFrame shown = decoder.SeekExact(at);
        const QString where = QStringLiteral("at %1").arg(step);
        QCOMPARE(RouteName(decoder.LastRoute()) + ' ' + where, routes.at(seeks++) + ' ' + where);
        const VideoFrame cold = ColdFrame(file, at);
        QVERIFY2(
            SamePicture(shown, cold),
            qPrintable(
                QStringLiteral("%1: %2 s, cold %3 s").arg(where).arg(shown.pts).arg(cold.pts)));
    }
    QCOMPARE(seeks, routes.size());
}

// Sound read while decoding on is kept only from shortly before the target; what plays after
// the seek must still start at the target and run on without a gap.
void TestMediaReuse::soundFollowsAReusedSeek()
{
    const AudioFormatSpec stereo{48000, 2, false};
    MediaDecoder decoder(clip, box, stereo);
    decoder.SeekExact(0.4);
    decoder.SeekExact(3.3);
    QCOMPARE(decoder.LastRoute(), Route::Forward);
    VideoFrame video;
    AudioChunk audio;
    double first = -1.0, reached = 0.0;
    for (MediaDecoder::Item item; (item = decoder.Next(video, audio)) != MediaDecoder::Item::End;) {
        if (item != MediaDecoder::Item::Audio)
            continue;
        if (first < 0.0)
            first = audio.pts;
        QVERIFY2(audio.pts <= reached + 0.05 || reached == 0.0,
                 qPrintable(QStringLiteral("gap before %1").arg(audio.pts)));
        reached = audio.pts + audio.duration;
    }
    QVERIFY2(first <= 3.3 + 0.05 && first > 3.3 - 0.1, qPrintable(QString::number(first)));
    QVERIFY2(std::abs(reached - 8.0) < 0.1, qPrintable(QString::number(reached)));
}

void TestMediaReuse::cacheKeepsOnlyTheSameUnchangedFile_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("reused");
    QTest::newRow("same file again") << "none" << true;
    QTest::newRow("same file through another path") << "relative path" << true;
    QTest::newRow("another file") << "other file" << false;
    QTest::newRow("file replaced by another video") << "replace" << false;
    QTest::newRow("same bytes written again") << "rewrite" << false;
    QTest::newRow("another picture box") << "box" << false;
    QTest::newRow("another sound format") << "sound" << false;
    QTest::newRow("file deleted") << "delete" << false;
}

void TestMediaReuse::cacheKeepsOnlyTheSameUnchangedFile()
{
    QFETCH(QString, change);
    QFETCH(bool, reused);
    const QDir dir(temp.path());
    const QString file = dir.filePath("kept.mp4");
    QFile::remove(file);
    QVERIFY(QFile::copy(clip, file));
    const QByteArray bytes = ReadFile(file);
    DecoderCache cache;
    const AudioFormatSpec silent;
    std::unique_ptr<MediaDecoder> decoder = cache.Open(file, box, silent);
    const VideoFrame before = decoder->SeekExact(2.5);
    cache.Keep(std::move(decoder));
    QVERIFY(cache.IsHolding());

    QString asked = file;
    QSize askedBox = box;
    AudioFormatSpec askedSound = silent;
    const QString home = QDir::currentPath();
    const auto restore = qScopeGuard([&] { QDir::setCurrent(home); });
    if (change == "relative path") {
        QVERIFY(QDir::setCurrent(temp.path()));
        asked = "./kept.mp4";
    } else if (change == "other file") {
        asked = MediaFile("sar_2x1.mp4");
    } else if (change == "replace" || change == "rewrite" || change == "delete") {
        QTest::qSleep(5); // a later modification time even on coarse clocks
        QVERIFY(QFile::remove(file));
        if (change == "replace")
            QVERIFY(QFile::copy(MediaFile("sar_2x1.mp4"), file));
        else if (change == "rewrite")
            QVERIFY(WriteFile(file, bytes));
    } else if (change == "box") {
        askedBox = QSize(160, 120);
    } else if (change == "sound") {
        askedSound = AudioFormatSpec{44100, 2, true};
    }
    if (change == "delete") {
        QVERIFY_THROWS_EXCEPTION(MediaError, cache.Open(asked, askedBox, askedSound));
        QVERIFY(!cache.IsHolding());
        return;
    }
    decoder = cache.Open(asked, askedBox, askedSound);
    QVERIFY(!cache.IsHolding()); // handed out, or let go for the new one
    QCOMPARE(cache.DecodersOpened(), reused ? 1 : 2);
    const VideoFrame again = decoder->SeekExact(2.5);
    QCOMPARE(decoder->LastRoute(), reused ? Route::Held : Route::Seek);
    MediaDecoder fresh(asked, askedBox, askedSound);
    QVERIFY(SamePicture(again, fresh.SeekExact(2.5)));
    if (change == "replace")
        QVERIFY(!SamePicture(again, before));
}

void TestMediaReuse::cacheLetsGoWhenIdle()
{
    DecoderCache cache(50);
    cache.Keep(cache.Open(clip, box, {}));
    QVERIFY(cache.IsHolding());
    QTRY_VERIFY_WITH_TIMEOUT(!cache.IsHolding(), 2000);
    cache.Keep(cache.Open(clip, box, {}));
    QCOMPARE(cache.DecodersOpened(), 2);
    cache.Clear();
    QVERIFY(!cache.IsHolding());
}

QTEST_GUILESS_MAIN(TestMediaReuse)
#include "tst_mediareuse.moc"
