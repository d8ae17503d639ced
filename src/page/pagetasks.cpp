// SPDX-License-Identifier: GPL-3.0-or-later
// The page's tasks as a person works them: keys and tips on the list; the commands that add,
// remove and select tasks; and the selected task's trim, set with the slider while the
// preview follows. The files that come in are sorted out in pagefiles.cpp.
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

bool CKestraniDlg::ShowCellTip(QEvent *event)
{
    // The narrow Source and Output columns cut most names; the whole path shows on hover.
    auto *help = static_cast<QHelpEvent *>(event);
    const QModelIndex index = taskList->indexAt(help->pos());
    QString tip;
    if (index.isValid() && IsValidTask(index.row())) {
        const ConversionTask task = tasks.GetAt(index.row());
        if (index.column() == COL_SOURCE) {
            tip = task.sourcePath;
        } else if (index.column() == COL_PROGRESS) {
            // A Failed cell says why on hover, in the words the command line prints.
            if (task.state == TASK_FAILED && task.finished != 1)
                tip = task.note;
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
    PutRangeOnSlider(length, 0.0, length);
    ShowClipAt(path, previewFallbackSeconds);
    SelectListRow(currentTask);
    return length > 0.0;
}

void CKestraniDlg::LoadTask(int index)
{
    if (!IsValidTask(index))
        return;
    const ConversionTask task = tasks.GetAt(index);
    PutRangeOnSlider(ClipLengthOrZero(task.sourcePath), task.beginSeconds, task.endSeconds);
    ShowTrimPoint(index, false);
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
    PutRangeOnSlider(idleRangeSeconds, 0.0, idleRangeSeconds);
}

void CKestraniDlg::PutRangeOnSlider(double length, double left, double right)
{
    rangeUpdateGuard = true;
    slider->SetMinMax(0.0, length);
    slider->SetRange(left, right);
    rangeUpdateGuard = false;
    slider->GetRange(sliderLeft, sliderRight);
    beginUnsettled = endUnsettled = false;
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
    // Only an end that moved is taken: the task holds the other one as its frame left it.
    const bool beginMoved = left != sliderLeft;
    const bool endMoved = right != sliderRight;
    sliderLeft = left;
    sliderRight = right;
    beginUnsettled = beginUnsettled || beginMoved;
    endUnsettled = endUnsettled || endMoved;
    ConversionTask task = tasks.GetAt(mark);
    if (beginMoved)
        task.beginSeconds = left;
    if (endMoved)
        task.endSeconds = right;
    tasks.SetAt(mark, task);
    taskList->InvalidateCells(currentTask, mark, COL_BEGIN, false);
    taskList->InvalidateCells(currentTask, mark, COL_END, false);
    const int dragged = slider->DraggedPart();
    if (lParam == 0 && dragged >= 0) {
        // While a thumb is dragged the preview follows it with key-frame pictures; the exact
        // picture comes when the button is released.
        preview->ShowKeyFrameNear(dragged == RANGE_RIGHT_CHANGED ? right : left);
        return;
    }
    // At rest (released, or a key): each end that moved is put on its frame, End first, so
    // that Begin's picture stays on screen when both moved (the bar, the plain arrows). A
    // release that moved nothing shows the picture of the thumb that was held.
    const bool held = lParam != 0 && !beginUnsettled && !endUnsettled;
    const bool showEnd = endUnsettled || (held && wParam == RANGE_RIGHT_CHANGED);
    const bool showBegin = beginUnsettled || (held && wParam != RANGE_RIGHT_CHANGED);
    beginUnsettled = endUnsettled = false;
    if (showEnd)
        ShowTrimPoint(mark, true);
    if (showBegin)
        ShowTrimPoint(mark, false);
}

// A trim time names the frame on screen at that moment, and the part converted is every frame
// on screen from Begin until End: its first picture is the one on screen at Begin, its last
// the one on screen just before End. The conversion keeps the frames that start at or after
// Begin and before End, and the profiles' rate filter drops a last frame cut short by more
// than half; so once a frame is known (it is shown), Begin goes back to its start and End on
// to its end, and the times in the list are exactly what converts. The slider keeps the
// thumbs where they were put, so that an arrow key can step within a frame. An End at the
// clip's end keeps all of it.
void CKestraniDlg::ShowTrimPoint(int index, bool end)
{
    ConversionTask task = tasks.GetAt(index);
    const double at = end ? task.endSeconds : task.beginSeconds;
    if (!ShowClipAt(task.sourcePath, end ? std::max(0.0, at - endPictureLead) : at))
        return;
    const double start = preview->CurrentPosition();
    const double stop = start + preview->CurrentDuration();
    if (end) {
        const double length = slider->GetMaximum();
        if (at >= length || stop <= at || stop <= task.beginSeconds)
            return;
        task.endSeconds = std::min(stop, length);
    } else {
        // Before the first frame (a stream that starts late) Begin already names it.
        if (start >= at || start >= task.endSeconds)
            return;
        task.beginSeconds = start;
    }
    tasks.SetAt(index, task);
    taskList->InvalidateCells(index, index, end ? COL_END : COL_BEGIN, false);
}

bool CKestraniDlg::ShowClipAt(QString path, double position)
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
        return start == position;
    } catch (...) {
        return false;
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
