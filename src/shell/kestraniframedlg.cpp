// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestraniframedlg.h"

#include "globals.h"
#include "pageconstants.h"
#include "pagesettings.h"
#include "skin.h"
#include "windowplacement.h"

#include <QCloseEvent>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QKeyEvent>
#include <QShortcut>

CKestraniFrameDlg::CKestraniFrameDlg(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      page(this)
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
    if (proxy)
        proxy->setWidget(nullptr); // the page is the frame's own, not the scene's to delete
    if (frameDialog == this)
        frameDialog = nullptr;
}

void CKestraniFrameDlg::OnInitDialog()
{
    icon = page.Icon();
    setWindowIcon(icon);
    frameDialog = this;
    // The size is the client area's: the window manager adds its own frame around it. The page
    // is laid out in fixed rectangles, so the frame keeps its size: equal minimum and maximum
    // tell the window manager it can be neither resized nor maximized.
    page.OnInitDialog();
    const std::optional<QPoint> saved = PageSettings::ReadPlace(Page::windowPlaceKey);
    const QRect area = WindowPlacement::Area(saved);
    scale = WindowPlacement::FitScale(Page::frameSize, area);
    if (scale < 1.0) {
        ShowScaled();
    } else {
        page.setGeometry(QRect(Page::pageOrigin, Page::pageSize));
        page.show();
    }
    setFixedSize((QSizeF(Page::frameSize) * scale).toSize());
    move(WindowPlacement::TopLeft(size(), saved, area));
    skin.AddWindow(&page, 0);
}

// A screen too small for the window (a large scale factor on a small screen) would cut off
// the list's buttons and the whole bottom strip: the page is shown through a view that draws
// it smaller, every control and text alike, and hands it the mouse and keys at that scale.
void CKestraniFrameDlg::ShowScaled()
{
    auto *scene = new QGraphicsScene(this);
    page.setParent(nullptr); // only a window of its own can go into a scene
    page.setGeometry(QRect(QPoint(0, 0), Page::pageSize));
    proxy = scene->addWidget(&page);
    proxy->setPos(Page::pageOrigin);
    scene->setSceneRect(QRectF(QPointF(0, 0), QSizeF(Page::frameSize)));
    auto *view = new QGraphicsView(scene, this);
    view->setFrameShape(QFrame::NoFrame);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    view->setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                         QPainter::SmoothPixmapTransform);
    view->setTransform(QTransform::fromScale(scale, scale));
    view->setGeometry(QRect(QPoint(0, 0), (QSizeF(Page::frameSize) * scale).toSize()));
    page.show();
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
    if (isVisible())
        PageSettings::WritePlace(Page::windowPlaceKey, pos());
    if (page.IsConverting())
        page.StopBatch();
    page.OnDestroy();
}
