// SPDX-License-Identifier: GPL-3.0-or-later
// The page's controls for what a batch does beyond its profile: the largest file and parts,
// even loudness, burned-in subtitles. Each is remembered as soon as it changes.
#include "kestranidlg.h"

#include "pageconstants.h"
#include "pagesettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

using namespace Page;

void CKestraniDlg::CreateBatchOptionControls()
{
    maxSizeCheck = Add(IDC_MAX_SIZE_CHECK, new QCheckBox(QString::fromLatin1(maxSizeText), this));
    maxSizeCombo = Add(IDC_MAX_SIZE, new QComboBox(this));
    splitCheck = Add(IDC_SPLIT, new QCheckBox(QString::fromLatin1(splitText), this));
    loudnessCheck = Add(IDC_LOUDNESS, new QCheckBox(QString::fromLatin1(loudnessText), this));
    subtitlesCheck = Add(IDC_SUBTITLES, new QCheckBox(QString::fromLatin1(subtitlesText), this));

    maxSizeCombo->setEditable(true);
    maxSizeCombo->setInsertPolicy(QComboBox::NoInsert);
    for (const char *item : maxSizeItems)
        maxSizeCombo->addItem(QString::fromLatin1(item));
    for (QWidget *control : {static_cast<QWidget *>(maxSizeCheck), // one tip for both
                             static_cast<QWidget *>(maxSizeCombo)})
        control->setToolTip(QString::fromLatin1(maxSizeTip));
    splitCheck->setToolTip(QString::fromLatin1(splitTip));
    loudnessCheck->setToolTip(QString::fromLatin1(loudnessTip));
    subtitlesCheck->setToolTip(QString::fromLatin1(subtitlesTip));

    connect(maxSizeCheck, &QCheckBox::toggled, this, [this](bool on) {
        PageSettings::WriteFlag(maxSizeOnKey, on);
        EnableBatchOptionControls(!IsConverting());
    });
    connect(maxSizeCombo, &QComboBox::currentTextChanged, this,
            [](const QString &text) { PageSettings::WriteText(maxSizeKey, text); });
    connect(splitCheck, &QCheckBox::toggled, this,
            [](bool on) { PageSettings::WriteFlag(splitKey, on); });
    connect(loudnessCheck, &QCheckBox::toggled, this,
            [](bool on) { PageSettings::WriteFlag(loudnessKey, on); });
    connect(subtitlesCheck, &QCheckBox::toggled, this,
            [](bool on) { PageSettings::WriteFlag(subtitlesKey, on); });
}

void CKestraniDlg::ReadBatchOptionSettings()
{
    const QSignalBlocker quiet1(maxSizeCheck), quiet2(maxSizeCombo), quiet3(splitCheck),
        quiet4(loudnessCheck), quiet5(subtitlesCheck); // read, not written back
    maxSizeCheck->setChecked(PageSettings::ReadFlag(maxSizeOnKey));
    maxSizeCombo->setEditText(
        PageSettings::ReadText(maxSizeKey, QString::fromLatin1(maxSizeItems[0])));
    splitCheck->setChecked(PageSettings::ReadFlag(splitKey));
    loudnessCheck->setChecked(PageSettings::ReadFlag(loudnessKey));
    subtitlesCheck->setChecked(PageSettings::ReadFlag(subtitlesKey));
    EnableBatchOptionControls(true);
}

void CKestraniDlg::EnableBatchOptionControls(bool enable)
{
    for (QWidget *control :
         {static_cast<QWidget *>(maxSizeCheck), static_cast<QWidget *>(loudnessCheck),
          static_cast<QWidget *>(subtitlesCheck)})
        control->setEnabled(enable);
    // The size and the parts mean something only with a limit.
    maxSizeCombo->setEnabled(enable && maxSizeCheck->isChecked());
    splitCheck->setEnabled(enable && maxSizeCheck->isChecked());
}

std::optional<BatchOptions> CKestraniDlg::BatchOptionsFromControls(QString *problem) const
{
    BatchOptions options;
    if (maxSizeCheck->isChecked()) {
        QString why;
        const std::optional<qint64> size =
            BatchOptions::ParseSize(maxSizeCombo->currentText(), &why);
        if (!size) {
            if (problem)
                *problem = QStringLiteral("The largest file cannot be used: %1.").arg(why);
            return std::nullopt;
        }
        options.maxFileBytes = *size;
        options.splitIntoParts = splitCheck->isChecked();
    }
    if (loudnessCheck->isChecked())
        options.loudnessTarget = BatchOptions::defaultLoudness;
    options.burnSubtitles = subtitlesCheck->isChecked();
    return options;
}
