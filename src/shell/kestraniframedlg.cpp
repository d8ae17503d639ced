// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestraniframedlg.h"

#include "globals.h"
#include "pageconstants.h"
#include "skin.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QShortcut>

CKestraniFrameDlg::CKestraniFrameDlg(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      page(this), icon(CKestraniDlg::ApplicationIcon())
{
    setWindowTitle(QString::fromLatin1(productName));
    // The page's own key handling keeps Enter and Escape; F1 is the frame's help key.
    auto *help = new QShortcut(QKeySequence::HelpContents, this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, &CKestraniFrameDlg::OnHelp);
    connect(&page, &CKestraniDlg::readyToClose, this, &QWidget::close);
}

CKestraniFrameDlg::~CKestraniFrameDlg()
{
    OnDestroy();
    if (frameDialog == this)
        frameDialog = nullptr;
}

void CKestraniFrameDlg::OnInitDialog()
{
    setWindowIcon(icon);
    frameDialog = this;
    // The size is the client area's: the window manager adds its own frame around it. The page
    // is laid out in fixed rectangles, so the frame keeps its size: equal minimum and maximum
    // tell the window manager it can be neither resized nor maximized.
    move(0, 0);
    setFixedSize(Page::frameSize);
    page.OnInitDialog();
    page.setGeometry(QRect(Page::pageOrigin, Page::pageSize));
    page.show();
    skin.AddWindow(&page, 0);
}

void CKestraniFrameDlg::OnHelp()
{
    page.OnHelp();
}

void CKestraniFrameDlg::closeEvent(QCloseEvent *event)
{
    if (!page.RequestClose()) {
        // The page closes the window itself once the batch has wound down.
        event->ignore();
        return;
    }
    OnDestroy();
    // Not QDialog::closeEvent: it would go through reject(), which Escape also reaches.
    done(QDialog::Rejected);
    event->accept();
}

void CKestraniFrameDlg::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CKestraniFrameDlg::reject()
{
    // Escape must never close the window; the title-bar button goes through closeEvent.
}

void CKestraniFrameDlg::OnDestroy()
{
    if (destroyed)
        return;
    destroyed = true;
    if (page.IsConverting())
        page.StopBatch();
    page.OnDestroy();
}
