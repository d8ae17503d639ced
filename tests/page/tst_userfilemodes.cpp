// SPDX-License-Identifier: GPL-3.0-or-later
// The files the program creates for the user, its settings and its log, get the permissions
// the user's umask allows: neither wider (others could read or change them) nor narrower (the
// user's group, where the umask grants it, could not).
#include "enginepaths.h"
#include "errorlog.h"
#include "pagesettings.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "testfiles.h"

#include <sys/stat.h>
#include <unistd.h>

class TestUserFileModes : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // Before the first settings object: the settings folder is looked up once.
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        QCoreApplication::setOrganizationName(QStringLiteral("Kestrani"));
    }

private:
    static void AddMasks()
    {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 022") << 022;
        QTest::newRow("umask 077") << 077;
        QTest::newRow("umask 002") << 002;
        QTest::newRow("umask 027") << 027;
    }

private slots:
    // Settings written the way the page stores the output folder, in a settings folder that
    // does not exist yet.
    void settingsModes_data() { AddMasks(); }

    void settingsModes()
    {
        QFETCH(int, mask);
        const Umask restricted{mode_t(mask)};
        const QString folder = dir.filePath("config/Kestrani");
        QVERIFY(QDir(folder).removeRecursively());
        PageSettings::WriteDestination(QStringLiteral("/videos/out"));
        const QString file = folder + "/Kestrani.conf";
        QVERIFY(QFile::exists(file));
        QCOMPARE(ModeOf(file), mode_t(0666 & ~mask));
        QCOMPARE(ModeOf(folder), mode_t(0777 & ~mask));
        QString stored;
        QVERIFY(PageSettings::ReadDestination(stored));
        QCOMPARE(stored, QStringLiteral("/videos/out"));
    }

    // The log in the program's app folder.
    void logModes_data() { AddMasks(); }

    void logModes()
    {
        QFETCH(int, mask);
        const Umask restricted{mode_t(mask)};
        const QString program = dir.filePath(QStringLiteral("program-%1").arg(mask));
        QVERIFY(QDir().mkpath(program + "/app"));
        const EnginePaths paths = EnginePaths::ForProgramFolder(program);
        ErrorLog(paths.logFile, paths.fallbackLog).Append(QStringLiteral("entry\n"));
        QCOMPARE(ModeOf(program + "/app/log.txt"), mode_t(0666 & ~mask));
    }

    // The log in the per-user data folder, where the app folder cannot be written.
    void perUserLogModes_data() { AddMasks(); }

    void perUserLogModes()
    {
        QFETCH(int, mask);
        if (::geteuid() == 0)
            QSKIP("the super-user can write a read-only folder");
        const Umask restricted{mode_t(mask)};
        const QString program = dir.filePath(QStringLiteral("read-only-program-%1").arg(mask));
        const QString app = program + "/app";
        QVERIFY(QDir().mkpath(app));
        QVERIFY(QFile::setPermissions(app, QFile::ReadOwner | QFile::ExeOwner));
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        QVERIFY(QDir(dir.filePath("data")).removeRecursively());
        const EnginePaths paths = EnginePaths::ForProgramFolder(program);
        const ErrorLog log(paths.logFile, paths.fallbackLog);
        log.Append(QStringLiteral("entry\n"));
        QVERIFY(QFile::setPermissions(app, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(!QFile::exists(app + "/log.txt"));
        QCOMPARE(log.Path(), data + "/log.txt");
        QCOMPARE(ModeOf(data + "/log.txt"), mode_t(0666 & ~mask));
        QCOMPARE(ModeOf(data), mode_t(0777 & ~mask));
    }
};

QTEST_GUILESS_MAIN(TestUserFileModes)
#include "tst_userfilemodes.moc"
