// SPDX-License-Identifier: GPL-3.0-or-later
#include "artwork.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImageReader>
#include <QSet>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

struct Preloaded {
    std::mutex mutex;
    std::condition_variable ready;
    QHash<QString, QImage> images;
    QSet<QString> pending; // still to be read by the thread
    std::thread thread;
    // Joined here too: a program that ends without its application object's end (its display
    // went away) must not end as a crash.
    ~Preloaded()
    {
        if (thread.joinable())
            thread.join();
    }
};

Preloaded &State()
{
    static Preloaded state;
    return state;
}

QImage Read(const QString &path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

} // namespace

void Artwork::Preload(const QStringList &paths)
{
    Preloaded &state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    if (state.thread.joinable())
        return;
    for (const QString &path : paths)
        state.pending.insert(path);
    state.thread = std::thread([paths, &state] {
        for (const QString &path : paths) {
            QImage image = Read(path);
            const std::lock_guard<std::mutex> lock(state.mutex);
            state.images.insert(path, std::move(image));
            state.pending.remove(path);
            state.ready.notify_all();
        }
    });
}

void Artwork::FinishPreload()
{
    Preloaded &state = State();
    std::thread thread;
    {
        const std::lock_guard<std::mutex> lock(state.mutex);
        thread = std::move(state.thread);
    }
    if (thread.joinable())
        thread.join();
}

QImage Artwork::Image(const QString &path)
{
    Preloaded &state = State();
    {
        std::unique_lock<std::mutex> lock(state.mutex);
        state.ready.wait(lock, [&] { return !state.pending.contains(path); });
        // Taken once: the window keeps its own copy, and the memory goes back.
        if (const auto it = state.images.constFind(path); it != state.images.constEnd())
            return state.images.take(path);
    }
    return Read(path);
}

QPixmap Artwork::Pixmap(const QString &path)
{
    return QPixmap::fromImage(Image(path));
}

QString Artwork::Doubled(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? path + QStringLiteral("@2x")
                   : path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
}

QIcon Artwork::Icon(const QString &path)
{
    QIcon icon;
    const QPixmap single = Pixmap(path);
    if (single.isNull())
        return icon;
    icon.addPixmap(single);
    const QString doubled = Doubled(path);
    if (qApp && qApp->devicePixelRatio() > 1.0 && QFile::exists(doubled)) {
        QPixmap twice = Pixmap(doubled);
        if (twice.size() == single.size() * 2) {
            twice.setDevicePixelRatio(2.0);
            icon.addPixmap(twice);
        }
    }
    return icon;
}
