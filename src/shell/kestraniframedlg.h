// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kestranidlg.h"

#include <QDialog>
#include <QIcon>

// The window: an empty captioned frame whose only child is the main page. It always opens at
// the top-left corner of the screen; the page is taller than the frame and its lower part is
// clipped. Closing it while a batch runs stops the batch first and closes once the batch has
// wound down, so nothing the batch still touches is destroyed under it.
class CKestraniFrameDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CKestraniFrameDlg(QWidget *parent = nullptr);
    ~CKestraniFrameDlg() override;

    // Lays out the frame and creates the page inside it.
    void OnInitDialog();

    CKestraniDlg &Page() { return page; }

public slots:
    void OnHelp();

protected:
    void closeEvent(QCloseEvent *event) override; // OnClose
    void keyPressEvent(QKeyEvent *event) override;
    void reject() override;

private:
    void OnDestroy();

    CKestraniDlg page;
    QIcon icon;
    bool destroyed = false;
};
