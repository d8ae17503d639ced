// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The real window as the program opens it, with typed access to the controls tests use, a
// settings folder and a program folder of the test's own, and a closer for the modal message
// boxes the window shows, which records what they said.

#include "engine.h"

#include "celllistctrl.h"
#include "globals.h"
#include "kestranidlg.h"
#include "kestraniframedlg.h"
#include "rangeslider.h"
#include "videoedit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHelpEvent>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <memory>

namespace support {

// Points the user-scope settings at a folder of the test's own.
inline void UseSettingsFolder(const QString &folder)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, folder + "/system");
}

// Makes `folder` the window's program folder, made as MakeProgramFolder makes one.
inline void UseProgramFolder(const QString &folder, const QMap<QString, QString> &replacements = {})
{
    MakeProgramFolder(folder, replacements);
    programFolder = WithTrailingSeparator(QDir::toNativeSeparators(folder));
}

// Accepts every message box that becomes visible and records its caption, text and icon, so a
// handler that shows one returns and the test can check what was said.
class MessageBoxCloser : public QObject
{
public:
    MessageBoxCloser()
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (!box || !box->isVisible())
                    continue;
                captions << box->windowTitle();
                texts << box->text();
                icons << box->icon();
                box->accept();
            }
        });
        timer.start();
    }

    QStringList captions;
    QStringList texts;
    QList<QMessageBox::Icon> icons;

private:
    QTimer timer;
};

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
    void click(int id) { QTest::mouseClick(item(id), Qt::LeftButton); }

    QString cell(int row, int column) { return list()->GetCellInfo(row, column)->text; }
    QPair<double, double> range()
    {
        double left = 0, right = 0;
        slider()->GetRange(left, right);
        return {left, right};
    }

    // Adds files through the add button and the open-file dialog's answer.
    void add(const QStringList &files)
    {
        chosenFiles = files;
        click(1012);
    }

    // The tip shown when the mouse rests on a cell of the list; empty when none.
    QString tip(int row, int column)
    {
        QRect rect;
        if (!list()->GetCellRect(row, column, &rect))
            return QStringLiteral("no such cell");
        QWidget *viewport = list()->viewport();
        // Qt hides a tip only after a while: a mark shown first stays when no tip replaces it.
        const QString none = QStringLiteral("(no tip)");
        QToolTip::showText(viewport->mapToGlobal(rect.center()), none, viewport);
        QHelpEvent event(QEvent::ToolTip, rect.center(), viewport->mapToGlobal(rect.center()));
        QApplication::sendEvent(viewport, &event);
        return QToolTip::isVisible() && QToolTip::text() != none ? QToolTip::text() : QString();
    }

    void clickRow(int row, Qt::MouseButton button = Qt::LeftButton)
    {
        QRect rect;
        if (list()->GetCellRect(row, 0, &rect))
            QTest::mouseClick(list()->viewport(), button, {}, rect.center());
    }

    std::unique_ptr<CKestraniFrameDlg> frame;
    QStringList chosenFiles;
    QStringList offeredFolders; // the folder each open-file dialog would have started in
};

} // namespace support
