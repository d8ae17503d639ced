// SPDX-License-Identifier: GPL-3.0-or-later
// Every shipped profile, run by kestrani-cli as users run it, gives a file a phone takes: the
// brand, codec, picture size and rate its title and type promise, a level its stream keeps to,
// the clip's length, the source's shape on screen, and a file that every reader opens.
#include "inireader.h"
#include "levelcheck.h"
#include "testfiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

const QString cli = QStringLiteral(KESTRANI_PROGRAM_DIR "/kestrani-cli");
const char *const profileFiles[] = {"3GP_AMR_Profile.ini", "3GP_AAC_Profile.ini",
                                    "3GP2_AAC_Profile.ini"};
constexpr double clipSeconds = 2.0;

QByteArray Run(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(120000);
    if (exitCode)
        *exitCode =
            finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

struct Promise {
    int width = 0, height = 0, fps = 0;
    QString codec; // as ffprobe names it
};

// What a title promises: "Standard - 176x144, 15 fps (H.263, AMR 12.2 kbit/s)".
Promise FromTitle(const QString &title)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("(\\d+)x(\\d+), (\\d+) fps \\((H\\.263|MPEG-4|H\\.264)"))
            .match(title);
    const QString codec = m.captured(4) == "H.263"    ? "h263"
                          : m.captured(4) == "MPEG-4" ? "mpeg4"
                                                      : "h264";
    return {m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), codec};
}

double Ratio(const QString &text) // "15000/1001" or "12:11"
{
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("[/:]")));
    const double den = parts.value(1).toDouble();
    return parts.size() == 2 && den != 0 ? parts[0].toDouble() / den : 0;
}

// The picture inside the bars of one frame near the middle: the rows and columns whose mean luma
// is well above black's 16 and its coding noise (the clips' pictures are bright).
QSize ActiveArea(const QString &path, int width, int height)
{
    const QByteArray gray =
        Run("ffmpeg", {"-v", "error", "-nostdin", "-ss", "1", "-i", "file:" + path, "-frames:v",
                       "1", "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    if (gray.size() != qsizetype(width) * height)
        return {};
    auto lit = [&](int x0, int y0, int dx, int dy, int n) {
        double sum = 0;
        for (int i = 0; i < n; ++i)
            sum += quint8(gray[(y0 + i * dy) * width + x0 + i * dx]);
        return sum / n > 40;
    };
    int top = 0, bottom = height - 1, left = 0, right = width - 1;
    while (top < bottom && !lit(0, top, 1, 0, width))
        ++top;
    while (bottom > top && !lit(0, bottom, 1, 0, width))
        --bottom;
    while (left < right && !lit(left, 0, 0, 1, height))
        ++left;
    while (right > left && !lit(right, 0, 0, 1, height))
        --right;
    return {right - left + 1, bottom - top + 1};
}

} // namespace

class TestConformance : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QMap<QString, QString> clips;      // shape name -> path
    QMap<QString, double> clipAspects; // shape name -> display aspect
    QStringList readers;               // installed independent readers
    int runs = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        QVERIFY(QFileInfo(cli).isExecutable());
        struct Shape {
            const char *name, *size, *rate, *sar;
            double aspect;
        };
        const Shape shapes[] = {{"4:3", "320x240", "25", "1", 4.0 / 3},
                                {"16:9", "384x216", "30000/1001", "1", 16.0 / 9},
                                {"2:1 pixels", "240x180", "25", "2", 8.0 / 3}};
        // The pattern is kept well above black, so that the bars can be told from the picture.
        for (const Shape &s : shapes) {
            const QString path = dir.filePath(QStringLiteral("clip%1.mp4").arg(clips.size()));
            int code = -1;
            Run("ffmpeg",
                {"-v",          "error",
                 "-nostdin",    "-y",
                 "-f",          "lavfi",
                 "-i",          QStringLiteral("testsrc2=size=%1:rate=%2").arg(s.size, s.rate),
                 "-f",          "lavfi",
                 "-i",          "sine=sample_rate=44100",
                 "-t",          QString::number(clipSeconds),
                 "-vf",         QStringLiteral("setsar=%1,lutyuv=y=64+val*3/4").arg(s.sar),
                 "-c:v",        "mpeg4",
                 "-q:v",        "3",
                 "-c:a",        "aac",
                 "file:" + path},
                &code);
            QCOMPARE(code, 0);
            clips[s.name] = path;
            clipAspects[s.name] = s.aspect;
        }
        for (const char *reader : {"mediainfo", "gst-discoverer-1.0"}) {
            if (QStandardPaths::findExecutable(reader).isEmpty())
                qWarning("%s is not installed: its reading is not checked", reader);
            else
                readers << reader;
        }
    }

    void profileOutputConforms_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("profile");
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QString>("title");
        QList<QStringList> titles;
        for (const char *file : profileFiles) {
            CIniReader ini;
            ini.SetFile(QStringLiteral(KESTRANI_PROGRAM_DIR "/app/") + file);
            QStringList sections, list;
            ini.GetSectionNames(sections);
            for (const QString &section : sections.mid(1))
                list << ini.GetString(section, "Title");
            titles << list;
        }
        auto add = [&](int type, int profile, const char *shape) {
            const QString title = titles.value(type).value(profile - 1);
            QTest::addRow("type %d, %s, %s", type, qPrintable(title.section(" (", 0, 0)), shape)
                << type << profile << QString::fromLatin1(shape) << title;
        };
        for (int type = 0; type < 3; ++type)
            for (int profile = 1; profile <= titles.value(type).size(); ++profile)
                add(type, profile, "4:3");
        // The layout differs by pixel shape (H.263's 12:11, everyone else's square) and by
        // picture size; a letterboxed and an anamorphic source for each kind.
        add(0, 1, "16:9");
        add(0, 3, "16:9");
        add(0, 2, "2:1 pixels");
        add(0, 5, "2:1 pixels");
        add(1, 1, "16:9");
        add(1, 5, "2:1 pixels");
        add(2, 3, "16:9");
    }

    void profileOutputConforms()
    {
        QFETCH(int, type);
        QFETCH(int, profile);
        QFETCH(QString, shape);
        QFETCH(QString, title);
        const Promise promise = FromTitle(title);
        QVERIFY2(promise.width > 0, qPrintable(title));

        const QString folder = dir.filePath(QStringLiteral("out%1").arg(++runs));
        QVERIFY(QDir().mkpath(folder));
        int code = -1;
        Run(cli,
            {"-t", QString::number(type), "-p", QString::number(profile), "-o", folder,
             clips[shape]},
            &code);
        const QString extension = type == 2 ? ".3g2" : ".3gp";
        const QStringList files = FilesIn(folder);
        QCOMPARE(code, 0);
        QCOMPARE(files, QStringList{QFileInfo(clips[shape]).completeBaseName() + extension});
        const QString output = folder + u'/' + files[0];

        const QJsonObject probe =
            QJsonDocument::fromJson(Run("ffprobe", {"-v", "error", "-show_format", "-show_streams",
                                                    "-of", "json", "file:" + output}))
                .object();
        QJsonObject video, audio;
        for (const QJsonValue &s : probe["streams"].toArray())
            (s["codec_type"].toString() == "video" ? video : audio) = s.toObject();
        const bool h264 = promise.codec == "h264";
        const QString brand = type == 2 ? (h264 ? "3g2b" : "3g2a") : (h264 ? "3gp6" : "3gp4");
        QCOMPARE(probe["format"]["tags"]["major_brand"].toString(), brand);
        QCOMPARE(video["codec_name"].toString(), promise.codec);
        QCOMPARE(audio["codec_name"].toString(), type == 0 ? "amr_nb" : "aac");
        QCOMPARE(video["width"].toInt(), promise.width);
        QCOMPARE(video["height"].toInt(), promise.height);

        // The rate: at most the title's, and for H.263 a whole number of its picture clock's
        // 1001/30000 s ticks per picture, so that the temporal references step evenly.
        const double fps = Ratio(video["avg_frame_rate"].toString());
        QVERIFY2(fps > 0 && fps <= promise.fps + 0.01, qPrintable(QString::number(fps)));
        if (promise.codec == "h263") {
            const double ticks = 30000.0 / 1001 / fps;
            QVERIFY2(std::abs(ticks - std::round(ticks)) < 1e-6,
                     qPrintable(QString::number(ticks)));
        }

        const levelcheck::Result level = levelcheck::Check(output);
        QVERIFY2(level.Fits(), qPrintable(level.Text()));
        QCOMPARE(level.codec, promise.codec);

        const double frame = 1.0 / fps + 0.001;
        for (const double seconds : {video["duration"].toString().toDouble(),
                                     probe["format"]["duration"].toString().toDouble()})
            QVERIFY2(std::abs(seconds - clipSeconds) <= frame,
                     qPrintable(QString::number(seconds)));

        // The shape on screen: H.263 at these sizes has 12:11 pixels, the others square ones.
        const double sar = Ratio(video["sample_aspect_ratio"].toString());
        QCOMPARE(sar, promise.codec == "h263" ? 12.0 / 11 : 1.0);
        const QSize area = ActiveArea(output, promise.width, promise.height);
        QVERIFY2(area.width() >= promise.width - 2 || area.height() >= promise.height - 2,
                 qPrintable(QStringLiteral("%1x%2").arg(area.width()).arg(area.height())));
        const double shown = area.width() * sar / qMax(1, area.height());
        const double slack = 3.0 / qMax(1, area.width()) + 3.0 / qMax(1, area.height());
        QVERIFY2(std::abs(shown / clipAspects[shape] - 1) <= slack,
                 qPrintable(QStringLiteral("%1x%2 shows %3, the source %4")
                                .arg(area.width())
                                .arg(area.height())
                                .arg(shown)
                                .arg(clipAspects[shape])));

        // Independent readers: each finds the video and its size.
        if (readers.contains("mediainfo")) {
            const QString format = QString::fromUtf8(
                Run("mediainfo", {"--Inform=Video;%Format% %Width%x%Height%", output}));
            const QString want = promise.codec == "h263"    ? "H.263"
                                 : promise.codec == "mpeg4" ? "MPEG-4 Visual"
                                                            : "AVC";
            QCOMPARE(format.trimmed(),
                     QStringLiteral("%1 %2x%3").arg(want).arg(promise.width).arg(promise.height));
        }
        if (readers.contains("gst-discoverer-1.0")) {
            // It exits 0 whatever it finds; without a decoder it names the stream's caps
            // (level included), with one it describes the stream.
            const QString text = QString::fromUtf8(Run("gst-discoverer-1.0", {output}));
            const QStringList names =
                promise.codec == "h263" ? QStringList{"x-h263", "H.26n"}
                : promise.codec == "mpeg4"
                    ? QStringList{"mpegversion=(int)4, systemstream", "MPEG-4 Video"}
                    : QStringList{"x-h264", "H.264"};
            QVERIFY2(!text.contains("error was encountered") &&
                         (text.contains(names[0]) || text.contains(names[1])),
                     qPrintable(text.left(600)));
        }
    }
};

QTEST_GUILESS_MAIN(TestConformance)
#include "tst_conformance.moc"
