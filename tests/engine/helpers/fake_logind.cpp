// SPDX-License-Identifier: GPL-3.0-or-later
// A login manager for tests: owns org.freedesktop.login1 on the bus whose address it is given,
// answers CanPowerOff with a fixed text and writes every call to a record file instead of
// doing anything. An answer "yes:WHY" agrees, then fails PowerOff with the message WHY. Prints
// "ready" once the name is owned.
//
//   fake_logind BUS_ADDRESS ANSWER RECORD_FILE
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QFile>
#include <QObject>
#include <cstdio>

class FakeManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    FakeManager(const QString &answer, const QString &record) : answer(answer), record(record) {}

public slots:
    QString CanPowerOff() { return Record("CanPowerOff\n"), answer.section(u':', 0, 0); }
    void PowerOff(bool interactive)
    {
        Record(interactive ? "PowerOff true\n" : "PowerOff false\n");
        if (answer.contains(u':'))
            sendErrorReply(QDBusError::AccessDenied, answer.section(u':', 1));
    }

private:
    void Record(const char *line)
    {
        if (record.open(QIODevice::Append))
            record.write(line), record.close();
    }

    QString answer;
    QFile record;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return std::fprintf(stderr, "usage: fake_logind BUS_ADDRESS ANSWER RECORD_FILE\n"), 2;
    QDBusConnection bus = QDBusConnection::connectToBus(args[1], QStringLiteral("fake"));
    FakeManager manager(args[2], args[3]);
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.login1")))
        return std::fprintf(stderr, "fake_logind: %s\n", qPrintable(bus.lastError().message())), 1;
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "fake_logind.moc"
