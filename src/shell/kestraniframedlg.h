// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kestranidlg.h"

#include <QDialog>
#include <QIcon>

class QGraphicsProxyWidget;

// The window: an empty captioned frame whose only child is the main page. It opens centred on
// the screen the first time, then where the user left it; on a screen too small for it, the
// page is drawn scaled down to fit. The page is taller than the frame and its lower part is
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
    // 1, or how much smaller the page is drawn to fit a small screen.
    double LayoutScale() const { return scale; }

public slots:
    void OnHelp();

protected:
    void closeEvent(QCloseEvent *event) override; // OnClose
    void keyPressEvent(QKeyEvent *event) override;
    void reject() override;

private:
    void OnDestroy();
    void ShowScaled();

    CKestraniDlg page;
    QGraphicsProxyWidget *proxy = nullptr; // the page, when it is shown scaled
    double scale = 1.0;
    QIcon icon;
    bool destroyed = false;
};
