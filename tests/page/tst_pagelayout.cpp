// SPDX-License-Identifier: GPL-3.0-or-later
// The window as it opens: the frame and every control at its place and of its class, the
// fixed texts, the settings read and written, help, the skin, and the keys that must not
// close the window.

#include "celllistctrl.h"
#include "conversionengine.h"
#include "fadeinpicture.h"
#include "helpwindow.h"
#include "imagebutton.h"
#include "kestraniapp.h"
#include "kestranidlg.h"
#include "kestraniframedlg.h"
#include "pagetesting.h"
#include "rangeslider.h"
#include "skin.h"
#include "videoedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QtTest>

#include <memory>

using namespace PageTesting;

class TestPageLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void frameAndPageGeometry();
    void controlPlacesAndClasses_data();
    void controlPlacesAndClasses();
    void fixedTexts();
    void listColumns();
    void buttonTooltips();
    void initialVisibility();
    void windowTitle_data();
    void windowTitle();
    void outputFolderRead_data();
    void outputFolderRead();
    void simultaneousTasksRemembered_data();
    void simultaneousTasksRemembered();
    void browseWritesFolder_data();
    void browseWritesFolder();
    void browseCancelRewritesFolder();
    void fileNumberWrittenOnDestroy();
    void helpShowsPageInItsOwnWindow_data();
    void helpShowsPageInItsOwnWindow();
    void enterAndEscapeNeverClose_data();
    void enterAndEscapeNeverClose();
    void skinLoadedFromProgramFolder();
    void missingSkinLeavesProgramPlain();

private:
    std::unique_ptr<CKestraniFrameDlg> OpenFrame();

    QTemporaryDir settingsDir;
    QTemporaryDir programDir;
};

void TestPageLayout::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    UseSettingsFolder(settingsDir.path());
    UseProgramFolder(programDir.path(), {});
}

void TestPageLayout::init()
{
    std::unique_ptr<QSettings> settings(OpenTestSettings());
    settings->clear();
}

void TestPageLayout::cleanup()
{
    frameDialog = nullptr;
}

std::unique_ptr<CKestraniFrameDlg> TestPageLayout::OpenFrame()
{
    auto frame = std::make_unique<CKestraniFrameDlg>();
    frame->OnInitDialog();
    frame->show();
    return frame;
}

void TestPageLayout::frameAndPageGeometry()
{
    auto frame = OpenFrame();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    QCOMPARE(frame->geometry().size(), QSize(670, 550));
    // The page's fixed layout: the frame can be neither resized nor maximized.
    QCOMPARE(frame->minimumSize(), QSize(670, 550));
    QCOMPARE(frame->maximumSize(), QSize(670, 550));
    QVERIFY(!(frame->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(frame->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(frame->pos(), QPoint(0, 0));
    QCOMPARE(frame->Page().geometry(), QRect(2, 2, 669, 598));
    QCOMPARE(frame->Page().parentWidget(), frame.get());
    QCOMPARE(frameDialog, frame.get());
    QVERIFY(!frame->windowIcon().isNull());
}

void TestPageLayout::controlPlacesAndClasses_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("className");
    const auto row = [](const char *name, int id, QRect rect, const char *cls) {
        QTest::newRow(name) << id << rect << QString::fromLatin1(cls);
    };
    row("task list", 1011, QRect(10, 13, 605, 160), "CCellListCtrl");
    row("add file", 1012, QRect(615, 25, 42, 42), "CImageButton");
    row("remove task", 1013, QRect(615, 60, 42, 42), "CImageButton");
    row("remove all", 1014, QRect(615, 95, 42, 42), "CImageButton");
    row("output directory label", 1034, QRect(10, 182, 100, 15), "QLabel");
    row("output directory edit", 1021, QRect(115, 178, 440, 20), "QLineEdit");
    row("browse", 1022, QRect(557, 178, 60, 20), "QPushButton");
    row("fade-in picture", 1058, QRect(10, 212, 264, 200), "CFadeInPicture");
    row("preview", 1053, QRect(10, 212, 264, 200), "CVideoEdit");
    row("preview play", 1054, QRect(10, 413, 17, 17), "CImageButton");
    row("preview stop", 1055, QRect(28, 413, 17, 17), "CImageButton");
    row("range slider", 1047, QRect(46, 413, 228, 17), "CRangeSlider");
    row("output group", 1052, QRect(280, 206, 372, 225), "QGroupBox");
    row("output type label", 1070, QRect(288, 222, 100, 20), "QLabel");
    row("output type", 1061, QRect(400, 220, 224, 20), "QComboBox");
    row("description", 1066, QRect(288, 244, 358, 60), "QLabel");
    row("profile label", 1036, QRect(288, 308, 100, 20), "QLabel");
    row("profile list", 1065, QRect(288, 332, 358, 70), "QListWidget");
    row("shutdown check box", 1059, QRect(288, 407, 358, 15), "QCheckBox");
    row("help", 1016, QRect(90, 470, 30, 30), "CImageButton");
    row("start", 1048, QRect(418, 432, 105, 70), "CImageButton");
    row("stop", 1049, QRect(418, 432, 105, 70), "CImageButton");
}

void TestPageLayout::controlPlacesAndClasses()
{
    QFETCH(int, id);
    QFETCH(QRect, rect);
    QFETCH(QString, className);
    auto frame = OpenFrame();
    QWidget *control = frame->Page().GetDlgItem(id);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), &frame->Page());
    QCOMPARE(control->geometry(), rect);
    QVERIFY2(control->inherits(className.toLatin1().constData()),
             control->metaObject()->className());
}

void TestPageLayout::fixedTexts()
{
    auto frame = OpenFrame();
    CKestraniDlg &page = frame->Page();
    const auto text = [&](int id) {
        QWidget *w = page.GetDlgItem(id);
        if (auto *label = qobject_cast<QLabel *>(w))
            return label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            return button->text();
        return qobject_cast<QGroupBox *>(w)->title();
    };
    QCOMPARE(text(1034), QStringLiteral("Output Directory:"));
    QCOMPARE(text(1022), QStringLiteral("Browse"));
    QCOMPARE(text(1052), QStringLiteral("Output Setting"));
    QCOMPARE(text(1070), QStringLiteral("Select Output Type:"));
    QCOMPARE(text(1036), QStringLiteral("Select Profile:"));
    QCOMPARE(text(1059),
             QStringLiteral("Automatically Shut Down the computer when converting finished"));
    auto *combo = qobject_cast<QComboBox *>(page.GetDlgItem(1061));
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->itemText(0), QStringLiteral("Cell Phone 3GP  files (3GP + AMR)"));
    QCOMPARE(combo->itemText(1), QStringLiteral("Cell Phone 3GP  files (3GP + AAC)"));
    QCOMPARE(combo->itemText(2), QStringLiteral("Cell Phone 3GP2 files (3GP2 + AAC)"));
    QCOMPARE(combo->currentIndex(), 0);
}

void TestPageLayout::listColumns()
{
    auto frame = OpenFrame();
    auto *list = qobject_cast<CCellListCtrl *>(frame->Page().GetDlgItem(1011));
    QCOMPARE(list->GetColumnCount(), 5);
    const QStringList headers = {"Source", "Begin Time", "End Time", "Output", "Progress"};
    const QList<int> widths = {120, 70, 70, 80, 260};
    const QList<Qt::Alignment> alignments = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignHCenter,
                                             Qt::AlignLeft, Qt::AlignLeft};
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(list->QTreeView::model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
        QCOMPARE(list->header()->sectionSize(c), widths[c]);
        const auto alignment =
            list->QTreeView::model()->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt();
        QCOMPARE(alignment & Qt::AlignHorizontal_Mask, int(alignments[c]));
    }
    QCOMPARE(list->GetExtendedStyle() & LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    QCOMPARE(list->GetExtendedStyle() & LVS_EX_GRIDLINES, 0u);
}

void TestPageLayout::buttonTooltips()
{
    auto frame = OpenFrame();
    const QList<QPair<int, QString>> tips = {{1012, "Add a video to converting task"},
                                             {1013, "Remove selected video"},
                                             {1014, "Remove all videos"},
                                             {1048, "Start Converting"},
                                             {1049, "Stop Converting"},
                                             {1054, "Preview selected videos"},
                                             {1055, "Stop preview"},
                                             {1016, "Contents"}};
    for (const auto &[id, tip] : tips) {
        auto *button = qobject_cast<CImageButton *>(frame->Page().GetDlgItem(id));
        QVERIFY(button);
        QCOMPARE(button->GetTooltipText(), tip);
    }
}

void TestPageLayout::initialVisibility()
{
    auto frame = OpenFrame();
    CKestraniDlg &page = frame->Page();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    QVERIFY(page.GetDlgItem(1048)->isVisible());
    QVERIFY(!page.GetDlgItem(1049)->isVisible());
    QVERIFY(!page.GetDlgItem(1053)->isVisible());
    QVERIFY(page.GetDlgItem(1058)->isVisible());
    QVERIFY(!page.GetDlgItem(1021)->isEnabled());
    auto *slider = qobject_cast<CRangeSlider *>(page.GetDlgItem(1047));
    double left = -1, right = -1;
    slider->GetRange(left, right);
    QCOMPARE(slider->GetMinimum(), 0.0);
    QCOMPARE(slider->GetMaximum(), 120.0);
    QCOMPARE(left, 0.0);
    QCOMPARE(right, 120.0);
    QCOMPARE(page.CurrentTask(), -1);
    QCOMPARE(page.Tasks().Count(), 0);
}

void TestPageLayout::windowTitle_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("title");
    QTest::newRow("no version stored: the build's own")
        << QVariant() << QStringLiteral("Kestrani V" KESTRANI_VERSION);
    QTest::newRow("version stored") << QVariant("2.5") << QStringLiteral("Kestrani V2.5");
    QTest::newRow("overlong version cut")
        << QVariant(QString(300, QLatin1Char('9'))) << "Kestrani V" + QString(255, '9');
}

void TestPageLayout::windowTitle()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, title);
    if (stored.isValid()) {
        std::unique_ptr<QSettings> settings(OpenTestSettings());
        settings->setValue("Version/Default", stored);
    }
    auto frame = OpenFrame();
    QCOMPARE(frame->windowTitle(), title);
}

void TestPageLayout::outputFolderRead_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("folder");
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    QTest::newRow("nothing stored: the Videos folder") << QVariant() << movies + "/";
    QTest::newRow("stored with separator") << QVariant("/data/out/") << "/data/out/";
    QTest::newRow("stored without separator completed") << QVariant("/data/out") << "/data/out/";
    QTest::newRow("stored empty: separator alone") << QVariant("") << "/";
}

void TestPageLayout::outputFolderRead()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, folder);
    if (stored.isValid()) {
        std::unique_ptr<QSettings> settings(OpenTestSettings());
        settings->setValue("destination/Default", stored);
    }
    auto frame = OpenFrame();
    QCOMPARE(outputFolder, folder);
    QCOMPARE(qobject_cast<QLineEdit *>(frame->Page().GetDlgItem(1021))->text(), folder);
    // Reading never rewrites what is stored.
    std::unique_ptr<QSettings> settings(OpenTestSettings());
    QCOMPARE(settings->value("destination/Default"), stored);
}

void TestPageLayout::simultaneousTasksRemembered_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("nothing stored: one at a time") << QVariant() << "1";
    QTest::newRow("three stored") << QVariant("3") << "3";
    QTest::newRow("as many as keep the machine busy") << QVariant("0") << "Auto";
    QTest::newRow("not a number: one at a time") << QVariant("many") << "1";
    QTest::newRow("more than offered: one at a time") << QVariant("99") << "1";
}

void TestPageLayout::simultaneousTasksRemembered()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, shown);
    if (stored.isValid()) {
        std::unique_ptr<QSettings> settings(OpenTestSettings());
        settings->setValue("simultaneous/Default", stored);
    }
    auto frame = OpenFrame();
    auto *box = qobject_cast<QSpinBox *>(frame->Page().GetDlgItem(1072));
    QVERIFY(box);
    QCOMPARE(box->text(), shown);
    QCOMPARE(frame->Page().Engine().SimultaneousTasks(), box->value());
    box->setValue(2); // a choice is taken at once and kept for the next start
    QCOMPARE(frame->Page().Engine().SimultaneousTasks(), 2);
    std::unique_ptr<QSettings> settings(OpenTestSettings());
    QCOMPARE(settings->value("simultaneous/Default").toString(), QStringLiteral("2"));
}

void TestPageLayout::browseWritesFolder_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("offered");
    const QString existing = programDir.path() + "/";
    QTest::newRow("starts in the output folder") << existing << existing;
    QTest::newRow("output folder missing: starts at home")
        << programDir.path() + "/missing/" << QDir::homePath();
}

void TestPageLayout::browseWritesFolder()
{
    QFETCH(QString, stored);
    QFETCH(QString, offered);
    {
        std::unique_ptr<QSettings> settings(OpenTestSettings());
        settings->setValue("destination/Default", stored);
    }
    QTemporaryDir picked;
    auto frame = OpenFrame();
    CKestraniDlg &page = frame->Page();
    QString offeredStart;
    page.chooseOutputFolder = [&](const QString &start) {
        offeredStart = start;
        return picked.path();
    };
    QTest::mouseClick(page.GetDlgItem(1022), Qt::LeftButton);
    QCOMPARE(offeredStart, offered);
    QCOMPARE(qobject_cast<QLineEdit *>(page.GetDlgItem(1021))->text(), picked.path());
    QCOMPARE(outputFolder, picked.path() + "/");
    std::unique_ptr<QSettings> settings(OpenTestSettings());
    QCOMPARE(settings->value("destination/Default").toString(), picked.path() + "/");
}

void TestPageLayout::browseCancelRewritesFolder()
{
    {
        std::unique_ptr<QSettings> settings(OpenTestSettings());
        settings->setValue("destination/Default", "/data/kept");
    }
    auto frame = OpenFrame();
    CKestraniDlg &page = frame->Page();
    page.chooseOutputFolder = [](const QString &) { return QString(); };
    QTest::mouseClick(page.GetDlgItem(1022), Qt::LeftButton);
    QCOMPARE(outputFolder, QStringLiteral("/data/kept/"));
    QCOMPARE(qobject_cast<QLineEdit *>(page.GetDlgItem(1021))->text(), "/data/kept/");
    std::unique_ptr<QSettings> settings(OpenTestSettings());
    QCOMPARE(settings->value("destination/Default").toString(), QStringLiteral("/data/kept/"));
}

void TestPageLayout::fileNumberWrittenOnDestroy()
{
    {
        auto frame = OpenFrame();
        std::unique_ptr<QSettings> settings(OpenTestSettings());
        QVERIFY(!settings->contains("fileno/Default"));
    }
    std::unique_ptr<QSettings> settings(OpenTestSettings());
    QCOMPARE(settings->value("fileno/Default").toString(), QStringLiteral("0"));
}

void TestPageLayout::helpShowsPageInItsOwnWindow_data()
{
    QTest::addColumn<bool>("key");
    QTest::newRow("help button") << false;
    QTest::newRow("F1") << true;
}

void TestPageLayout::helpShowsPageInItsOwnWindow()
{
    QFETCH(bool, key);
    const QString built = QStringLiteral(KESTRANI_PROGRAM_DIR "/Help.html");
    QVERIFY2(QFile::exists(built), "the build copies the help page beside the program");
    QFile::remove(programFolder + "Help.html");
    QVERIFY(QFile::copy(built, programFolder + "Help.html"));
    auto frame = OpenFrame();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    CKestraniDlg &page = frame->Page();
    // No web browser is needed: the program shows the page itself.
    const auto open = [&] {
        if (key) {
            frame->activateWindow();
            QTest::keyClick(page.GetDlgItem(1061), Qt::Key_F1);
        } else {
            QTest::mouseClick(page.GetDlgItem(1016), Qt::LeftButton);
        }
    };
    open();
    CHelpWindow *help = page.HelpWindow();
    QVERIFY(help);
    QVERIFY(help->isVisible());
    QVERIFY(!help->isModal());
    QCOMPARE(help->windowTitle(), QStringLiteral("Kestrani Help"));
    QVERIFY(help->Browser()->toPlainText().startsWith(QStringLiteral("Kestrani Help")));
    QTest::keyClick(help->Browser(), Qt::Key_Escape);
    QVERIFY(!help->isVisible());
    QVERIFY(frame->isVisible());
    open();
    QCOMPARE(page.HelpWindow(), help);
    QVERIFY(help->isVisible());
}

void TestPageLayout::enterAndEscapeNeverClose_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("key");
    for (int id : {0, 1011, 1061, 1065, 1059, 1022, 1048}) {
        for (int key : {int(Qt::Key_Return), int(Qt::Key_Enter), int(Qt::Key_Escape)}) {
            const QString name = QStringLiteral("%1 in %2")
                                     .arg(QKeySequence(key).toString())
                                     .arg(id ? QString::number(id) : QStringLiteral("frame"));
            QTest::newRow(qPrintable(name)) << id << key;
        }
    }
}

void TestPageLayout::enterAndEscapeNeverClose()
{
    QFETCH(int, id);
    QFETCH(int, key);
    auto frame = OpenFrame();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    QWidget *target = id ? frame->Page().GetDlgItem(id) : frame.get();
    target->setFocus();
    QTest::keyClick(target, Qt::Key(key));
    QTest::qWait(20);
    QVERIFY(frame->isVisible());
    QCOMPARE(frame->result(), 0);
}

void TestPageLayout::skinLoadedFromProgramFolder()
{
    QTemporaryDir folder;
    QTemporaryDir elsewhere;
    const QByteArray sheet = "QCheckBox { color: rgb(1, 2, 3); }";
    QFile file(folder.filePath("Stylish.skf"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(sheet);
    file.close();
    const QString savedFolder = programFolder;
    const QString savedCurrent = QDir::currentPath();
    // Started from another folder, the program still finds the skin in its own, without
    // making its own folder the current one.
    QDir::setCurrent(elsewhere.path());
    CKestraniApp::PrepareProcess(folder.path());
    const QString current = QDir::currentPath();
    QDir::setCurrent(savedCurrent);
    programFolder = savedFolder;
    QCOMPARE(QDir(current), QDir(elsewhere.path())); // the current folder is left alone
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(sheet));
    QCheckBox box;
    skin.AddWindow(&box, 1);
    QCOMPARE(box.property("kestraniSkin").toInt(), 1);
    skin.RemoveSkin();
    QVERIFY(qApp->styleSheet().isEmpty());
}

void TestPageLayout::missingSkinLeavesProgramPlain()
{
    QTemporaryDir empty;
    const QString savedFolder = programFolder;
    const QString savedCurrent = QDir::currentPath();
    MessageBoxCloser closer;
    CKestraniApp::PrepareProcess(empty.path());
    QDir::setCurrent(savedCurrent);
    programFolder = savedFolder;
    QVERIFY(qApp->styleSheet().isEmpty());
    QVERIFY(!skin.IsLoaded());
    QTest::qWait(60);
    QVERIFY(closer.texts.isEmpty());
    // The window still opens and works without it.
    auto frame = OpenFrame();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
}

QTEST_MAIN(TestPageLayout)
#include "tst_pagelayout.moc"
