// SPDX-License-Identifier: GPL-3.0-or-later
// Shutdown against a private message bus and a login manager of our own. Nothing here may
// reach the machine's real system bus: the bus address is set before any D-Bus use, and the
// case refuses to run unless the bus it talks to is the daemon it started itself.
#include "enginehost.h"
#include "shutdown.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct ShownMessage {
    QString text;
    QString caption;
    EngineHost::MessageIcon icon;
};

class RecordingHost : public EngineHost
{
public:
    int SelectedOutputType() const override { return 0; }
    int SelectedProfileRow() const override { return 0; }
    QString OutputDirectoryText() const override { return {}; }
    bool ShutdownAfterBatch() const override { return true; }
    void InvalidateCells(int, int, int, bool) override {}
    void SetProfileDescription(const QString &) override {}
    void ResetProfileList() override {}
    void AddProfileRow(const QString &) override {}
    void SetProfileSelection(int) override {}
    void ShowConvertingButtons(bool) override {}
    void EnableOutputSettings(bool) override {}
    void ShowMessage(const QString &text, const QString &caption, MessageIcon icon) override
    {
        messages.append({text, caption, icon});
    }
    void StopPreview() override {}

    QList<ShownMessage> messages;
};

const char *const busVariable = "DBUS_SYSTEM_BUS_ADDRESS";

QByteArray BusConfig(const QString &socketPath)
{
    return QStringLiteral(
               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <listen>unix:path=%1</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow user=\"*\"/>\n"
               "    <allow own=\"*\"/>\n"
               "    <allow send_destination=\"*\"/>\n"
               "    <allow receive_sender=\"*\"/>\n"
               "  </policy>\n"
               "</busconfig>\n")
        .arg(socketPath)
        .toUtf8();
}

} // namespace

class TestShutdown : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void loginManagerAnswer_data();
    void loginManagerAnswer();
    void noLoginManagerOnTheBus();
    void noBusAtAll(); // stops the bus: keep it last

private:
    void StartFakeLogind(const QString &answer);
    void StopFakeLogind();
    void RequirePrivateBus();
    bool SystemBusIsOurs() const;
    QStringList RecordedCalls() const;
    static void CheckWarningShown(const RecordingHost &host);

    QTemporaryDir dir;
    QString busAddress;
    QProcess daemon;
    QProcess logind;
    QString recordPath;
};

void TestShutdown::initTestCase()
{
    QVERIFY(dir.isValid());
    const QString socketPath = dir.filePath(QStringLiteral("bus"));
    busAddress = QStringLiteral("unix:path=") + socketPath;
    // Before anything opens a D-Bus connection: the bus library reads this only once.
    qputenv(busVariable, busAddress.toUtf8());

    QFile config(dir.filePath(QStringLiteral("bus.conf")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(BusConfig(socketPath));
    config.close();

    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address")});
    QVERIFY2(daemon.waitForStarted(), "dbus-daemon is needed for this test");
    QByteArray printed;
    while (!printed.contains('\n') && daemon.waitForReadyRead(5000))
        printed += daemon.readAllStandardOutput();
    QVERIFY2(printed.startsWith(busAddress.toUtf8()), printed.constData());
    RequirePrivateBus();
    QVERIFY(SystemBusIsOurs());
    recordPath = dir.filePath(QStringLiteral("calls.txt"));
}

// A name owned on our bus through its address must be visible through the system bus
// connection too: proof that the process reaches this daemon and no other.
bool TestShutdown::SystemBusIsOurs() const
{
    const QString marker = QStringLiteral("org.kestrani.TestBus");
    QDBusConnection direct = QDBusConnection::connectToBus(busAddress, QStringLiteral("marker"));
    bool same = false;
    if (direct.registerService(marker)) {
        QDBusConnection system =
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("probe"));
        const QDBusReply<bool> owned = system.interface()->isServiceRegistered(marker);
        same = owned.isValid() && owned.value();
        QDBusConnection::disconnectFromBus(QStringLiteral("probe"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("marker"));
    return same;
}

void TestShutdown::cleanupTestCase()
{
    StopFakeLogind();
    if (daemon.state() != QProcess::NotRunning) {
        daemon.terminate();
        daemon.waitForFinished(5000);
    }
}

void TestShutdown::RequirePrivateBus()
{
    if (qgetenv(busVariable) != busAddress.toUtf8() || busAddress.isEmpty())
        QFAIL("refusing to run: the system bus address is not this test's own bus");
}

void TestShutdown::StartFakeLogind(const QString &answer)
{
    QFile::remove(recordPath);
    logind.start(QStringLiteral(KESTRANI_TEST_BIN_DIR "/fake_logind"),
                 {busAddress, answer, recordPath});
    QVERIFY(logind.waitForStarted());
    QByteArray out;
    while (!out.contains("ready") && logind.waitForReadyRead(5000))
        out += logind.readAllStandardOutput();
    QVERIFY2(out.contains("ready"), logind.readAllStandardError().constData());
}

void TestShutdown::StopFakeLogind()
{
    if (logind.state() == QProcess::NotRunning)
        return;
    logind.terminate();
    if (!logind.waitForFinished(5000))
        logind.kill();
}

QStringList TestShutdown::RecordedCalls() const
{
    QFile file(recordPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

void TestShutdown::CheckWarningShown(const RecordingHost &host)
{
    QCOMPARE(host.messages.size(), 1);
    QCOMPARE(host.messages[0].text, QStringLiteral("Your computer cannot shutdown"));
    QCOMPARE(host.messages[0].caption, QStringLiteral("Warning"));
    QCOMPARE(host.messages[0].icon, EngineHost::MessageIcon::Error);
}

void TestShutdown::loginManagerAnswer_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("calls");
    const QString ask = QStringLiteral("CanPowerOff");
    QTest::newRow("yes powers off without asking the user")
        << "yes" << QStringList{ask, QStringLiteral("PowerOff false")};
    QTest::newRow("no is refused") << "no" << QStringList{ask};
    QTest::newRow("challenge needs a password: refused") << "challenge" << QStringList{ask};
    QTest::newRow("na is refused") << "na" << QStringList{ask};
    QTest::newRow("an unknown answer is refused") << "Yes please" << QStringList{ask};
}

void TestShutdown::loginManagerAnswer()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, calls);
    RequirePrivateBus();
    StartFakeLogind(answer);

    RecordingHost host;
    ShutdownComputer(host);
    StopFakeLogind();

    QCOMPARE(RecordedCalls(), calls);
    if (calls.size() == 2)
        QVERIFY(host.messages.isEmpty());
    else
        CheckWarningShown(host);
}

void TestShutdown::noLoginManagerOnTheBus()
{
    RequirePrivateBus();
    RecordingHost host;
    ShutdownComputer(host);
    CheckWarningShown(host);
}

void TestShutdown::noBusAtAll()
{
    RequirePrivateBus();
    daemon.terminate();
    QVERIFY(daemon.waitForFinished(5000));
    RecordingHost host;
    ShutdownComputer(host);
    CheckWarningShown(host);
}

QTEST_GUILESS_MAIN(TestShutdown)
#include "tst_shutdown.moc"
