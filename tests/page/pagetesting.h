// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shared pieces of the page's tests: real clips made with ffmpeg, a settings folder of the
// test's own, a program folder with the test's profile files, and a closer for the modal
// message boxes the page shows, which records what they said.

#include "globals.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace PageTesting {

// A clip of `seconds` made by ffmpeg from its test pattern, with sound when `audio`.
inline QString MakeClip(const QString &folder, const QString &name, double seconds,
                        bool audio = true, const QString &size = QStringLiteral("176x144"))
{
    const QString path = QDir(folder).filePath(name);
    QStringList args = {
        QStringLiteral("-nostdin"), QStringLiteral("-v"),
        QStringLiteral("error"),    QStringLiteral("-y"),
        QStringLiteral("-f"),       QStringLiteral("lavfi"),
        QStringLiteral("-i"),       QStringLiteral("testsrc2=size=%1:rate=15").arg(size)};
    if (audio)
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("sine=frequency=440:sample_rate=22050");
    args << QStringLiteral("-t") << QString::number(seconds, 'f', 3) << QStringLiteral("-pix_fmt")
         << QStringLiteral("yuv420p") << QStringLiteral("-g") << QStringLiteral("15") << path;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return QString();
    return path;
}

// Points the user-scope settings at a folder of the test's own.
inline void UseSettingsFolder(const QString &folder)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, folder + "/system");
}

inline QSettings *OpenTestSettings()
{
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kestrani"),
                         QStringLiteral("Kestrani"));
}

// Makes `folder` the program folder, with app/ holding the given profile files.
inline void UseProgramFolder(const QString &folder, const QList<QPair<QString, QString>> &files)
{
    QDir(folder).mkpath(QStringLiteral("app"));
    for (const auto &file : files) {
        QFile out(QDir(folder).filePath(QStringLiteral("app/") + file.first));
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(file.second.toUtf8());
    }
    programFolder = WithTrailingSeparator(QDir::toNativeSeparators(folder));
}

// Accepts every message box that becomes the active modal window and records its caption
// and text, so a handler that shows one returns and the test can check what was said.
class MessageBoxCloser : public QObject
{
public:
    MessageBoxCloser()
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, &MessageBoxCloser::CloseOpenBoxes);
        timer.start();
    }

    QStringList captions;
    QStringList texts;
    QList<QMessageBox::Icon> icons;

private:
    void CloseOpenBoxes()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            captions << box->windowTitle();
            texts << box->text();
            icons << box->icon();
            box->accept();
        }
    }

    QTimer timer;
};

} // namespace PageTesting

#include "celllistctrl.h"
#include "kestranidlg.h"
#include "kestraniframedlg.h"
#include "rangeslider.h"
#include "videoedit.h"

#include <memory>

namespace PageTesting {

// The real window as the program opens it, with typed access to the controls tests use.
struct Window {
    Window() : frame(std::make_unique<CKestraniFrameDlg>())
    {
        frame->OnInitDialog();
        frame->show();
        page().chooseVideoFiles = [this](const QString &startFolder) {
            offeredFolders << startFolder;
            return chosenFiles;
        };
    }
    ~Window() { frameDialog = nullptr; }

    CKestraniDlg &page() { return frame->Page(); }
    CCellListCtrl *list() { return qobject_cast<CCellListCtrl *>(page().GetDlgItem(1011)); }
    CRangeSlider *slider() { return qobject_cast<CRangeSlider *>(page().GetDlgItem(1047)); }
    CVideoEdit *preview() { return qobject_cast<CVideoEdit *>(page().GetDlgItem(1053)); }
    QWidget *item(int id) { return page().GetDlgItem(id); }

    QString cell(int row, int column) { return list()->GetCellInfo(row, column)->text; }
    QPair<double, double> range()
    {
        double left = 0, right = 0;
        slider()->GetRange(left, right);
        return {left, right};
    }
    bool rowSelected(int row) { return list()->GetItemState(row, LVIS_SELECTED) != 0; }

    // Adds files through the add button and the open-file dialog's answer.
    void add(const QStringList &files)
    {
        chosenFiles = files;
        QTest::mouseClick(item(1012), Qt::LeftButton);
    }

    void clickRow(int row, Qt::MouseButton button = Qt::LeftButton)
    {
        QRect rect;
        if (list()->GetCellRect(row, 0, &rect))
            QTest::mouseClick(list()->viewport(), button, {}, rect.center());
    }

    std::unique_ptr<CKestraniFrameDlg> frame;
    QStringList chosenFiles;
    // The folder each open-file dialog would have started in.
    QStringList offeredFolders;
};

} // namespace PageTesting
