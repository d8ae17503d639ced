// SPDX-License-Identifier: GPL-3.0-or-later
#include "pagesettings.h"

#include "globals.h"
#include "pageconstants.h"

#include <QSettings>
#include <QStandardPaths>

#include <memory>

namespace {

// Native format, user scope: the registry on Windows, an INI file under XDG_CONFIG_HOME here.
std::unique_ptr<QSettings> OpenSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromLatin1(Page::settingsOrganization),
                                       QString::fromLatin1(Page::settingsApplication));
}

bool ReadKey(const char *key, QString &value)
{
    const auto settings = OpenSettings();
    const QString name = QString::fromLatin1(key);
    if (!settings->contains(name))
        return false;
    value = settings->value(name).toString();
    return true;
}

void WriteKey(const char *key, const QString &value)
{
    const auto settings = OpenSettings();
    settings->setValue(QString::fromLatin1(key), value);
    settings->sync();
}

} // namespace

QString PageSettings::ReadVersion()
{
    QString version;
    if (!ReadKey(Page::versionKey, version))
        return QStringLiteral(KESTRANI_VERSION);
    return version.left(Page::versionMaxLength);
}

bool PageSettings::ReadDestination(QString &folder)
{
    return ReadKey(Page::destinationKey, folder);
}

void PageSettings::WriteDestination(const QString &folder)
{
    WriteKey(Page::destinationKey, folder);
}

void PageSettings::WriteFileNumber(int fileNumber)
{
    WriteKey(Page::fileNumberKey, QString::number(fileNumber));
}

int PageSettings::ReadSimultaneousTasks()
{
    QString text;
    bool ok = false;
    const int count = ReadKey(Page::simultaneousKey, text) ? text.toInt(&ok) : 1;
    return ok && count >= 0 && count <= Page::maxSimultaneousTasks ? count : 1;
}

void PageSettings::WriteSimultaneousTasks(int count)
{
    WriteKey(Page::simultaneousKey, QString::number(count));
}

bool PageSettings::ReadFlag(const char *key, bool otherwise)
{
    QString text;
    if (!ReadKey(key, text))
        return otherwise;
    return text == u"1" ? true : text == u"0" ? false : otherwise;
}

void PageSettings::WriteFlag(const char *key, bool on)
{
    WriteKey(key, on ? QStringLiteral("1") : QStringLiteral("0"));
}

QString PageSettings::ReadText(const char *key, const QString &otherwise)
{
    QString text;
    return ReadKey(key, text) ? text : otherwise;
}

void PageSettings::WriteText(const char *key, const QString &text)
{
    WriteKey(key, text);
}

std::optional<QPoint> PageSettings::ReadPlace(const char *key)
{
    const QVariant stored = OpenSettings()->value(QString::fromLatin1(key));
    if (!stored.canConvert<QPoint>() || stored.typeId() != QMetaType::QPoint)
        return std::nullopt;
    return stored.toPoint();
}

void PageSettings::WritePlace(const char *key, const QPoint &topLeft)
{
    const auto settings = OpenSettings();
    settings->setValue(QString::fromLatin1(key), topLeft);
    settings->sync();
}

QString PageSettings::DefaultOutputFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("D:\\");
#else
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    return WithTrailingSeparator(folder);
#endif
}
