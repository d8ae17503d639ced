// SPDX-License-Identifier: GPL-3.0-or-later
// Subtitles for burning in: which a source has, and reading them whatever their format,
// encoding or faults, from a file beside the source or a stream inside it; their times after
// a trim.
#include "cues.h"
#include "support.h"

#include "subtitles/subtitlefile.h"
#include "subtitles/subtitlesource.h"

#include <QStringEncoder>
#include <QTest>

#include <sys/stat.h>

using namespace support;

namespace {

// "subrip/eng,hdmv_pgs_subtitle": the subtitle streams of a source as the probe lists them
// (pictures for dvd_subtitle and hdmv_pgs_subtitle, nothing drawable for teletext).
QList<SubtitleStream> Streams(const QString &text)
{
    QList<SubtitleStream> streams;
    for (const QString &item : text.split(u',', Qt::SkipEmptyParts)) {
        const QString codec = item.section(u'/', 0, 0);
        streams.append({int(streams.size()), codec,
                        codec.endsWith("_subtitle") ? SubtitleStream::Bitmap
                        : codec == "dvb_teletext"   ? SubtitleStream::Other
                                                    : SubtitleStream::Text,
                        item.section(u'/', 1, 1)});
    }
    return streams;
}

const QString subRip = QStringLiteral("1\n00:00:01,000 --> 00:00:03,500\nHello there\nGeneral\n\n"
                                      "2\n00:00:04,000 --> 00:00:05,000\nBye\n");

} // namespace

class TestSubtitles : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;

private slots:
    // Files beside the source come first, the exact name before a language tag before any
    // other; inside the source, the first text stream, else the first picture stream.
    void choice_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("streams");
        QTest::addColumn<int>("asked"); // --subtitle-stream N; -1: none asked for
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("described");
        QTest::addColumn<QString>("problem");
        const auto row = [](const char *name, QStringList files, const char *streams, int asked,
                            const char *described, const char *problem = "",
                            const char *locale = "en_GB") {
            QTest::newRow(name) << files << QString(streams) << asked << QString(locale)
                                << QString(described) << QString(problem);
        };
        row("nothing anywhere: none found", {}, "", -1, "none found");
        row("Film.srt beside Film.avi", {"Film.srt"}, "", -1, "Film.srt");
        row("a language tag", {"Film.en.srt"}, "", -1, "Film.en.srt");
        row("the exact name before a language tag", {"Film.en.srt", "Film.srt"}, "", -1,
            "Film.srt");
        row("the English user's language first", {"Film.Deutsch.srt", "Film.eng.srt"}, "", -1,
            "Film.eng.srt");
        row("the German user's language first", {"Film.Deutsch.srt", "Film.eng.srt"}, "", -1,
            "Film.Deutsch.srt", "", "de_DE");
        row(".srt before .ass, .ssa and .vtt", {"Film.vtt", "Film.ssa", "Film.ass", "Film.srt"}, "",
            -1, "Film.srt");
        row(".ass without a .srt", {"Film.vtt", "Film.ass"}, "", -1, "Film.ass");
        row("a WebVTT file alone", {"Film.vtt"}, "", -1, "Film.vtt");
        row("a name in other letter case", {"film.SRT"}, "", -1, "film.SRT");
        row("other names and types are not taken",
            {"Film2.srt", "Filmy.srt", "Other.srt", "Film.txt", "Film.srt.bak"}, "", -1,
            "none found");
        row("a file beside before a stream inside", {"Film.srt"}, "subrip", -1, "Film.srt");
        row("the first text stream inside", {}, "hdmv_pgs_subtitle,subrip/eng,ass", -1,
            "subtitle stream 1 of the video (SubRip, eng)");
        row("pictures when no stream has text", {}, "dvd_subtitle/fre", -1,
            "subtitle stream 0 of the video (DVD pictures, fre)");
        row("teletext named as not drawable", {}, "dvb_teletext", -1,
            "subtitle stream 0 of the video (teletext), which cannot be drawn",
            "has subtitle stream 0 in a form that cannot be drawn (teletext)");
        row("the stream asked for", {"Film.srt"}, "subrip,subrip,ass/jpn", 2,
            "subtitle stream 2 of the video (ASS, jpn)");
        row("a stream that is not there", {}, "subrip,ass", 4, "none found",
            "has no subtitle stream 4 (it has 2, counted from 0)");
    }
    void choice()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, streams);
        QFETCH(int, asked);
        QFETCH(QString, locale);
        const QString folder = NewFolder(dir, folders, "choice");
        files.append("Film.avi");
        for (const QString &file : std::as_const(files))
            QVERIFY(WriteFile(folder + u'/' + file, "x"));
        const SubtitleChoice choice =
            asked >= 0
                ? SubtitleSource::ForStream(Streams(streams), asked)
                : SubtitleSource::Choose(folder + "/Film.avi", Streams(streams), QLocale(locale));
        QTEST(choice.Description(), "described");
        QTEST(choice.problem, "problem");
    }

    // What real files get wrong is read anyway; what cannot be read is skipped, and a file
    // with nothing readable says why.
    void reading_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("cues");
        QTest::addColumn<QString>("problem");
        const auto row = [](const char *name, const QByteArray &bytes, const char *cues,
                            const char *problem = "", const char *file = "Film.srt") {
            QTest::newRow(name) << bytes << QString(file) << QString::fromUtf8(cues)
                                << QString(problem);
        };
        const char *both = "1.000-3.500 Hello there|General; 4.000-5.000 Bye";
        row("SubRip", subRip.toUtf8(), both);
        row("CRLF line ends", subRip.toUtf8().replace("\n", "\r\n"), both);
        row("CR line ends", subRip.toUtf8().replace("\n", "\r"), both);
        row("numbers missing, repeated, out of order",
            "7\n00:00:01,000 --> 00:00:02,000\nOne\n\n7\n00:00:03,000 --> 00:00:04,000\nTwo\n\n"
            "00:00:05,000 --> 00:00:06,000\nThree\n\n1\n00:00:07,000 --> 00:00:08,000\n42\n",
            "1.000-2.000 One; 3.000-4.000 Two; 5.000-6.000 Three; 7.000-8.000 42");
        row("no blank line between cues",
            "1\n00:00:01,000 --> 00:00:02,000\nOne\n2\n00:00:03,000 --> 00:00:04,000\nTwo\n"
            "00:00:05,000 --> 00:00:06,000\nThree",
            "1.000-2.000 One; 3.000-4.000 Two; 5.000-6.000 Three");
        row("cues out of order and overlapping, sorted",
            "2\n00:00:05,000 --> 00:00:07,000\nLater\n\n1\n00:00:01,000 --> 00:00:06,000\nFirst\n",
            "1.000-6.000 First; 5.000-7.000 Later");
        row("hours left out, a dot, few or many digits",
            "00:01.5 --> 00:02.25\nShort\n\n1:02:03,4 --> 1:02:04,0000001\nLong\n",
            "1.500-2.250 Short; 3723.400-3724.000 Long");
        row("markup and entities go, other text stays",
            "1\n00:00:01,000 --> 00:00:02,000\n{\\an8}<i>Hi</i> <font color=\"#ff0000\">you</font>"
            " &amp; a < b &#233;\n",
            "1.000-2.000 Hi you & a < b é");
        row("a cue that ends before it starts is skipped",
            "1\n00:00:05,000 --> 00:00:04,000\nBackwards\n\n2\n00:00:06,000 --> 00:00:07,000\nOk\n",
            "6.000-7.000 Ok (1 skipped)");
        row("WebVTT",
            "WEBVTT - a title\n\nNOTE two\nlines\n\nSTYLE\n::cue { color: red }\n\nintro\n"
            "00:01.000 --> 00:02.500 align:start line:90%\n<v Bob>Hello</v> <c.loud>you</c>\n\n"
            "00:00:03.000 --> 00:00:04.000\n<00:00:03.500>La<ruby>漢<rt>kan</rt></ruby> &lt;3\n",
            "1.000-2.500 Hello you; 3.000-4.000 La漢 <3", "", "Film.vtt");
        row("ASS",
            "[Script Info]\nTitle: x\n\n[V4+ Styles]\nStyle: Default,Arial,20\n\n[Events]\n"
            "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
            "Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,{\\i1}Hi{\\i0}, you\\Nthere, "
            "friend\nComment: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,not shown\n"
            "Dialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,{\\p1}m 0 0 l 9 9{\\p0}A\\hsign\n",
            "1.000-2.500 Hi, you|there, friend; 5.000-6.000 A\u00a0sign", "", "Film.ass");
        row("SSA with its own field order",
            "[Events]\nFormat: Marked, Style, Start, End, Name, MarginL, MarginR, MarginV, Effect,"
            " Text\nDialogue: Marked=0,*Default,0:00:01.00,0:00:02.00,NTP,0,0,0,,Old, style\n",
            "1.000-2.000 Old, style", "", "Film.ssa");
        row("an ASS line with a broken time is skipped",
            "[Events]\nDialogue: 0,0:00:xx,0:00:02.00,Default,,0,0,0,,Broken\n"
            "Dialogue: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,Fine\n",
            "3.000-4.000 Fine (1 skipped)", "", "Film.ass");
        row("SubRip named .ass is read all the same", subRip.toUtf8(), both, "", "Film.ass");
        row("an empty file", "\n \r\n", "", "is empty");
        row("text with no cue", "Just some notes\nabout the film\n", "",
            "holds no subtitle that can be read");
        row("binary junk named .srt", Junk(4096), "",
            "is not a subtitle file (it holds binary data)");
    }
    void reading()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        const SubtitleFile::Result result = SubtitleFile::FromBytes(bytes, name, QLocale::c());
        QTEST(Summary(result.track), "cues");
        QTEST(result.problem, "problem");
    }

    // Files that would hang, exhaust or crash a careless reader: read to the end, or refused
    // with a reason, before a byte that cannot be had is waited for.
    void hostileFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("cues");
        QTest::addColumn<int>("longest"); // characters of the longest cue
        QTest::addColumn<QString>("problem");
        QTest::newRow("a 10 MB SubRip file, read whole") << "big" << 100000 << 65 << "";
        QTest::newRow("a cue of 2 MB keeps what a phone can show") << "long cue" << 1 << 601 << "";
        QTest::newRow("2 MB of markup on one line")
            << "markup" << 0 << 0 << "holds no subtitle that can be read";
        QTest::newRow("a pipe named .srt") << "pipe" << 0 << 0 << "is not a file";
        QTest::newRow("a file that is not there") << "missing" << 0 << 0 << "is not there";
        QTest::newRow("a file larger than any subtitle file")
            << "huge" << 0 << 0 << "is too large for a subtitle file (33 MB)";
    }
    void hostileFiles()
    {
        QFETCH(QString, kind);
        const QString path = NewFolder(dir, folders, "hostile") + "/Film.srt";
        if (kind == "big") { // 100000 cues of 65 characters
            QVERIFY(WriteFile(path, QByteArray("100000\n00:00:01,000 --> 00:00:02,500\nLine 100000 "
                                               "of a long film, and a few more words to make it "
                                               "long.\n\n")
                                        .repeated(100'000)));
        } else if (kind == "long cue") {
            QVERIFY(WriteFile(path, "00:00:01,000 --> 00:00:02,000\n" +
                                        QByteArray("word <b>{\\b1}&amp; ").repeated(100'000)));
        } else if (kind == "markup") {
            QVERIFY(WriteFile(path, QByteArray("<<{{&&-->").repeated(250'000)));
        } else if (kind == "pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "huge") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(33 * 1024 * 1024));
        }
        const SubtitleFile::Result result = SubtitleFile::Read(path, QLocale::c());
        qsizetype longest = 0;
        for (const SubtitleCue &cue : result.track.cues)
            longest = std::max(longest, cue.text.size());
        QTEST(int(result.track.cues.size()), "cues");
        QTEST(int(longest), "longest");
        QTEST(result.problem, "problem");
    }

    // The letters as they were written: Unicode by its mark or by being valid UTF-8, legacy
    // single-byte text by the language its letters make, the user's locale breaking ties.
    void encodings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("written"); // the encoding; "+BOM" adds a byte order mark
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QByteArray>("detected");
        const auto row = [](const char *name, const char *text, const char *written,
                            const char *detected, const char *locale = "en_US") {
            QTest::newRow(name) << QString::fromUtf8(text) << QByteArray(written) << QString(locale)
                                << QByteArray(detected);
        };
        const char *russian = "Никто не знает, откуда пришло это письмо. Её брат открыл окно.";
        row("UTF-8 without a byte order mark", russian, "UTF-8", "UTF-8");
        row("UTF-8 with a byte order mark", "Déjà vu, garçon.", "UTF-8+BOM", "UTF-8");
        row("UTF-16 with a byte order mark", "Το τρένο φεύγει στις εννέα.", "UTF-16LE+BOM",
            "UTF-16LE");
        row("UTF-16 without a byte order mark", "Hello, wie geht's?", "UTF-16LE", "UTF-16LE");
        row("Windows-1251 Russian", russian, "windows-1251", "windows-1251");
        row("KOI8-R Russian", russian, "KOI8-R", "KOI8-R");
        row("ISO-8859-5 Russian", russian, "ISO-8859-5", "ISO-8859-5");
        row("Windows-1252 French", "Le marché ferme tôt le dimanche. Où est la clé? Déjà vu.",
            "windows-1252", "windows-1252");
        row("ISO-8859-1 German, the same letters as Windows-1252",
            "Über die Brücke gehen wir später. Die Straße ist schön.", "ISO-8859-1",
            "windows-1252");
        row("ISO-8859-15 with the euro and oe", "Le cœur coûte 5 €, mais l'œuvre est là.",
            "ISO-8859-15", "ISO-8859-15");
        row("Windows-1250 Czech", "Příliš žluťoučký kůň úpěl ďábelské ódy. Vlak jede v devět.",
            "windows-1250", "windows-1250");
        row("ISO-8859-2 Polish", "Zażółć gęślą jaźń. Pociąg odjeżdża o dziewiątej.", "ISO-8859-2",
            "ISO-8859-2");
        row("ISO-8859-7 Greek", "Το τρένο φεύγει στις εννέα από τον παλιό σταθμό.", "ISO-8859-7",
            "windows-1253");
        row("Windows-1254 Turkish", "Tren dokuzda eski istasyondan kalkıyor. Şimdi gidiyoruz.",
            "windows-1254", "windows-1254");
        row("Windows-1255 Hebrew", "הרכבת יוצאת בתשע מהתחנה הישנה.", "windows-1255",
            "windows-1255");
        row("Windows-1256 Arabic", "يغادر القطار في التاسعة من المحطة القديمة.", "windows-1256",
            "windows-1256");
        row("Shift_JIS for a Japanese user", "列車は古い駅から九時に出発します。", "Shift_JIS",
            "Shift_JIS", "ja_JP");
        row("GB18030 for a Chinese user", "火车九点从老车站出发。", "GB18030", "GB18030", "zh_CN");
        row("a tie goes to a Czech user's encoding", "čas", "windows-1250", "windows-1250",
            "cs_CZ");
        row("a tie goes to a French user's encoding", "èas", "windows-1252", "windows-1252",
            "fr_FR");
    }
    void encodings()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, written);
        QFETCH(QString, locale);
        const bool mark = written.endsWith("+BOM");
        QStringEncoder encoder(written.chopped(mark ? 4 : 0).constData(),
                               mark ? QStringEncoder::Flag::WriteBom
                                    : QStringEncoder::Flag::Default);
        const QByteArray bytes = encoder.encode("1\n00:00:01,000 --> 00:00:02,000\n" + text + "\n");
        const SubtitleFile::Result result =
            SubtitleFile::FromBytes(bytes, "Film.srt", QLocale(locale));
        QCOMPARE(Summary(result.track), "1.000-2.000 " + text);
        QTEST(result.encoding, "detected");
    }

    // Times follow the trim: moved back by its start, cut to its length; cues wholly outside
    // are dropped.
    void trim_data()
    {
        QTest::addColumn<double>("begin");
        QTest::addColumn<double>("length");
        QTest::addColumn<QString>("shown");
        QTest::newRow("the whole film") << 0.0 << 100.0
                                        << "10.000-12.000 before; 58.000-60.000 ends at the start; "
                                           "59.000-60.700 across the start; 65.000-66.500 at 65 s; "
                                           "69.400-71.000 across the end; 75.000-76.000 after";
        QTest::newRow("a cue at 65 s shows at 5 s of an output from 60 s")
            << 60.0 << 10.0
            << "0.000-0.700 across the start; 5.000-6.500 at 65 s; 9.400-10.000 across the end";
        QTest::newRow("a part with no cue") << 20.0 << 30.0 << "";
    }
    void trim()
    {
        QFETCH(double, begin);
        QFETCH(double, length);
        const SubtitleTrack track =
            TrackOf("10-12 before; 58-60 ends at the start; 59-60.7 across the start; "
                    "65-66.5 at 65 s; 69.4-71 across the end; 75-76 after");
        QTEST(Summary(track.Trimmed(begin, length)), "shown");
    }

    // A text stream inside a source comes out as an ASS script with its cues, as far as asked.
    void streamsInside_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("stream");
        QTest::addColumn<double>("until");
        QTest::addColumn<QString>("cues");
        const auto row = [](const char *name, const char *container, const char *codec,
                            int stream = 0, double until = -1,
                            const char *cues = "1.000-3.500 Hello there|General; 4.000-5.000 Bye") {
            QTest::newRow(name) << QString(container) << QString(codec) << stream << until
                                << QString(cues);
        };
        row("SubRip in Matroska", "mkv", "srt");
        row("3GPP timed text in MP4", "mp4", "mov_text");
        row("the second of two ASS streams", "mkv", "ass", 1);
        row("up to the end of a trim", "mkv", "srt", 0, 3.9, "1.000-3.500 Hello there|General");
    }
    void streamsInside()
    {
        QFETCH(QString, container);
        QFETCH(QString, codec);
        QFETCH(int, stream);
        QFETCH(double, until);
        const QString folder = NewFolder(dir, folders, "inside");
        QVERIFY(WriteFile(folder + "/cues.srt", subRip.toUtf8()));
        const QString source = folder + "/Film." + container;
        QVERIFY(RunTool("ffmpeg", {"-nostdin", "-v", "error", "-i", SharedClip(), "-i",
                                   folder + "/cues.srt", "-map", "0:v", "-map", "1", "-map", "1",
                                   "-c:v", "copy", "-c:s", codec, source})
                    .ok());
        const QString script = folder + "/extracted.ass";
        const ToolResult extract =
            RunTool("ffmpeg", SubtitleSource::ExtractArguments(source, stream, script, until));
        QVERIFY2(extract.ok(), extract.err.constData());
        const SubtitleFile::Result result = SubtitleFile::Read(script);
        QTEST(Summary(result.track), "cues");
    }
};

QTEST_GUILESS_MAIN(TestSubtitles)
#include "tst_subtitles.moc"
