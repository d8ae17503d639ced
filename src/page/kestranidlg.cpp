// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestranidlg.h"

#include "artwork.h"
#include "celllistctrl.h"
#include "conversionengine.h"
#include "enginehost.h"
#include "fadeinpicture.h"
#include "files/bytenames.h"
#include "globals.h"
#include "imagebutton.h"
#include "pageconstants.h"
#include "pageenginehost.h"
#include "pagesettings.h"
#include "rangeslider.h"
#include "taskcell.h"
#include "videoedit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGraphicsOpacityEffect>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>

QWidget *frameDialog = nullptr;

using namespace Page;

CKestraniDlg::CKestraniDlg(QWidget *parent)
    : QWidget(parent), host(std::make_unique<CPageEngineHost>(*this)),
      engine(std::make_unique<ConversionEngine>(*host, tasks,
                                                EnginePaths::ForProgramFolder(programFolder)))
{
    connect(engine.get(), &ConversionEngine::batchEnded, this, [this] {
        if (closeRequested)
            emit readyToClose();
    });
    QFont pageFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    pageFont.setPointSize(8);
    // The rectangles were laid out for a narrow face; a condensed cut, where the system has
    // one, keeps the longer texts inside them.
    pageFont.setStretch(QFont::SemiCondensed);
    setFont(pageFont);
    CreateControls();

    chooseVideoFiles = [this](const QString &startFolder) {
        // As URLs: a name that is not UTF-8 keeps its bytes, percent-encoded.
        QStringList paths;
        for (const QUrl &url : QFileDialog::getOpenFileUrls(DialogParent(), QString(),
                                                            QUrl::fromLocalFile(startFolder),
                                                            QString::fromLatin1(videoFileFilters)))
            if (const QString path = bytenames::PathForUrl(url); !path.isEmpty())
                paths << path;
        return paths;
    };
    chooseOutputFolder = [this](const QString &startFolder) {
        return QFileDialog::getExistingDirectory(DialogParent(), QString(), startFolder,
                                                 QFileDialog::ShowDirsOnly);
    };
}

CKestraniDlg::~CKestraniDlg()
{
    OnDestroy();
    // The list may still paint while its children go; it must not ask a half-destroyed page.
    taskList->SetOwner(nullptr);
}

QIcon CKestraniDlg::ApplicationIcon()
{
    // PNG pictures read as PNG: an SVG, or a picture whose format is guessed, would load every
    // image and icon plug-in before the window can show.
    QIcon appIcon;
    for (const QString &path : ApplicationIconFiles())
        appIcon.addPixmap(Artwork::Pixmap(path));
    return appIcon;
}

const QIcon &CKestraniDlg::Icon() const
{
    if (icon.isNull())
        icon = ApplicationIcon();
    return icon;
}

QStringList CKestraniDlg::ApplicationIconFiles()
{
    QStringList files;
    for (int size : {16, 24, 32, 48})
        files << QStringLiteral(":/icons/128-%1.png").arg(size);
    return files << QStringLiteral(":/icons/128.png");
}

void CKestraniDlg::CreateControls()
{
    // The group box goes first so that the controls inside its frame lie above it.
    outputGroup = Add(IDC_OUTPUT_GROUP, new QGroupBox(QString::fromLatin1(outputGroupText), this));
    taskList = Add(IDC_TASK_LIST, new CCellListCtrl(this));
    addButton = Add(IDC_ADD_FILE, new CImageButton(this));
    removeButton = Add(IDC_REMOVE_TASK, new CImageButton(this));
    removeAllButton = Add(IDC_REMOVE_ALL, new CImageButton(this));
    outputDirLabel =
        Add(IDC_OUTPUT_DIR_LABEL, new QLabel(QString::fromLatin1(outputDirLabelText), this));
    outputDirEdit = Add(IDC_OUTPUT_DIR, new QLineEdit(this));
    browseButton = Add(IDC_BROWSE, new QPushButton(QString::fromLatin1(browseText), this));
    picture = Add(IDC_PICTURE, new CFadeInPicture(this));
    preview = Add(IDC_PREVIEW, new CVideoEdit(this));
    previewButton = Add(IDC_PREVIEW_PLAY, new CImageButton(this));
    stopPreviewButton = Add(IDC_PREVIEW_STOP, new CImageButton(this));
    slider = Add(IDC_RANGE_SLIDER, new CRangeSlider(this));
    outputTypeLabel =
        Add(IDC_OUTPUT_TYPE_LABEL, new QLabel(QString::fromLatin1(outputTypeLabelText), this));
    outputTypeCombo = Add(IDC_OUTPUT_TYPE, new QComboBox(this));
    descriptionLabel = Add(IDC_OUTPUT_DESCRIPTION, new QLabel(this));
    profileLabel = Add(IDC_PROFILE_LABEL, new QLabel(QString::fromLatin1(profileLabelText), this));
    profileList = Add(IDC_PROFILE_LIST, new QListWidget(this));
    shutdownCheck = Add(IDC_SHUTDOWN, new QCheckBox(QString::fromLatin1(shutdownText), this));
    simultaneousLabel =
        Add(IDC_SIMULTANEOUS_LABEL, new QLabel(QString::fromLatin1(simultaneousText), this));
    simultaneousBox = Add(IDC_SIMULTANEOUS, new QSpinBox(this));
    CreateBatchOptionControls();
    helpButton = Add(IDC_HELP_CONTENTS, new CImageButton(this));
    startButton = Add(IDC_START, new CImageButton(this));
    stopButton = Add(IDC_STOP, new CImageButton(this));

    for (const char *item : outputTypeItems)
        outputTypeCombo->addItem(QString::fromLatin1(item));
    simultaneousBox->setRange(0, maxSimultaneousTasks);
    simultaneousBox->setSpecialValueText(QString::fromLatin1(simultaneousAutoText));
    simultaneousBox->setToolTip(QString::fromLatin1(simultaneousTip));
    simultaneousLabel->setToolTip(QString::fromLatin1(simultaneousTip));
    simultaneousLabel->setBuddy(simultaneousBox);
    descriptionLabel->setFrameShape(QFrame::Box);
    descriptionLabel->setWordWrap(true);
    descriptionLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    profileList->setSelectionMode(QAbstractItemView::SingleSelection);
    taskList->SetOwner(this);
    taskList->SetShowSelectionAlways(true);
    taskList->setAcceptDrops(true);
    taskList->viewport()->setAcceptDrops(true);

    connect(addButton, &QAbstractButton::clicked, this, &CKestraniDlg::OnAddFile);
    connect(removeButton, &QAbstractButton::clicked, this, &CKestraniDlg::OnRemoveTask);
    connect(removeAllButton, &QAbstractButton::clicked, this, &CKestraniDlg::OnRemoveAllTasks);
    connect(taskList, &CCellListCtrl::listClicked, this, &CKestraniDlg::OnListClick);
    connect(browseButton, &QAbstractButton::clicked, this, &CKestraniDlg::OnBrowseOutputFolder);
    connect(helpButton, &QAbstractButton::clicked, this, &CKestraniDlg::OnHelpContents);
    connect(startButton, &QAbstractButton::clicked, this, &CKestraniDlg::OnStartClicked);
    connect(stopButton, &QAbstractButton::clicked, this, &CKestraniDlg::OnStopClicked);
    connect(previewButton, &QAbstractButton::clicked, this, &CKestraniDlg::OnPreviewClicked);
    connect(stopPreviewButton, &QAbstractButton::clicked, this,
            &CKestraniDlg::OnStopPreviewClicked);
    connect(slider, &CRangeSlider::rangeChanged, this, &CKestraniDlg::OnRangeChanged,
            Qt::DirectConnection);
    connect(simultaneousBox, &QSpinBox::valueChanged, this, [this](int count) {
        engine->SetSimultaneousTasks(count);
        PageSettings::WriteSimultaneousTasks(count);
    });
}

void CKestraniDlg::OnInitDialog()
{
    setWindowIcon(Icon());
    SetWindowTitleFromVersion();
    InitControls();
    {
        const QSignalBlocker quiet(simultaneousBox); // read, not written back
        simultaneousBox->setValue(PageSettings::ReadSimultaneousTasks());
    }
    engine->SetSimultaneousTasks(simultaneousBox->value());
    ReadBatchOptionSettings();
    ReadOutputFolder();
    background = Artwork::Pixmap(QStringLiteral(":/bitmaps/%1.png").arg(backgroundBitmap));
    InstallKeyFilters();
    update();
}

void CKestraniDlg::SetWindowTitleFromVersion()
{
    const QString title =
        QStringLiteral("%1 V%2").arg(QString::fromLatin1(productName), PageSettings::ReadVersion());
    (frameDialog ? frameDialog : window())->setWindowTitle(title);
}

void CKestraniDlg::InitControls()
{
    for (const ListColumn &column : listColumns)
        taskList->InsertColumn(taskList->GetColumnCount(), QString::fromLatin1(column.header),
                               column.width, column.alignment);
    taskList->SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    taskList->SetExtendedStyle(LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
    SetUpImageButtons();
    outputDirEdit->setEnabled(false);
    ResetTrimRange();
    stopButton->hide();
    preview->hide();
    picture->FadeIn(pictureBitmap, pictureFadeDelay);
    PlaceControls();
    outputTypeCombo->setCurrentIndex(0);
    LoadProfiles(0);
    // Connected only now: selecting the first type above is the page's own doing.
    connect(outputTypeCombo, &QComboBox::currentIndexChanged, this,
            &CKestraniDlg::OnOutputTypeChanged);
}

void CKestraniDlg::SetUpImageButtons()
{
    for (const ImageButtonSetup &setup : imageButtons) {
        auto *button = static_cast<CImageButton *>(GetDlgItem(setup.id));
        button->SetIcons(setup.hoverIcon, setup.normalIcon, false);
        button->DrawTransparent(false);
        button->SetDrawBorder(false, true);
        button->SetAlign(1, true);
        button->SetColor(CImageButton::NormalText, buttonNormalText, true);
        button->SetColor(CImageButton::HoverText, buttonHoverText, true);
        button->SetColor(CImageButton::FocusText, buttonFocusText, true);
        button->SetColor(CImageButton::HoverBack, buttonHoverBack, true);
    }
    for (int id : tooltipOrder) {
        for (const ImageButtonSetup &setup : imageButtons) {
            if (setup.id == id)
                static_cast<CImageButton *>(GetDlgItem(id))
                    ->SetTooltipText(QString::fromLatin1(setup.tooltip), true);
        }
    }
}

void CKestraniDlg::PlaceControls()
{
    for (const ControlPlace &place : controlPlaces)
        GetDlgItem(place.id)->setGeometry(place.rect);
    outputGroup->lower();
}

void CKestraniDlg::ReadOutputFolder()
{
    QString folder;
    if (!PageSettings::ReadDestination(folder)) {
        folder = PageSettings::DefaultOutputFolder();
        proposedOutputFolder = folder;
    }
    outputFolder = WithTrailingSeparator(folder);
    outputDirEdit->setText(outputFolder);
}

void CKestraniDlg::InstallKeyFilters()
{
    // Pop-up windows of the controls (a combo box's list) keep their own Enter and Escape.
    for (QWidget *child : findChildren<QWidget *>()) {
        if (child->window() == window())
            child->installEventFilter(this);
    }
}

QWidget *CKestraniDlg::DialogParent()
{
    return frameDialog ? frameDialog : this;
}

bool CKestraniDlg::IsConverting() const
{
    return engine->IsConverting();
}

// --- painting and keys

void CKestraniDlg::paintEvent(QPaintEvent *)
{
    if (background.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), background);
}

void CKestraniDlg::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool CKestraniDlg::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == taskList->viewport() &&
        (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop))
        return HandleDrop(event);
    if (watched == taskList->viewport() && type == QEvent::ToolTip)
        return ShowCellTip(event);
    // The list view would move its selection on a click by itself; during a batch the
    // selection stays where it is.
    if (watched == taskList->viewport() && IsConverting() &&
        (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
         type == QEvent::MouseButtonDblClick))
        return true;
    if (type != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)
        return true;
    if (watched == taskList)
        return IsConverting() || HandleListKey(key);
    return QWidget::eventFilter(watched, event);
}

// --- output settings, help, batch

void CKestraniDlg::OnBrowseOutputFolder()
{
    if (IsConverting())
        return;
    const QString picked = chooseOutputFolder(BrowseStartFolder());
    if (!picked.isEmpty()) {
        const QString folder = QDir::toNativeSeparators(picked);
        outputDirEdit->setText(folder);
        outputFolder = WithTrailingSeparator(folder);
    }
    if (!outputFolder.isEmpty())
        PageSettings::WriteDestination(outputFolder);
}

void CKestraniDlg::OnHelpContents()
{
    OnHelp();
}

void CKestraniDlg::OnHelp()
{
    // Shown by the program itself: a desktop without a web browser would show nothing.
    if (!helpWindow)
        helpWindow = new CHelpWindow(programFolder + QLatin1String(helpFileName), DialogParent());
    helpWindow->show();
    helpWindow->raise();
    helpWindow->activateWindow();
}

void CKestraniDlg::LoadProfiles(int outputType)
{
    engine->LoadProfiles(outputType);
}

void CKestraniDlg::OnOutputTypeChanged()
{
    LoadProfiles(outputTypeCombo->currentIndex());
    if (tasks.Count() > 0)
        taskList->InvalidateCells(0, tasks.Count() - 1, COL_OUTPUT, false);
}

void CKestraniDlg::OnStartClicked()
{
    startClicked.start();
    if (IsConverting())
        return;
    QString problem;
    const std::optional<BatchOptions> options = BatchOptionsFromControls(&problem);
    if (!options) {
        if (tasks.Count() > 0)
            host->ShowMessage(problem, QStringLiteral("Error"), EngineHost::MessageIcon::Error);
        return;
    }
    engine->SetOptions(*options);
    ReadUnreadableAgain();
    CreateProposedOutputFolder();
    engine->OnStartClicked();
}

void CKestraniDlg::CreateProposedOutputFolder()
{
    // The folder the page proposed on a fresh account may not exist yet; one the user chose is
    // never made behind their back.
    if (IsConverting() || tasks.Count() == 0 || proposedOutputFolder.isEmpty() ||
        outputDirEdit->text() != proposedOutputFolder)
        return;
    QDir().mkpath(proposedOutputFolder);
}

void CKestraniDlg::OnStopClicked()
{
    // Stop appears where Start was: the second click of a double-click on Start is no Stop.
    if (startClicked.isValid() && startClicked.elapsed() < QApplication::doubleClickInterval())
        return;
    StopBatch();
}

void CKestraniDlg::StopBatch()
{
    engine->OnStopClicked();
}

void CKestraniDlg::SetBatchControlsEnabled(bool enable)
{
    // The preview's play and pause do nothing during a batch either (its decoding would take
    // the cores from the tools).
    for (QWidget *control :
         std::initializer_list<QWidget *>{addButton, removeButton, removeAllButton, browseButton,
                                          slider, previewButton, stopPreviewButton})
        control->setEnabled(enable);
    // The slider's artwork has no disabled state of its own: it is faded instead.
    QGraphicsOpacityEffect *fade = nullptr;
    if (!enable) {
        fade = new QGraphicsOpacityEffect(slider);
        fade->setOpacity(0.4);
    }
    slider->setGraphicsEffect(fade);
}

bool CKestraniDlg::RequestClose()
{
    if (!IsConverting())
        return true;
    // A second close while the batch winds down asks for nothing more.
    if (!closeRequested) {
        closeRequested = true;
        StopBatch();
    }
    return false;
}

void CKestraniDlg::OnGetCellInfo(CellInfo &cell)
{
    FillTaskCell(tasks, outputTypeCombo->currentIndex(), cell);
}

void CKestraniDlg::OnDestroy()
{
    if (destroyed)
        return;
    destroyed = true;
    PageSettings::WriteFileNumber(fileNumber);
    if (helpWindow && helpWindow->isVisible())
        helpWindow->close(); // where it was left is kept for the next time
    if (IsConverting())
        StopBatch();
}
