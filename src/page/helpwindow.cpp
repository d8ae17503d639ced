// SPDX-License-Identifier: GPL-3.0-or-later
#include "helpwindow.h"

#include "pageconstants.h"
#include "pagesettings.h"
#include "windowplacement.h"

#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

CHelpWindow::CHelpWindow(const QString &helpFile, QWidget *parent)
    : QDialog(parent, Qt::Window), browser(new QTextBrowser(this))
{
    setModal(false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser);
    browser->setOpenExternalLinks(true);
    if (QFileInfo(helpFile).isFile()) {
        browser->setSource(QUrl::fromLocalFile(helpFile));
    } else {
        browser->setPlainText(
            tr("The help page %1 is missing. Reinstalling the program brings it back.")
                .arg(helpFile));
    }
    const QString title = browser->documentTitle();
    setWindowTitle(title.isEmpty() ? tr("Help") : title);
    resize(560, 520);
    WindowPlacement::Place(this, PageSettings::ReadPlace(Page::helpPlaceKey), true);
}

void CHelpWindow::hideEvent(QHideEvent *event)
{
    PageSettings::WritePlace(Page::helpPlaceKey, pos());
    QDialog::hideEvent(event);
}
