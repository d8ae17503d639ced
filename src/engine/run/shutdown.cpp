// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/shutdown.h"

#include "enginehost.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#endif

namespace {

void ShowCannotShutdown(EngineHost &host, const QString &reason)
{
    host.ShowMessage(QStringLiteral("The computer cannot be shut down: %1").arg(reason),
                     QStringLiteral("Warning"), EngineHost::MessageIcon::Error);
}

#ifdef _WIN32

// The shut-down right must be switched on in our own token before the system lets us end it.
bool EnableShutdownPrivilege()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
        CloseHandle(token);
        return false;
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // AdjustTokenPrivileges succeeds even when the right was not granted; only the last
    // error (ERROR_NOT_ALL_ASSIGNED) tells.
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    const bool granted = GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return granted;
}

#else

const char *const loginService = "org.freedesktop.login1";
const char *const loginPath = "/org/freedesktop/login1";
const char *const loginManager = "org.freedesktop.login1.Manager";

// A connection of our own rather than the shared system bus, so that a bus restarted since
// the program began is reached again, and nothing of it stays open afterwards.
class SystemBusConnection
{
public:
    SystemBusConnection()
        : connection(QDBusConnection::connectToBus(QDBusConnection::SystemBus, connectionName))
    {}
    ~SystemBusConnection() { QDBusConnection::disconnectFromBus(connectionName); }
    SystemBusConnection(const SystemBusConnection &) = delete;
    SystemBusConnection &operator=(const SystemBusConnection &) = delete;

    QDBusConnection connection;

private:
    static inline const QString connectionName = QStringLiteral("kestrani-shutdown");
};

QDBusMessage ManagerCall(const char *method)
{
    return QDBusMessage::createMethodCall(
        QString::fromLatin1(loginService), QString::fromLatin1(loginPath),
        QString::fromLatin1(loginManager), QString::fromLatin1(method));
}

// Why the login manager will not power off without asking, in words; empty when it agrees.
// "yes" is the only answer that lets a non-interactive power-off through: "challenge" would
// need a password prompt we cannot show, "no" and "na" are refusals.
QString PowerOffRefusal(const QDBusConnection &bus)
{
    const QDBusReply<QString> reply = bus.call(ManagerCall("CanPowerOff"));
    if (!reply.isValid())
        return QStringLiteral("the login manager cannot be asked (%1)")
            .arg(reply.error().message());
    const QString answer = reply.value();
    if (answer == QLatin1String("yes"))
        return QString();
    if (answer == QLatin1String("challenge"))
        return QStringLiteral("the login manager would ask for a password first");
    if (answer == QLatin1String("no"))
        return QStringLiteral("the login manager does not allow this user to power it off");
    if (answer == QLatin1String("na"))
        return QStringLiteral("the login manager cannot power off this machine");
    return QStringLiteral("the login manager answered \"%1\"").arg(answer);
}

#endif

} // namespace

void ShutdownComputer(EngineHost &host)
{
#ifdef _WIN32
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma warning(suppress : 4996)
    GetVersionExA(&version);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (!EnableShutdownPrivilege()) {
            ShowCannotShutdown(host, QStringLiteral("this user may not shut it down"));
            return;
        }
        ExitWindowsEx(EWX_POWEROFF | EWX_FORCE, 0);
    } else if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        ExitWindowsEx(EWX_SHUTDOWN, 0);
    }
#else
    SystemBusConnection bus;
    if (!bus.connection.isConnected()) {
        ShowCannotShutdown(host, QStringLiteral("the system bus cannot be reached (%1)")
                                     .arg(bus.connection.lastError().message()));
        return;
    }
    if (const QString refusal = PowerOffRefusal(bus.connection); !refusal.isEmpty()) {
        ShowCannotShutdown(host, refusal);
        return;
    }
    QDBusMessage powerOff = ManagerCall("PowerOff");
    powerOff << false; // not interactive: never ask the user for a password
    // The manager answers before the machine goes down; an error (an inhibitor, a policy
    // changed meanwhile) leaves it on, with somebody to tell.
    const QDBusMessage answer = bus.connection.call(powerOff);
    if (answer.type() == QDBusMessage::ErrorMessage)
        ShowCannotShutdown(host, answer.errorMessage());
#endif
}
