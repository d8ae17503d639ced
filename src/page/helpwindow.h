// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QTextBrowser;

// The help page shown by the program itself, beside the main window: it needs no web browser.
// Links to other sites go to the desktop's browser where there is one. Escape closes it. It
// opens centred on the screen (smaller where the screen is), then where the user left it.
class CHelpWindow : public QDialog
{
    Q_OBJECT

public:
    CHelpWindow(const QString &helpFile, QWidget *parent = nullptr);

    QTextBrowser *Browser() const { return browser; }

protected:
    void hideEvent(QHideEvent *event) override;

private:
    QTextBrowser *browser = nullptr;
};
