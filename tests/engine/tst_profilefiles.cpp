// SPDX-License-Identifier: GPL-3.0-or-later
// The profile files: what the window lists from each, what a task runs from a profile, and what
// an edited, broken or missing file gives.
#include "engine.h"

#include "mediacheck/outputcheck.h"
#include "profiles/profilecatalog.h"

#include <QRegularExpression>

using namespace support;

class TestProfileFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;

private slots:
    // Each shipped file lists its profiles with the default selected; every profile has its
    // passes named in order, a first pass that stops on "q", a Check entry that its title tells.
    void shipped_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("listing"); // how many profiles, the default's title
        QTest::newRow("3GP with AMR")
            << 0 << "5 Standard - 176x144, 15 fps (H.263, AMR 12.2 kbit/s)";
        QTest::newRow("3GP with AAC") << 1 << "5 Good - 320x240, 15 fps (H.264, AAC 64 kbit/s)";
        QTest::newRow("3G2 with AAC") << 2 << "4 Standard - 176x144, 15 fps (H.264, AAC 48 kbit/s)";
    }
    void shipped()
    {
        QFETCH(int, type);
        Batch batch(MakeProgramFolder(NewFolder(dir, folders)), type, dir.path());
        batch.engine.LoadProfiles(type);
        const RecordingHost &host = batch.host;
        QVERIFY(!host.description.isEmpty());
        QTEST(QString::number(host.rows.size()) + u' ' + host.rows.value(host.profileRow),
              "listing");
        const int passes = OutputType::Find(type)->PassCount();
        for (int row = 0; row < host.rows.size(); ++row) {
            const Profile p = ProfileCatalog(batch.engine.Paths()).Load(type, row).value();
            for (int pass = 1; pass <= passes; ++pass)
                QCOMPARE(p.keys.value(pass), QStringLiteral("Pass%1").arg(pass));
            QVERIFY(!p.PassTemplate(1).contains("-nostdin")); // a Stop sends "q"
            OutputExpectation check;
            QVERIFY(check.ReadCheckEntry(p.keys, p.values));
            QVERIFY(p.values[0].contains(QString::asprintf(
                "%dx%d, %d fps", check.width, check.height, qRound(check.maxFrameRate))));
        }
    }

    // The 3GP AMR file replaced: what the window then shows (it was showing "old"), how many
    // passes a task gets from its first profile (none: it has no usable profile), and what is
    // said about the file: a box on loading it, or why its first profile cannot be used.
    void edited_data()
    {
        QTest::addColumn<QByteArray>("content"); // none: no file; "/...": a link to there
        QTest::addColumn<QString>("shown");      // description|rows|selected row
        QTest::addColumn<int>("passes");
        QTest::addColumn<QString>("said"); // "…" stands for any text
        const auto row = [](const char *name, const QByteArray &content, const char *shown,
                            int passes, const char *said = "") {
            QTest::newRow(name) << content << QString(shown) << passes << QString(said);
        };
        const QByteArray info = "[Info]\nDescription=d\nDefaultProfile=";
        const QByteArray low = "[Low]\nTitle=Low\nPass1=a\nPass2=b\nPass3=c\nCheck=h263 96x96 9\n";
        row("missing file: the list stays", QByteArray(), "old|old|-2", 0);
        row("a folder in its place", "/", "old|old|-2", 0);
        row("binary garbage", QByteArray("\0\xff[\x01\xfe=\x02\n\x80\x81", 10), "old|old|-2", 0);
        row("no Info section", low, "old|old|-2", 0);
        row("Info only: the list empties", info + "1\n", "d||-1", 0);
        row("default 2 of two", info + "2\n" + low + "[High]\nTitle=High\n", "d|Low,High|1", 3);
        row("default 0 selects nothing", info + "0\n" + low, "d|Low|-1", 3);
        row("default past the last selects nothing", info + "2\n" + low, "d|Low|-1", 3);
        row("profile missing a pass: listed, never run",
            info + "1\n[Low]\nTitle=Low\nPass1=a\nPass2=b\n", "d|Low|0", 0);
        row("profile missing its last pass before its Check",
            info + "1\n[Low]\nTitle=Low\nPass1=a\nPass2=b\nCheck=h263 176x144 15\n", "d|Low|0", 0);
        row("UTF-8 mark, CRLF, comments, names in any case",
            "\xEF\xBB\xBF[info]\r\n; mine\r\n description = \"Qualit\xC3\xA4t\" "
            "\r\ndefaultprofile=1"
            "\r\n[LOW]\r\ntitle=Low\r\npass1=a\r\nPASS2=b\r\nPass3=c\r\n",
            "Qualität|Low|0", 3);
        row("a Check line that cannot be read: the profile is refused, naming the line",
            info + "1\n[Low]\nTitle=Low\nPass1=a\nPass2=b\nPass3=c\n\ncheck = h264, 176x144, 15\n",
            "d|Low|0", 0,
            "the profile \"Low\" cannot be used: line 10 of …3GP_AMR_Profile.ini "
            "(check=h264, 176x144, 15) is not written as \"Check=codec WIDTHxHEIGHT rate\"");
        row("a DefaultProfile too large for any number: the first, with a warning",
            info + "99999999999999999999\n" + low + "[High]\nTitle=High\n", "d|Low,High|0", 3,
            "Warning: DefaultProfile=99999999999999999999 in …3GP_AMR_Profile.ini is too "
            "large: the first profile is selected instead");
    }
    void edited()
    {
        QFETCH(QByteArray, content);
        const QString folder = NewFolder(dir, folders);
        const EnginePaths paths = MakeProgramFolder(folder);
        const QString file = paths.InApp("3GP_AMR_Profile.ini");
        QVERIFY(QFile::remove(file));
        QVERIFY(content.isNull() ||
                (content.startsWith('/') ? QFile::link(content, file) : WriteFile(file, content)));
        Batch batch(paths, 0, folder);
        RecordingHost &host = batch.host;
        host.description = "old", host.rows = {"old"}, host.profileRow = -2;
        batch.engine.LoadProfiles(0);
        QTEST(QString("%1|%2|%3")
                  .arg(host.description, host.rows.join(u','), QString::number(host.profileRow)),
              "shown");
        host.profileRow = 0;
        batch.Add("/nonexistent/clip.avi", 5);
        QTEST(int(batch.engine.TaskCommands(0).size()), "passes");
        QString told, problem;
        for (const RecordingHost::Message &m : std::as_const(host.messages))
            told += m.caption + ": " + m.text;
        ProfileCatalog(paths).Load(0, 0, &problem);
        told += problem;
        QFETCH(QString, said);
        const QString pattern = QRegularExpression::escape(said).replace("\\…", ".*");
        QVERIFY2(QRegularExpression("^" + pattern + "$").match(told).hasMatch(), qPrintable(told));
    }
};

QTEST_GUILESS_MAIN(TestProfileFiles)
#include "tst_profilefiles.moc"
