// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversionengine.h"
#include "inireader.h"
#include "outputtypes.h"
#include "profilecatalog.h"
#include "recordinghost.h"
#include "tasklist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The profile reader against hand-written files, and the profile catalog built on it.
class TestIniReader : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    EnginePaths paths;

    QString Write(const QString &name, const QByteArray &content)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        f.write(content);
        return path;
    }
    // Profile files live in the app folder beside the program.
    void WriteProfile(int outputType, const QByteArray &content)
    {
        Write(QStringLiteral("app/") + OutputType::Find(outputType)->ProfileFile(), content);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("app")));
        paths = EnginePaths::ForProgramFolder(dir.path());
        QVERIFY(paths.IsValid());
    }

    void sectionNames_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("file order, not sorted")
            << QByteArray("[Info]\na=1\n[Zeta]\nb=2\n[alpha]\nc=3\n")
            << QStringList{"Info", "Zeta", "alpha"};
        QTest::newRow("blanks around names trimmed")
            << QByteArray("  [  Info  ]  \nx=1\r\n[ Low  Rate ]\r\n")
            << QStringList{"Info", "Low  Rate"};
        QTest::newRow("lines before the first section ignored")
            << QByteArray("stray=1\n[S]\n") << QStringList{"S"};
        QTest::newRow("no sections gives one empty name")
            << QByteArray("just text\n") << QStringList{""};
        QTest::newRow("empty file gives one empty name") << QByteArray() << QStringList{""};
        QTest::newRow("utf-8 with byte-order mark")
            << QByteArray("\xEF\xBB\xBF[Info]\n[H\xC3\xB6he]\n") << QStringList{"Info", "Höhe"};
    }
    void sectionNames()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, names);
        CIniReader reader;
        QVERIFY(reader.SetFile(Write("names.ini", content)));
        QStringList got{"stale"};
        QCOMPARE(reader.GetSectionNames(got), int(names.size()));
        QCOMPARE(got, names);
    }

    void missingFile()
    {
        CIniReader reader;
        QVERIFY(!reader.SetFile(dir.filePath("nothing.ini")));
        QVERIFY(!reader.SetFile(dir.path())); // a folder is no file
        QStringList names, keys, values;
        QCOMPARE(reader.GetSectionNames(names), 1);
        QCOMPARE(names, QStringList{""});
        QCOMPARE(reader.GetSection("Info", keys, values), 1);
        QCOMPARE(keys, QStringList{""});
        QCOMPARE(values, QStringList{""});
        QVERIFY(!reader.HasKeys("Info"));
        QCOMPARE(reader.GetString("Info", "Description"), QString());
    }

    void section_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("entries in file order")
            << QByteArray("[P]\nTitle=Low\nzz=one\naa=two\n") << QStringList{"Title", "zz", "aa"}
            << QStringList{"Low", "one", "two"};
        QTest::newRow("first = splits, later = stay in the value")
            << QByteArray("[P]\ncmd=ffmpeg -metadata title=x -b:v=96k\n") << QStringList{"cmd"}
            << QStringList{"ffmpeg -metadata title=x -b:v=96k"};
        QTest::newRow("entry without = has an empty key")
            << QByteArray("[P]\nffmpeg -i in out\n") << QStringList{""}
            << QStringList{"ffmpeg -i in out"};
        QTest::newRow("blanks around key and value trimmed, quotes kept")
            << QByteArray("[P]\n  Pass1  =  \"a b\"  \n") << QStringList{"Pass1"}
            << QStringList{"\"a b\""};
        QTest::newRow("empty section gives one empty entry")
            << QByteArray("[P]\n[Q]\nx=1\n") << QStringList{""} << QStringList{""};
        QTest::newRow("section name case-insensitive")
            << QByteArray("[p]\nk=v\n") << QStringList{"k"} << QStringList{"v"};
        QTest::newRow("comments and blank lines are no entries")
            << QByteArray("[P]\n; note\n\nk=v\n") << QStringList{"k"} << QStringList{"v"};
    }
    void section()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, keys);
        QFETCH(QStringList, values);
        CIniReader reader;
        reader.SetFile(Write("section.ini", content));
        QStringList gotKeys{"stale"}, gotValues;
        QCOMPARE(reader.GetSection("P", gotKeys, gotValues), int(keys.size()));
        QCOMPARE(gotKeys, keys);
        QCOMPARE(gotValues, values);
    }

    void readByKey_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const QByteArray longValue(300, 'x');
        QTest::newRow("plain") << QByteArray("Title=Low rate") << "Title"
                               << "Low rate";
        QTest::newRow("key case-insensitive") << QByteArray("TITLE=Low") << "title"
                                              << "Low";
        QTest::newRow("double quotes removed") << QByteArray("Title=\"  Low \"") << "Title"
                                               << "  Low ";
        QTest::newRow("single quotes removed") << QByteArray("Title='Low'") << "Title"
                                               << "Low";
        QTest::newRow("unmatched quote kept") << QByteArray("Title=\"Low") << "Title"
                                              << "\"Low";
        QTest::newRow("value cut to 259 characters")
            << QByteArray("Title=" + longValue) << "Title" << QString(259, 'x');
        QTest::newRow("first of two equal keys") << QByteArray("Title=a\ntitle=b") << "Title"
                                                 << "a";
        QTest::newRow("missing key") << QByteArray("Title=a") << "Description"
                                     << "";
        QTest::newRow("non-ascii value")
            << QByteArray("Title=Qualit\xC3\xA4t \xE2\x86\x92 hoch") << "Title"
            << "Qualität → hoch";
    }
    void readByKey()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, key);
        QFETCH(QString, value);
        CIniReader reader;
        reader.SetFile(Write("key.ini", "[Info]\n" + line + "\n[Other]\nTitle=other\n"));
        QCOMPARE(reader.GetString("info", key), value);
        QVERIFY(reader.HasKeys("INFO"));
    }

    void commandEntryOfAnyLengthArrivesWhole()
    {
        const QByteArray command = "ffmpeg " + QByteArray(5000, 'a') + " -y out";
        CIniReader reader;
        reader.SetFile(Write("long.ini", "[P]\nTitle=t\nPass1=" + command + "\n"));
        QStringList keys, values;
        reader.GetSection("P", keys, values);
        QCOMPARE(values.at(1), QString::fromLatin1(command));
    }

    // --- the catalog shown through the host

    void loadProfiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("selection");
        const QByteArray three = "[P1]\nTitle=Low\n[P2]\nTitle=Mid\n[P3]\nTitle=High\n";
        QTest::newRow("default 2 of three selects the second row")
            << "[Info]\nDescription=d\nDefaultProfile=2\n" + three
            << QStringList{"Low", "Mid", "High"} << 1;
        QTest::newRow("default 0 selects nothing")
            << "[Info]\nDescription=d\nDefaultProfile=0\n" + three
            << QStringList{"Low", "Mid", "High"} << -1;
        QTest::newRow("default past the last profile selects nothing")
            << "[Info]\nDescription=d\nDefaultProfile=4\n" + three
            << QStringList{"Low", "Mid", "High"} << -1;
        QTest::newRow("default not a number selects nothing")
            << "[Info]\nDescription=d\nDefaultProfile=two\n" + three
            << QStringList{"Low", "Mid", "High"} << -1;
        QTest::newRow("default with trailing text reads its digits")
            << "[Info]\nDescription=d\nDefaultProfile=3rd\n" + three
            << QStringList{"Low", "Mid", "High"} << 2;
        QTest::newRow("info only empties the list")
            << QByteArray("[Info]\nDescription=d\nDefaultProfile=1\n") << QStringList{} << -1;
        QTest::newRow("profile without title gives an empty row")
            << QByteArray("[Info]\nDescription=d\nDefaultProfile=1\n[P1]\nPass1=x\n")
            << QStringList{""} << 0;
    }
    void loadProfiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, rows);
        QFETCH(int, selection);
        WriteProfile(1, content);
        RecordingHost host;
        host.rows = QStringList{"old"};
        TaskList tasks;
        ConversionEngine engine(host, tasks, paths);
        const QString current = QDir::currentPath();
        engine.LoadProfiles(1);
        QCOMPARE(host.description, QString("d"));
        QCOMPARE(host.rows, rows);
        QCOMPARE(host.selection, selection);
        QCOMPARE(QDir::currentPath(), current); // the app folder is never made current
    }

    void loadProfilesWithoutInfoKeepsWhatWasShown_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty info section") << QByteArray("[Info]\n[P1]\nTitle=Low\n");
        QTest::newRow("no info section") << QByteArray("[P1]\nTitle=Low\n");
    }
    void loadProfilesWithoutInfoKeepsWhatWasShown()
    {
        QFETCH(QByteArray, content);
        WriteProfile(2, content);
        RecordingHost host;
        host.rows = QStringList{"kept"};
        TaskList tasks;
        ConversionEngine engine(host, tasks, paths);
        engine.LoadProfiles(2);
        engine.LoadProfiles(7); // no such output type
        QCOMPARE(host.description, QString("<unset>"));
        QCOMPARE(host.rows, QStringList{"kept"});
        QCOMPARE(host.resets, 0);
        QCOMPARE(host.selection, -2);
    }

    void longTitleAndDescriptionAreCut()
    {
        const QByteArray text(400, 'd');
        WriteProfile(0, "[Info]\nDescription=" + text + "\nDefaultProfile=1\n[P]\nTitle=" + text +
                            "\n");
        RecordingHost host;
        TaskList tasks;
        ConversionEngine engine(host, tasks, paths);
        engine.LoadProfiles(0);
        QCOMPARE(host.description.size(), 259);
        QCOMPARE(host.rows.value(0).size(), 259);
    }

    // A profile by its row: the section after "Info" with that position, its entries in order.
    void loadProfile_data()
    {
        QTest::addColumn<int>("outputType");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("values"); // empty: no profile
        QTest::addColumn<int>("passes");
        QTest::newRow("second profile by position")
            << 0 << 1 << QStringList{"B", "b1 -x=1", "b2", "b3"} << 3;
        QTest::newRow("first profile lacks a pass") << 0 << 0 << QStringList{"A", "a1", "a2"} << 2;
        QTest::newRow("no profile selected reads nothing") << 0 << -1 << QStringList{} << 0;
        QTest::newRow("row past the sections reads nothing") << 0 << 2 << QStringList{} << 0;
        QTest::newRow("no output type reads nothing") << -1 << 0 << QStringList{} << 0;
        QTest::newRow("missing file reads nothing") << 1 << 0 << QStringList{} << 0;
    }
    void loadProfile()
    {
        QFETCH(int, outputType);
        QFETCH(int, row);
        QFETCH(QStringList, values);
        QFETCH(int, passes);
        QFile::remove(dir.filePath("app/3GP_AAC_Profile.ini"));
        WriteProfile(0, "[Info]\nDescription=d\n[A]\nTitle=A\nP1=a1\nP2=a2\n"
                        "[B]\nTitle=B\nP1=b1 -x=1\nP2=b2\nP3=b3\n");
        const ProfileCatalog catalog(paths);
        QCOMPARE(catalog.List(outputType).readable, outputType == 0);
        const std::optional<Profile> profile = catalog.Load(outputType, row);
        QCOMPARE(profile.has_value(), !values.isEmpty());
        if (!profile)
            return;
        QCOMPARE(profile->values, values);
        QCOMPARE(profile->keys.value(0), QString("Title"));
        QVERIFY(profile->HasPasses(passes));
        QVERIFY(!profile->HasPasses(passes + 1));
        QCOMPARE(profile->PassTemplate(passes), values.last());
        QCOMPARE(profile->PassTemplate(passes + 1), QString()); // never a read past the end
        QCOMPARE(profile->PassTemplate(0), QString());
        QCOMPARE(profile->Entry("p2"), values.value(2));
    }
};

QTEST_GUILESS_MAIN(TestIniReader)
#include "tst_inireader.moc"
