// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

struct ConversionTask;
struct SourceInfo;

// Fills a pass's command template with the values of one task. Variable names are
// case-sensitive and found anywhere, also inside quotes and longer words. The template is
// read once, left to right: an inserted value is never scanned for variables again.
class CommandTemplate
{
public:
    struct Values {
        QString inputFile;   // $INPUT_FILE
        QString title;       // $TITLE
        QString start;       // $START, whole seconds as HH:MM:SS
        QString length;      // $LENGTH, whole seconds as HH:MM:SS
        QString timestamp;   // $TIMESTAMP, local "YYYY-MM-DD hh:mm:ss"
        QString outputDir;   // $OUTPUT_DIR, ends with a separator
        QString outputFile;  // $OUTPUT_FILE, the base name
        QString exactStart;  // $EXACT_START, seconds to the microsecond
        QString exactLength; // $EXACT_LENGTH, seconds to the microsecond
        // $AUDIO_MAP, the argument of "-map" that picks the sound: a stream that may be
        // missing until the source has been probed, a negative map when it has no usable sound.
        QString audioMap = QStringLiteral("0:a:0?");

        static Values For(const ConversionTask &task, const QString &outputDir,
                          const QDateTime &now);
        // Points $AUDIO_MAP at the sound the probe chose.
        void TakeSource(const SourceInfo &source);
    };

    // Whole seconds (truncated toward zero) as "%02d:%02d:%02d"; hours may take more digits.
    static QString Duration(double seconds);
    // Seconds with six decimals and a '.', whatever the locale, never more than the value:
    // "59.600000", "12.645966" for 12.6459666...
    static QString ExactSeconds(double seconds);

    // The template's text with every variable replaced: the command line for logs and display.
    static QString ExpandText(const QString &commandTemplate, const Values &values);
    // The arguments to start, program first. The template is split into arguments first
    // (blanks separate, double quotes group) and the values go into those arguments, so a
    // value never adds, ends or joins an argument, whatever characters it holds.
    static QStringList ExpandArguments(const QString &commandTemplate, const Values &values);
};
