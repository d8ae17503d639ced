// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "batchoptions.h"
#include "cellinfoowner.h"
#include "helpwindow.h"
#include "tasklist.h"

#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class CCellListCtrl;
class CFadeInPicture;
class CImageButton;
class CPageEngineHost;
class CRangeSlider;
class CVideoEdit;
class ConversionEngine;
class QCheckBox;
class QSpinBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QUrl;

// The window that holds the title: the frame sets it, the page writes the title into it.
extern QWidget *frameDialog;

// The main page: every control of the window, the task list, and the commands on them. It is
// the task list's cell owner and, through CPageEngineHost, the conversion engine's host.
// Commands that change the list, the output folder or the trim range do nothing while a batch
// runs; the batch runs inside OnStartClicked and serves events while its tools work, so every
// handler here can run nested inside it.
class CKestraniDlg : public QWidget, public ICellInfoOwner
{
    Q_OBJECT

public:
    explicit CKestraniDlg(QWidget *parent = nullptr);
    ~CKestraniDlg() override;

    // Lays out and sets up the controls, the title, the output folder and the profiles.
    void OnInitDialog();
    // Stores the settings kept across runs and stops a running batch. Runs once.
    void OnDestroy();

    static QIcon ApplicationIcon();
    // The page's copy of it, read once, when first asked for: the pictures are still being read
    // while the page builds its controls.
    const QIcon &Icon() const;
    static QStringList ApplicationIconFiles();

    // The control with this id, or nullptr.
    QWidget *GetDlgItem(int id) const { return controls.value(id); }
    TaskList &Tasks() { return tasks; }
    ConversionEngine &Engine() { return *engine; }
    int CurrentTask() const { return currentTask; }
    bool IsConverting() const;

    // Dropped files and those named on the command line, sorted out as picked ones are: each
    // video goes through AddTask in order, so the last one ends up loaded. Refused while
    // converting.
    void AddFiles(const QStringList &paths);
    // False when the file cannot be read as a video: the task is added all the same, with the
    // length 0; Start reads it again.
    bool AddTask(const QString &path);
    void LoadTask(int index);
    void ResetTrimRange();
    // Bounds and thumbs of the slider, set without the page hearing of it.
    void PutRangeOnSlider(double length, double left, double right);
    // True when the picture at `position` is on screen (not the fallback, not a failure).
    bool ShowClipAt(QString path, double position);
    // Shows the picture of a task's Begin or End, as the conversion will begin or end.
    void ShowTrimPoint(int index, bool end);
    void RefreshTaskList();
    void SelectListRow(int index);
    void LoadProfiles(int outputType);

    // True when the window may close now. While a batch runs it stops the batch instead and
    // emits readyToClose once the batch has wound down.
    bool RequestClose();
    // Stops a running batch now, however soon after Start it comes (closing the window).
    void StopBatch();

    // Greys out the controls whose commands a running batch refuses. Stop and the preview
    // stay as they are; the list stays readable and scrollable and ignores clicks.
    void SetBatchControlsEnabled(bool enable);

    // What the page's boxes and dialogs belong to: the frame. Where the page is drawn scaled
    // inside a view, a window of the page's own would be drawn inside that view as well.
    QWidget *DialogParent();

    // The help window, while it is open.
    CHelpWindow *HelpWindow() const { return helpWindow; }

    void OnGetCellInfo(CellInfo &cell) override;

    // Where the commands get the user's choice of files and folder. Tests replace them; the
    // chosen paths then take the same way as the dialogs' answers. An empty answer is Cancel.
    std::function<QStringList(const QString &startFolder)> chooseVideoFiles;
    std::function<QString(const QString &startFolder)> chooseOutputFolder;

    // An existing file named like a video, in any case (".AVI").
    static bool IsVideoFile(const QString &path);
    // The local file a dropped URL names; empty when it names none.
    static QString DroppedPath(const QUrl &url);

signals:
    void readyToClose();

public slots:
    void OnAddFile();
    void OnRemoveTask();
    void OnRemoveAllTasks();
    void OnListClick(int code);
    void OnBrowseOutputFolder();
    void OnHelpContents();
    void OnHelp();
    void OnStartClicked();
    void OnStopClicked();
    void OnOutputTypeChanged();
    void OnPreviewClicked();
    void OnStopPreviewClicked();
    void OnRangeChanged(int wParam, int lParam);

protected:
    void paintEvent(QPaintEvent *event) override; // OnEraseBkgnd
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override; // PreTranslateMessage

private:
    friend class CPageEngineHost;

    void CreateControls();
    void InitControls();
    void SetUpImageButtons();
    void PlaceControls();
    void ReadOutputFolder();
    void SetWindowTitleFromVersion();
    // What a file offered to the list turns out to be: a video; one that cannot be read now
    // but is named like a video (taken, and read again at Start); anything else (left out).
    enum class FileKind { Video, Unreadable, NotVideo };
    FileKind Examine(const QString &path, QString &why);
    // Takes the videos among the files and tells about the others in one box.
    void AddChosenFiles(const QStringList &paths);
    void WarnUnreadable(const QStringList &paths);
    void CreateBatchOptionControls();
    void ReadBatchOptionSettings();
    void EnableBatchOptionControls(bool enable);
    // The options the controls ask for; nothing, with *problem saying why, when they cannot
    // be met (a largest file that is no size).
    std::optional<BatchOptions> BatchOptionsFromControls(QString *problem) const;
    void TellAboutFiles(const QList<QPair<QString, QString>> &unreadable,
                        const QList<QPair<QString, QString>> &refused);
    void ReadUnreadableAgain();
    QString AddStartFolder() const;
    QString BrowseStartFolder() const;
    void CreateProposedOutputFolder();
    bool ShowCellTip(QEvent *event);
    void ShowPreviewControl();
    bool HandleListKey(int key);
    bool HandleDrop(QEvent *event);
    int SelectionMark() const;
    bool IsValidTask(int index) const { return tasks.IsValidIndex(index); }
    double ClipLengthOrZero(const QString &path);
    void ClosePreviewClip();
    void InstallKeyFilters();
    // Keeps a control under its id (also as its object name) and returns it.
    template <class T> T *Add(int id, T *control)
    {
        control->setObjectName(QString::number(id));
        controls.insert(id, control);
        return control;
    }

    TaskList tasks;
    std::unique_ptr<CPageEngineHost> host;
    std::unique_ptr<ConversionEngine> engine;
    QHash<int, QWidget *> controls;

    CCellListCtrl *taskList = nullptr;
    CImageButton *addButton = nullptr;
    CImageButton *removeButton = nullptr;
    CImageButton *removeAllButton = nullptr;
    CImageButton *helpButton = nullptr;
    CImageButton *startButton = nullptr;
    CImageButton *stopButton = nullptr;
    CImageButton *previewButton = nullptr;
    CImageButton *stopPreviewButton = nullptr;
    QLabel *outputDirLabel = nullptr;
    QLineEdit *outputDirEdit = nullptr;
    QPushButton *browseButton = nullptr;
    CFadeInPicture *picture = nullptr;
    CVideoEdit *preview = nullptr;
    CRangeSlider *slider = nullptr;
    QGroupBox *outputGroup = nullptr;
    QLabel *outputTypeLabel = nullptr;
    QComboBox *outputTypeCombo = nullptr;
    QLabel *descriptionLabel = nullptr;
    QLabel *profileLabel = nullptr;
    QListWidget *profileList = nullptr;
    QCheckBox *shutdownCheck = nullptr;
    QLabel *simultaneousLabel = nullptr;
    QSpinBox *simultaneousBox = nullptr;
    QCheckBox *maxSizeCheck = nullptr;
    QComboBox *maxSizeCombo = nullptr;
    QCheckBox *splitCheck = nullptr;
    QCheckBox *loudnessCheck = nullptr;
    QCheckBox *subtitlesCheck = nullptr;

    int currentTask = -1;
    bool rangeUpdateGuard = false;
    // The range the slider shows, as last put on it or reported: what a notification moved.
    double sliderLeft = 0.0;
    double sliderRight = 0.0;
    // Ends moved since the trim last came to rest: put on their frames when it does.
    bool beginUnsettled = false;
    bool endUnsettled = false;
    int fileNumber = 0;
    QPixmap background;
    mutable QIcon icon;
    bool closeRequested = false;
    bool destroyed = false;
    // The folder the page proposed when none was stored; it may not exist yet.
    QString proposedOutputFolder;
    // Where the last added video was, for the next open-file dialog of this session.
    QString lastVideoFolder;
    // A second click of a double-click on Start lands on Stop, which takes Start's place.
    QElapsedTimer startClicked;
    QPointer<CHelpWindow> helpWindow;
};
