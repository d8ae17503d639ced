// SPDX-License-Identifier: GPL-3.0-or-later
// The loudness meter of the read-back check: BS.1770's reference readings on sines made here,
// and the same figures as ffmpeg's ebur128 on the sound of real sample videos.
#include "support.h"

#include "sound/loudnessmeter.h"

#include <QTest>

#include <cmath>

using namespace support;

namespace {

QString Figure(double v)
{
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', 1);
}

} // namespace

class TestLoudnessMeter : public QObject
{
    Q_OBJECT

private slots:
    // Sine waves made here: BS.1770's own reference (a 1 kHz
    // sine at -23 dBFS in both channels reads -23 LUFS) at the rates the profiles use, its
    // gates, the channels' weights, and peaks that fall between samples. "-" leaves a figure
    // unchecked.
    void meter_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("carrying"); // bit mask of the channels with the sine
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("frequency");
        QTest::addColumn<double>("level");    // dBFS of the sine's peak
        QTest::addColumn<double>("phase");    // degrees
        QTest::addColumn<double>("later");    // dBFS of the second half, NaN for the same
        QTest::addColumn<QString>("reading"); // integrated, true peak
        const auto row = [](const char *name, int rate, int channels, int carrying, double seconds,
                            double frequency, double level, const char *reading, double phase = 0,
                            double later = NAN) {
            QTest::newRow(name) << rate << channels << carrying << seconds << frequency << level
                                << phase << later << QString(reading);
        };
        row("1 kHz at -23 dBFS in two channels reads -23 LUFS", 48000, 2, 3, 8, 1000, -23,
            "-23.0 -23.0");
        row("and at -33 dBFS reads -33 LUFS", 48000, 2, 3, 8, 1000, -33, "-33.0 -33.0");
        row("one channel reads 3 LU less than two", 48000, 1, 1, 8, 1000, -23, "-26.0 -23.0");
        row("8 kHz mono, as AMR decodes", 8000, 1, 1, 10, 1000, -20, "-23.0 -20.0");
        row("22.05 kHz mono, as the smallest AAC profile", 22050, 1, 1, 10, 1000, -20,
            "-23.0 -20.0");
        row("peak between samples: a quarter of the rate at 45 degrees", 48000, 1, 1, 5, 12000,
            -6.02, "- -6.0", 45);
        row("the same at 8 kHz", 8000, 1, 1, 5, 2000, -6.02, "- -6.0", 45);
        row("silence: no block passes the gate", 8000, 1, 1, 5, 1000, -INFINITY, "-70.0 -inf");
        row("300 ms: shorter than one block", 48000, 1, 1, 0.3, 1000, -20, "-70.0 -20.0");
        row("a half 20 LU quieter falls under the relative gate", 8000, 1, 1, 20, 1000, -20,
            "-23.0 -20.0", 0, -40);
        row("5.1: a surround channel counts 1.41 times", 48000, 6, 16, 10, 1000, -23,
            "-24.5 -23.0");
        row("5.1: the LFE does not count", 48000, 6, 8, 10, 1000, -23, "-70.0 -23.0");
    }
    void meter()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, carrying);
        QFETCH(double, seconds);
        QFETCH(double, frequency);
        QFETCH(double, level);
        QFETCH(double, phase);
        QFETCH(double, later);
        const qsizetype frames = qRound64(seconds * rate);
        std::vector<float> samples(size_t(frames * channels));
        for (qsizetype f = 0; f < frames; ++f) {
            const double db = !std::isnan(later) && f >= frames / 2 ? later : level;
            const double v = std::pow(10.0, db / 20.0) *
                             std::sin(2 * M_PI * frequency * f / rate + phase * M_PI / 180);
            for (int c = 0; c < channels; ++c)
                samples[size_t(f * channels + c)] = (carrying >> c) & 1 ? float(v) : 0.0f;
        }
        LoudnessMeter meter(rate, channels);
        meter.Add(samples.data(), frames / 3); // in pieces, as decoded frames come
        meter.Add(samples.data() + frames / 3 * channels, frames - frames / 3);
        const LoudnessReading r = meter.Reading();
        QFETCH(QString, reading);
        const QStringList expected = reading.split(u' ');
        // Within the rounding of a printed figure; the true peak a little wider: where a sine
        // starts, the interpolation sees a step that overshoots.
        const auto near = [](double value, const QString &want, double within) {
            return want == "-" || Figure(value) == want ||
                   std::abs(value - want.toDouble()) <= within;
        };
        QVERIFY2(near(r.integrated, expected[0], 0.1), qPrintable(Figure(r.integrated)));
        QVERIFY2(near(r.truePeak, expected[1], 0.15), qPrintable(Figure(r.truePeak)));
    }

    // The meter against ffmpeg's ebur128 on the sound of real sample videos, decoded by ffmpeg
    // at their own rate and channels: the read-back check and the measuring runs must agree.
    void meterAgainstFfmpeg_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("AAC stereo") << "file_with_data_streams.mp4";
        QTest::newRow("AMR-NB from a phone") << "filetype_fixture2.3gp";
        QTest::newRow("AAC 5.1") << "rotate-buck-bunny.mp4";
        QTest::newRow("MP2 with a loud, bright sound") << "weird_aspect.small.mpg";
    }
    void meterAgainstFfmpeg()
    {
        QFETCH(QString, file);
        const QJsonObject sound = StreamOf(Probe(MediaFile(file)), "audio");
        const int rate = sound["sample_rate"].toString().toInt();
        const int channels = sound["channels"].toInt();
        QVERIFY(rate > 0 && channels > 0);
        // One decoding for both: the samples to standard output, ffmpeg's meter on a second
        // output.
        const ToolResult run =
            RunTool("ffmpeg", {"-hide_banner", "-nostdin", "-i", "file:" + MediaFile(file), "-map",
                               "0:a:0", "-f", "f32le", "-", "-map", "0:a:0", "-af",
                               "ebur128@out=peak=true:framelog=verbose", "-f", "null", "-"});
        QVERIFY(run.ok());
        LoudnessMeter meter(rate, channels);
        meter.Add(reinterpret_cast<const float *>(run.out.constData()),
                  run.out.size() / qsizetype(sizeof(float)) / channels);
        const LoudnessReading ours = meter.Reading();
        const LoudnessReading theirs = MeterReport::Read(run.err).Loudness("out").value();
        // ffmpeg prints one decimal: the two agree within its rounding.
        QVERIFY2(
            std::abs(ours.integrated - theirs.integrated) <= 0.06,
            qPrintable(QString::number(ours.integrated) + " against " + Figure(theirs.integrated)));
        QVERIFY2(
            std::abs(ours.truePeak - theirs.truePeak) <= 0.06,
            qPrintable(QString::number(ours.truePeak) + " against " + Figure(theirs.truePeak)));
    }
};

QTEST_GUILESS_MAIN(TestLoudnessMeter)
#include "tst_loudnessmeter.moc"
