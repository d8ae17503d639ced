// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the artwork's SVG sources to PNG, and composes a contact sheet that shows every
// image on a mock of the window so that they can be judged together.
//
//   render image <in.svg> <out.png> <width> <height> [lit]
//   render sheet <out.png> <res folder>
//
// "lit" makes the hover state of a button icon: the same drawing, brighter, with a soft glow
// inside its own outline, so normal and hover never drift apart.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

namespace {

QImage RenderSvg(const QString &path, int width, int height)
{
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    renderer.render(&painter, QRectF(0, 0, width, height));
    return image;
}

// Lifts lightness a third of the way to white and keeps saturation, so colours glow rather
// than wash out; alpha is untouched, so the outline stays the same.
void Light(QImage &image)
{
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            QColor c = QColor::fromRgba(line[x]);
            if (c.alpha() == 0)
                continue;
            float h, s, l, a;
            c.getHslF(&h, &s, &l, &a);
            l = l + (1.0f - l) * 0.33f;
            s = std::min(1.0f, s * 1.1f);
            c.setHslF(h, s, l, a);
            line[x] = c.rgba();
        }
    }
}

bool IsOpaque(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 255)
                return false;
    return true;
}

int Image(const QStringList &args)
{
    if (args.size() < 4)
        return 2;
    QImage image = RenderSvg(args[0], args[2].toInt(), args[3].toInt());
    if (image.isNull()) {
        std::fprintf(stderr, "cannot render %s\n", qPrintable(args[0]));
        return 1;
    }
    if (args.size() > 4 && args[4] == QLatin1String("lit"))
        Light(image);
    // Opaque pictures are stored without an alpha channel.
    image = image.convertToFormat(IsOpaque(image) ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    const char *format = args[1].endsWith(QLatin1String(".ico")) ? "ICO" : "PNG";
    if (!image.save(args[1], format)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[1]));
        return 1;
    }
    return 0;
}

struct Placed {
    const char *path;
    int x, y;
};

// Where the page draws each image, in page pixels (icons centred in their buttons).
const Placed kPage[] = {
    {"icons/137.png", 618, 36},   {"icons/135.png", 618, 70},  {"icons/139.png", 618, 106},
    {"bitmaps/190.png", 10, 212}, {"icons/189.png", 10, 413},  {"icons/191.png", 28, 413},
    {"icons/142.png", 92, 473},   {"icons/147.png", 419, 435},
};

void DrawPage(QPainter &p, const QString &res)
{
    p.drawImage(QRect(0, 0, 669, 598), QImage(res + "/bitmaps/185.png"));
    p.setPen(QColor(120, 140, 160));
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawRect(10, 13, 604, 159);  // task list
    p.drawRect(115, 178, 439, 19); // output folder
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(280, 206, 371, 224, 4, 4); // output settings group
    for (const Placed &i : kPage)
        p.drawImage(i.x, i.y, QImage(res + "/" + i.path));
    // The slider as it paints itself: track, thumbs at 30..80 %, band.
    const int x0 = 46, y0 = 413, w = 228, travel = w - 26, xl = travel * 3 / 10,
              xr = travel * 8 / 10;
    p.drawImage(QRect(x0, y0 + 3, w, 11), QImage(res + "/bitmaps/212.png"));
    p.drawImage(x0 + xl, y0, QImage(res + "/bitmaps/213.png"));
    p.drawImage(x0 + xr + 13, y0, QImage(res + "/bitmaps/214.png"));
    p.drawImage(QRect(x0 + xl + 12, y0 + 5, xr - xl + 2, 7), QImage(res + "/bitmaps/215.png"));
}

int Sheet(const QStringList &args)
{
    if (args.size() < 2)
        return 2;
    const QString res = args[1];
    QImage page(669, 598, QImage::Format_ARGB32);
    QPainter pagePainter(&page);
    DrawPage(pagePainter, res);
    pagePainter.end();
    QImage sheet(669 + 720, 598 + 80, QImage::Format_ARGB32);
    sheet.fill(QColor(250, 250, 250));
    QPainter p(&sheet);
    p.drawImage(0, 0, page);
    // The slider and the small buttons under the preview, pixel by pixel.
    p.drawImage(QRect(0, 604, 669, 72), page.copy(8, 410, 223, 24));
    // Every icon, normal beside hover, at 1x and 2x on the right.
    const int pairs[][2] = {{137, 138}, {135, 136}, {139, 140}, {147, 148},
                            {146, 145}, {189, 188}, {191, 190}, {142, 141}};
    int y = 8;
    for (const auto &pair : pairs) {
        int x = 680;
        int rowHeight = 0;
        for (const char *suffix : {"", "@2x"}) {
            for (int id : pair) {
                const QString path = QStringLiteral("%1/icons/%2%3.png").arg(res).arg(id);
                QImage icon(path.arg(QLatin1String(suffix)));
                icon.setDevicePixelRatio(1.0); // show double-size images at their real size
                p.drawImage(x, y, icon);
                x += icon.width() + 6;
                rowHeight = std::max(rowHeight, icon.height());
            }
        }
        y += rowHeight + 6;
    }
    int x = 680;
    for (int size : {16, 24, 32, 48}) {
        const QImage icon(QStringLiteral("%1/icons/128-%2.png").arg(res).arg(size));
        p.drawImage(x, y, icon);
        x += size + 8;
    }
    p.drawImage(x, y, QImage(res + "/icons/128@2x.png"));
    p.end();
    return sheet.save(args[0]) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    // Raster painting needs no window system, so no application object is made.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.isEmpty())
        return 2;
    const QString mode = args.takeFirst();
    if (mode == QLatin1String("image"))
        return Image(args);
    if (mode == QLatin1String("sheet"))
        return Sheet(args);
    return 2;
}
