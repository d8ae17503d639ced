// SPDX-License-Identifier: GPL-3.0-or-later
#include "startupwork.h"

#include "artwork.h"
#include "kestranidlg.h"
#include "pageconstants.h"

#include <thread>

#ifdef KESTRANI_HAVE_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

namespace {

QStringList PicturesShownAtOnce()
{
    // In the order the window asks for them as it is set up: its icon, the buttons', the trim
    // slider's, the picture, the background.
    QStringList paths = CKestraniDlg::ApplicationIconFiles();
    for (const Page::ImageButtonSetup &button : Page::imageButtons)
        for (int id : {button.hoverIcon, button.normalIcon})
            paths << QStringLiteral(":/icons/%1.png").arg(id);
    for (int id = 212; id <= 215; ++id) // the trim slider's
        paths << QStringLiteral(":/bitmaps/%1.png").arg(id);
    return paths << QStringLiteral(":/bitmaps/%1.png").arg(Page::pictureBitmap)
                 << QStringLiteral(":/bitmaps/%1.png").arg(Page::backgroundBitmap);
}

// Joined at the latest when the process ends.
struct FontsThread {
    std::thread thread;
    ~FontsThread()
    {
        if (thread.joinable())
            thread.join();
    }
};

std::thread &Fonts()
{
    static FontsThread fonts;
    return fonts.thread;
}

} // namespace

int &StartupWork::Begin(int &argc)
{
#ifdef KESTRANI_HAVE_FONTCONFIG
    // Qt reads the same configuration when it first needs a font; read here, it is ready.
    if (!Fonts().joinable())
        Fonts() = std::thread([] { FcInit(); });
#endif
    return argc;
}

void StartupWork::ApplicationBuilt()
{
    Artwork::Preload(PicturesShownAtOnce());
}

void StartupWork::Finish()
{
    if (Fonts().joinable())
        Fonts().join();
    Artwork::FinishPreload();
}
