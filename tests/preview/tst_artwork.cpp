// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {

struct Lightness {
    double mean = 0;
    QList<bool> mask; // which pixels are drawn at all
};

Lightness Measure(const QImage &image)
{
    Lightness result;
    double sum = 0;
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            result.mask << (c.alpha() > 0);
            if (c.alpha() == 0)
                continue;
            sum += c.lightnessF();
            ++count;
        }
    }
    result.mean = count ? sum / count : 0;
    return result;
}

QString ProgramFile(const char *name)
{
    return QStringLiteral(KESTRANI_PROGRAM_DIR "/") + QLatin1String(name);
}

} // namespace

// Stands for the program's own painted buttons, which derive from the standard one.
class ButtonOfOurOwn : public QPushButton
{
    Q_OBJECT
};

class TestArtwork : public QObject
{
    Q_OBJECT

private slots:
    void everyImageHasItsSize_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("doubled"); // a @2x image exists beside it
        const struct {
            int id, w, h;
        } icons[] = {{137, 37, 20},  {138, 37, 20},  {135, 37, 21},  {136, 37, 21},
                     {139, 37, 20},  {140, 37, 20},  {147, 102, 63}, {148, 102, 63},
                     {146, 102, 63}, {145, 102, 63}, {189, 17, 17},  {188, 17, 17},
                     {191, 17, 17},  {190, 17, 17},  {142, 25, 23},  {141, 25, 23}};
        for (const auto &i : icons)
            QTest::addRow("icon %d", i.id)
                << QStringLiteral(":/icons/%1").arg(i.id) << QSize(i.w, i.h) << true;
        const struct {
            int id, w, h;
        } bitmaps[] = {{185, 654, 504}, {190, 264, 200}, {212, 6, 11},
                       {213, 13, 17},   {214, 13, 17},   {215, 3, 7}};
        for (const auto &b : bitmaps)
            QTest::addRow("bitmap %d", b.id)
                << QStringLiteral(":/bitmaps/%1").arg(b.id) << QSize(b.w, b.h) << true;
        QTest::newRow("application icon") << ":/icons/128" << QSize(48, 48) << true;
        for (int size : {16, 24, 32, 48})
            QTest::addRow("application icon %d", size)
                << QStringLiteral(":/icons/128-%1").arg(size) << QSize(size, size) << false;
    }
    void everyImageHasItsSize()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QFETCH(bool, doubled);
        const QImage image(path + QStringLiteral(".png"));
        QVERIFY2(!image.isNull(), qPrintable(path));
        QCOMPARE(image.size(), size);
        if (doubled) {
            const QImage twice(path + QStringLiteral("@2x.png"));
            QVERIFY2(!twice.isNull(), qPrintable(path));
            QCOMPARE(twice.size(), size * 2);
        }
    }

    void hoverIconIsTheNormalOneLit_data()
    {
        QTest::addColumn<int>("normal");
        QTest::addColumn<int>("hover");
        QTest::newRow("add") << 137 << 138;
        QTest::newRow("remove selected") << 135 << 136;
        QTest::newRow("remove all") << 139 << 140;
        QTest::newRow("start") << 147 << 148;
        QTest::newRow("stop") << 146 << 145;
        QTest::newRow("preview") << 189 << 188;
        QTest::newRow("stop preview") << 191 << 190;
        QTest::newRow("help") << 142 << 141;
    }
    void hoverIconIsTheNormalOneLit()
    {
        QFETCH(int, normal);
        QFETCH(int, hover);
        for (const char *suffix : {"", "@2x"}) {
            const Lightness n =
                Measure(QImage(QStringLiteral(":/icons/%1%2.png").arg(normal).arg(suffix)));
            const Lightness h =
                Measure(QImage(QStringLiteral(":/icons/%1%2.png").arg(hover).arg(suffix)));
            QCOMPARE(h.mask, n.mask);
            QVERIFY2(h.mean > n.mean + 0.06,
                     qPrintable(QStringLiteral("%1 against %2").arg(h.mean).arg(n.mean)));
        }
    }

    // These are shown where nothing else is drawn under them, so they must cover everything.
    void backgroundPicturesAreOpaque_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("page background") << ":/bitmaps/185.png";
        QTest::newRow("preview area picture") << ":/bitmaps/190.png";
        QTest::newRow("slider band") << ":/bitmaps/215.png";
    }
    void backgroundPicturesAreOpaque()
    {
        QFETCH(QString, path);
        const QImage image(path);
        QVERIFY(!image.isNull());
        QVERIFY(!image.hasAlphaChannel());
    }

    void applicationIconScales()
    {
        QImageReader reader(QStringLiteral(":/icons/128.svg"));
        QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
        reader.setScaledSize(QSize(256, 256));
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(256, 256));
        QVERIFY(image.pixelColor(128, 128).alpha() == 255);
    }

    void skinImagesAreInTheResource()
    {
        QFile file(ProgramFile("Stylish.skf"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString sheet = QString::fromUtf8(file.readAll());
        const QRegularExpression url(QStringLiteral("url\\(([^)]*)\\)"));
        int found = 0;
        for (const QRegularExpressionMatch &m : url.globalMatch(sheet)) {
            const QString path = m.captured(1).trimmed();
            QVERIFY2(path.startsWith(QLatin1String(":/")), qPrintable(path));
            QVERIFY2(!QImage(path).isNull(), qPrintable(path));
            QString twice = path;
            twice.insert(path.lastIndexOf(QLatin1Char('.')), QLatin1String("@2x"));
            QCOMPARE(QImage(twice).size(), QImage(path).size() * 2);
            ++found;
        }
        QVERIFY(found > 0);
    }

    void skinIsCopiedBesideTheProgram()
    {
        QFile built(ProgramFile("Stylish.skf"));
        QFile source(QStringLiteral(KESTRANI_SOURCE_DIR "/res/Stylish.skf"));
        QVERIFY(built.open(QIODevice::ReadOnly));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QCOMPARE(built.readAll(), source.readAll());
    }

    void skinStylesTheStandardControlsOnly()
    {
        QFile file(ProgramFile("Stylish.skf"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
        QWidget page;
        auto *label = new QLabel(QStringLiteral("Output Directory:"), &page);
        auto *edit = new QLineEdit(&page);
        auto *browse = new QPushButton(QStringLiteral("Browse"), &page);
        auto *ours = new ButtonOfOurOwn;
        ours->setParent(&page);
        auto *check = new QCheckBox(&page);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0x2f4255));
        QCOMPARE(edit->palette().color(QPalette::Text), QColor(0x2f4255));
        QCOMPARE(check->palette().color(QPalette::WindowText), QColor(0x2f4255));
        QCOMPARE(browse->palette().color(QPalette::ButtonText), QColor(Qt::white));
        QVERIFY(ours->palette().color(QPalette::ButtonText) != QColor(Qt::white));
        qApp->setStyleSheet(QString());
    }
};

QTEST_MAIN(TestArtwork)
#include "tst_artwork.moc"
