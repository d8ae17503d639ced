// SPDX-License-Identifier: GPL-3.0-or-later
#include "pageenginehost.h"

#include "celllistctrl.h"
#include "imagebutton.h"
#include "kestranidlg.h"
#include "videoedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSpinBox>

int CPageEngineHost::SelectedOutputType() const
{
    return page.outputTypeCombo->currentIndex();
}

int CPageEngineHost::SelectedProfileRow() const
{
    return page.profileList->currentRow();
}

QString CPageEngineHost::OutputDirectoryText() const
{
    return page.outputDirEdit->text();
}

bool CPageEngineHost::ShutdownAfterBatch() const
{
    return page.shutdownCheck->isChecked();
}

void CPageEngineHost::InvalidateCells(int firstRow, int lastRow, int column, bool erase)
{
    page.taskList->InvalidateCells(firstRow, lastRow, column, erase);
}

void CPageEngineHost::SetProfileDescription(const QString &text)
{
    page.descriptionLabel->setText(text);
}

void CPageEngineHost::ResetProfileList()
{
    page.profileList->clear();
}

void CPageEngineHost::AddProfileRow(const QString &title)
{
    page.profileList->addItem(title);
}

void CPageEngineHost::SetProfileSelection(int row)
{
    page.profileList->setCurrentRow(row);
}

void CPageEngineHost::ShowConvertingButtons(bool converting)
{
    page.startButton->setVisible(!converting);
    page.stopButton->setVisible(converting);
    page.SetBatchControlsEnabled(!converting);
}

void CPageEngineHost::EnableOutputSettings(bool enable)
{
    page.outputTypeCombo->setEnabled(enable);
    page.profileList->setEnabled(enable);
    page.shutdownCheck->setEnabled(enable);
    page.simultaneousBox->setEnabled(enable);
    page.EnableBatchOptionControls(enable);
}

void CPageEngineHost::ShowMessage(const QString &text, const QString &caption, MessageIcon icon)
{
    if (page.closeRequested)
        return;
    QMessageBox::Icon boxIcon = QMessageBox::Information;
    if (icon == MessageIcon::Warning)
        boxIcon = QMessageBox::Warning;
    else if (icon == MessageIcon::Error)
        boxIcon = QMessageBox::Critical;
    QMessageBox box(boxIcon, caption, text, QMessageBox::Ok, page.DialogParent());
    box.exec();
}

void CPageEngineHost::StopPreview()
{
    try {
        page.preview->Stop();
    } catch (...) {
    }
}
