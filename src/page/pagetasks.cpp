// SPDX-License-Identifier: GPL-3.0-or-later
// The page's tasks as a person works them: keys, drops and tips on the list; the commands that
// add, remove and select tasks; and the selected task's trim, set with the slider while the
// preview follows.
#include "kestranidlg.h"

#include "celllistctrl.h"
#include "conversionengine.h"
#include "fadeinpicture.h"
#include "globals.h"
#include "pageconstants.h"
#include "progress/progresstext.h"
#include "rangeslider.h"
#include "videoedit.h"

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QStandardPaths>
#include <QToolTip>
#include <QUrl>

using namespace Page;

bool CKestraniDlg::HandleListKey(int key)
{
    const int count = tasks.Count();
    const int mark = SelectionMark();
    int load = -1;
    switch (key) {
    case Qt::Key_PageDown:
        if (mark < count - 1)
            load = qMin(mark + pageStep, count - 1);
        break;
    case Qt::Key_PageUp:
        if (mark > 0)
            load = qMax(mark - pageStep, 0);
        break;
    case Qt::Key_Up:
        if (mark > 0)
            load = mark - 1;
        break;
    case Qt::Key_Down:
        if (mark < taskList->GetItemCount() - 1)
            load = mark + 1;
        break;
    case Qt::Key_Home:
        if (count >= 1)
            load = 0;
        break;
    case Qt::Key_End:
        if (count >= 1)
            load = count - 1;
        break;
    default:
        return false;
    }
    if (load >= 0) {
        currentTask = load;
        LoadTask(load);
    }
    SelectListRow(currentTask);
    return true;
}

bool CKestraniDlg::HandleDrop(QEvent *event)
{
    auto *drop = static_cast<QDropEvent *>(event);
    QStringList paths;
    if (drop->mimeData()->hasUrls()) {
        for (const QUrl &url : drop->mimeData()->urls()) {
            if (url.isLocalFile() && IsVideoFile(url.toLocalFile()))
                paths.append(url.toLocalFile());
        }
    }
    if (paths.isEmpty() || IsConverting()) {
        drop->ignore();
        return true;
    }
    drop->acceptProposedAction();
    if (event->type() == QEvent::Drop)
        AddFiles(paths);
    return true;
}

bool CKestraniDlg::ShowCellTip(QEvent *event)
{
    // The narrow Source and Output columns cut most names; the whole path shows on hover.
    auto *help = static_cast<QHelpEvent *>(event);
    const QModelIndex index = taskList->indexAt(help->pos());
    QString tip;
    if (index.isValid() && IsValidTask(index.row())) {
        if (index.column() == COL_SOURCE) {
            tip = tasks.GetAt(index.row()).sourcePath;
        } else if (index.column() == COL_OUTPUT) {
            CellInfo cell;
            cell.row = index.row();
            cell.column = COL_OUTPUT;
            OnGetCellInfo(cell);
            tip = WithTrailingSeparator(outputDirEdit->text()) + cell.text;
            // What the batch's options will make of it: its size, its parts, its subtitles.
            if (const std::optional<BatchOptions> options = BatchOptionsFromControls(nullptr))
                for (const QString &line : engine->TaskSummaries(index.row(), *options))
                    tip += u'\n' + line;
        }
    }
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), tip, taskList->viewport(),
                           taskList->visualRect(index));
    return true;
}

bool CKestraniDlg::IsVideoFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    const QString suffix = info.suffix().toLower();
    for (const char *extension : videoExtensions) {
        if (suffix == QLatin1String(extension))
            return true;
    }
    return false;
}

// --- task list commands

int CKestraniDlg::SelectionMark() const
{
    return taskList->GetSelectionMark();
}

void CKestraniDlg::OnAddFile()
{
    if (IsConverting())
        return;
    const QStringList paths = chooseVideoFiles(AddStartFolder());
    if (paths.isEmpty())
        return;
    AddChosenFiles(paths);
}

QString CKestraniDlg::AddStartFolder() const
{
    if (!lastVideoFolder.isEmpty() && QFileInfo(lastVideoFolder).isDir())
        return lastVideoFolder;
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (!movies.isEmpty() && QFileInfo(movies).isDir())
        return movies;
    return QDir::homePath();
}

QString CKestraniDlg::BrowseStartFolder() const
{
    if (!outputFolder.isEmpty() && QFileInfo(outputFolder).isDir())
        return outputFolder;
    return QDir::homePath();
}

void CKestraniDlg::AddFiles(const QStringList &paths)
{
    if (IsConverting())
        return;
    QStringList videos;
    for (const QString &path : paths) {
        if (IsVideoFile(path))
            videos.append(QFileInfo(path).absoluteFilePath());
    }
    if (!videos.isEmpty())
        AddChosenFiles(videos);
}

void CKestraniDlg::AddChosenFiles(const QStringList &paths)
{
    // From the first added file on, the preview area belongs to the preview control.
    ShowPreviewControl();
    QStringList unreadable;
    for (const QString &path : paths) {
        const QString native = QDir::toNativeSeparators(path);
        if (!AddTask(native))
            unreadable.append(native);
    }
    lastVideoFolder = QFileInfo(paths.last()).absolutePath();
    WarnUnreadable(unreadable);
}

void CKestraniDlg::WarnUnreadable(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    QString text;
    if (paths.size() == 1)
        text = QStringLiteral("%1 cannot be read as a video: it is added, but it will not "
                              "convert.")
                   .arg(paths.first());
    else
        text = QStringLiteral("These files cannot be read as videos: they are added, but they "
                              "will not convert.\n\n%1")
                   .arg(paths.join(QLatin1Char('\n')));
    // Not modal: the files came in all the same, and the window stays usable meanwhile.
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"), text,
                                QMessageBox::Ok, this);
    box->setWindowModality(Qt::NonModal);
    connect(box, &QDialog::finished, box, &QObject::deleteLater);
    box->show();
}

void CKestraniDlg::ShowPreviewControl()
{
    preview->show();
    picture->hide();
}

double CKestraniDlg::ClipLengthOrZero(const QString &path)
{
    // A file whose length cannot be read is kept with the length 0 and shown as an empty
    // preview rather than with the picture of the task loaded before it.
    try {
        return preview->GetClipLength(path);
    } catch (...) {
        ClosePreviewClip();
        return 0.0;
    }
}

void CKestraniDlg::ClosePreviewClip()
{
    try {
        preview->Stop();
        preview->CloseClip();
    } catch (...) {
    }
}

bool CKestraniDlg::AddTask(const QString &path)
{
    const double length = ClipLengthOrZero(path);
    tasks.Append(ConversionTask::ForSource(path, length));
    ResetTrimRange();
    RefreshTaskList();
    currentTask = tasks.Count() - 1;
    rangeUpdateGuard = true;
    slider->SetMinMax(0.0, length);
    slider->SetRange(0.0, length);
    rangeUpdateGuard = false;
    ShowClipAt(path, previewFallbackSeconds);
    SelectListRow(currentTask);
    return length > 0.0;
}

void CKestraniDlg::LoadTask(int index)
{
    if (!IsValidTask(index))
        return;
    const ConversionTask task = tasks.GetAt(index);
    const double length = ClipLengthOrZero(task.sourcePath);
    rangeUpdateGuard = true;
    slider->SetMinMax(0.0, length);
    slider->SetRange(task.beginSeconds, task.endSeconds);
    rangeUpdateGuard = false;
    ShowClipAt(task.sourcePath, task.beginSeconds);
    SelectListRow(currentTask);
}

void CKestraniDlg::OnRemoveTask()
{
    if (IsConverting())
        return;
    const int mark = SelectionMark();
    if (!IsValidTask(mark))
        return;
    tasks.RemoveAt(mark);
    RefreshTaskList();
    if (tasks.Count() == 0) {
        currentTask = -1;
        ClosePreviewClip();
        ResetTrimRange();
        return;
    }
    currentTask = qMin(mark, tasks.Count() - 1);
    LoadTask(currentTask);
}

void CKestraniDlg::OnRemoveAllTasks()
{
    if (IsConverting())
        return;
    tasks.RemoveAll();
    taskList->DeleteAllItems();
    currentTask = -1;
    ClosePreviewClip();
    ResetTrimRange();
}

void CKestraniDlg::OnListClick(int code)
{
    Q_UNUSED(code);
    if (IsConverting())
        return;
    const int mark = SelectionMark();
    if (mark != currentTask && IsValidTask(mark)) {
        currentTask = mark;
        LoadTask(mark);
    } else if (currentTask >= 0) {
        SelectListRow(currentTask);
    }
}

void CKestraniDlg::RefreshTaskList()
{
    taskList->SetItemCount(tasks.Count());
    const int mark = taskList->GetSelectionMark();
    taskList->RedrawItems(mark, mark);
}

void CKestraniDlg::SelectListRow(int index)
{
    taskList->SetSelectionMark(index);
    // Row -1 would address every row at once: with no task loaded, nothing is selected.
    if (index >= 0)
        taskList->SetItemState(index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    taskList->setFocus();
    taskList->EnsureVisible(index);
}

// --- trim and preview

void CKestraniDlg::ResetTrimRange()
{
    rangeUpdateGuard = true;
    slider->SetMinMax(0.0, idleRangeSeconds);
    slider->SetRange(0.0, idleRangeSeconds);
    rangeUpdateGuard = false;
}

void CKestraniDlg::OnRangeChanged(int wParam, int lParam)
{
    if (IsConverting())
        return;
    const int mark = SelectionMark();
    if (!IsValidTask(mark) || rangeUpdateGuard)
        return;
    double left = 0.0;
    double right = 0.0;
    slider->GetRange(left, right);
    ConversionTask task = tasks.GetAt(mark);
    task.beginSeconds = left;
    task.endSeconds = right;
    tasks.SetAt(mark, task);
    taskList->InvalidateCells(currentTask, mark, COL_BEGIN, false);
    taskList->InvalidateCells(currentTask, mark, COL_END, false);
    if (lParam == 0) {
        // While a thumb is dragged the preview follows it with key-frame pictures; the exact
        // picture comes when the button is released.
        const int dragged = slider->DraggedPart();
        if (dragged >= 0)
            preview->ShowKeyFrameNear(dragged == RANGE_RIGHT_CHANGED ? right : left);
        return;
    }
    if (wParam == RANGE_LEFT_CHANGED || wParam == RANGE_BOTH_MOVED)
        ShowClipAt(task.sourcePath, task.beginSeconds);
    else if (wParam == RANGE_RIGHT_CHANGED)
        ShowClipAt(task.sourcePath, task.endSeconds);
}

void CKestraniDlg::ShowClipAt(QString path, double position)
{
    // A clip the preview cannot show leaves the preview wherever the failing call left it.
    try {
        const double length = preview->GetClipLength(path);
        preview->Stop();
        preview->CloseClip();
        const double start = position <= length ? position : previewFallbackSeconds;
        preview->OpenClip(path, start, length, 1);
        preview->Play();
        preview->Pause();
    } catch (...) {
    }
}

void CKestraniDlg::OnPreviewClicked()
{
    if (IsConverting())
        return;
    const int mark = SelectionMark();
    if (!IsValidTask(mark))
        return;
    const QString path = tasks.GetAt(mark).sourcePath;
    // The length comes first: a clip that cannot even be measured leaves the preview as it was.
    try {
        const double length = preview->GetClipLength(path);
        preview->CloseClip();
        preview->OpenClip(path, 0.0, length, 1);
        preview->SetClipRange(path, 0.0, length);
        preview->Play();
    } catch (...) {
    }
}

void CKestraniDlg::OnStopPreviewClicked()
{
    if (IsConverting() || !IsValidTask(SelectionMark()))
        return;
    try {
        preview->Pause();
    } catch (...) {
    }
}
