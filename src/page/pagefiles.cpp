// SPDX-License-Identifier: GPL-3.0-or-later
// The files a person brings to the list, picked in the add dialog, dropped on the list or named
// on the command line, all sorted out alike: a file is taken by what it holds, whatever its
// name. What cannot be taken, and what is taken but cannot be read yet, is said in one box that
// names each file and why. A file that could not be read is read again at Start.
#include "kestranidlg.h"

#include "celllistctrl.h"
#include "pageconstants.h"
#include "progress/progresstext.h"
#include "videoedit.h"
#include "videoeditexception.h"

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

using namespace Page;

namespace {

// The preview's reason without the file's name, which the box gives before it.
QString ReasonWithoutName(const QString &message, const QString &path)
{
    QString reason = message;
    reason.replace(u'"' + path + u'"', QStringLiteral("the file"));
    return reason;
}

// "path (why)" lines, or the one file's sentence.
QString Listed(const QList<QPair<QString, QString>> &files)
{
    QStringList lines;
    for (const auto &[path, why] : files)
        lines << QStringLiteral("%1 (%2)").arg(path, why);
    return lines.join(u'\n');
}

} // namespace

QString CKestraniDlg::DroppedPath(const QUrl &url)
{
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

bool CKestraniDlg::HandleDrop(QEvent *event)
{
    auto *drop = static_cast<QDropEvent *>(event);
    QStringList paths;
    if (drop->mimeData()->hasUrls()) {
        for (const QUrl &url : drop->mimeData()->urls())
            if (const QString path = DroppedPath(url); !path.isEmpty())
                paths.append(path);
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

void CKestraniDlg::AddFiles(const QStringList &paths)
{
    if (IsConverting() || paths.isEmpty())
        return;
    QStringList absolute;
    for (const QString &path : paths)
        absolute.append(QFileInfo(path).absoluteFilePath());
    AddChosenFiles(absolute);
}

CKestraniDlg::FileKind CKestraniDlg::Examine(const QString &path, QString &why)
{
    try {
        if (preview->HoldsVideo(path))
            return FileKind::Video;
        why = QStringLiteral("it has no picture");
        return FileKind::NotVideo;
    } catch (const CVideoEditException &e) {
        why = ReasonWithoutName(e.Message(), path);
        return IsVideoFile(path) ? FileKind::Unreadable : FileKind::NotVideo;
    } catch (...) {
        why = QStringLiteral("it cannot be read");
        return IsVideoFile(path) ? FileKind::Unreadable : FileKind::NotVideo;
    }
}

void CKestraniDlg::AddChosenFiles(const QStringList &paths)
{
    QList<QPair<QString, QString>> unreadable, refused;
    QString lastAdded;
    for (const QString &path : paths) {
        const QString native = QDir::toNativeSeparators(path);
        QString why;
        const FileKind kind = Examine(native, why);
        if (kind == FileKind::NotVideo) {
            refused.append({native, why});
            continue;
        }
        // From the first added file on, the preview area belongs to the preview control.
        ShowPreviewControl();
        AddTask(native);
        lastAdded = native;
        if (kind == FileKind::Unreadable)
            unreadable.append({native, why});
    }
    if (!lastAdded.isEmpty())
        lastVideoFolder = QFileInfo(lastAdded).absolutePath();
    TellAboutFiles(unreadable, refused);
}

void CKestraniDlg::TellAboutFiles(const QList<QPair<QString, QString>> &unreadable,
                                  const QList<QPair<QString, QString>> &refused)
{
    QStringList text;
    if (unreadable.size() == 1)
        text << QStringLiteral("%1 cannot be read as a video: %2. It is added all the same; "
                               "Start reads it again, and once it can be read, it converts.")
                    .arg(unreadable[0].first, unreadable[0].second);
    else if (!unreadable.isEmpty())
        text << QStringLiteral("These files cannot be read as videos. They are added all the "
                               "same; Start reads them again, and each converts once it can be "
                               "read.\n\n%1")
                    .arg(Listed(unreadable));
    if (refused.size() == 1)
        text << QStringLiteral("%1 is not a video: %2. It is not added.")
                    .arg(refused[0].first, refused[0].second);
    else if (!refused.isEmpty())
        text << QStringLiteral("These files are not videos and are not added:\n\n%1")
                    .arg(Listed(refused));
    if (text.isEmpty())
        return;
    // Not modal: the other files came in all the same, and the window stays usable meanwhile.
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"),
                                text.join(QStringLiteral("\n\n")), QMessageBox::Ok, DialogParent());
    box->setWindowModality(Qt::NonModal);
    connect(box, &QDialog::finished, box, &QObject::deleteLater);
    box->show();
}

void CKestraniDlg::ReadUnreadableAgain()
{
    // A task whose file could not be read when it was added has the length 0: the file may have
    // been made readable (or finished downloading) since.
    for (int i = 0; i < tasks.Count(); ++i) {
        ConversionTask task = tasks.GetAt(i);
        if (task.endSeconds > 0.0 || task.beginSeconds != 0.0)
            continue;
        double length = 0.0;
        try {
            length = preview->GetClipLength(task.sourcePath);
        } catch (...) {
            continue; // still unreadable: the batch fails it, saying why
        }
        if (length <= 0.0)
            continue;
        task.endSeconds = length;
        tasks.SetAt(i, task);
        taskList->InvalidateCells(i, i, COL_END, false);
        if (i == currentTask)
            LoadTask(i);
    }
}
