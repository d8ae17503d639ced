// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The files a task writes into the output folder, named from its output base name.
enum class TaskFile {
    FirstTemporary,  // "<base>_temp.3gp" ("<base>_temp.3g2" for 3G2): pass 1 writes it
    SecondTemporary, // "<base>_temp_2.3g2": passes 2 and 3 of the 3G2 type
    Output,          // the finished file
    SoundCopy,       // "<base>_sound.amr": a source's AMR sound copied out, when it must be
    SourceCopy,      // "<base>_source.mkv": the source with that sound muxed back, for pass 1
    Scratch,         // "<base><suffix>": a file a batch option's steps need (TaskFiles names it)
};

// What an output type (the selection of the output-type box) decides: everything else asks
// here rather than knowing these facts itself.
class OutputType
{
public:
    static constexpr int count = 3;
    // nullptr for anything but 0, 1 and 2.
    static const OutputType *Find(int index);

    int Index() const { return index; }
    QString ProfileFile() const { return QString::fromLatin1(profileFile); }
    int PassCount() const { return passCount; }
    QString Extension() const { return QString::fromLatin1(extension); } // with its dot
    QString ItemText() const { return QString::fromLatin1(itemText); }
    // ftyp brands a finished file may carry (major or compatible).
    QStringList Brands() const;

    // The state a pass sets just before its tool starts; -1 when the state stays.
    int StateBeforePass(int pass) const;
    // The files of a task of this type, in the order they come into being.
    QList<TaskFile> Files() const;
    QString FileName(TaskFile file, const QString &baseName) const;
    // The files a pass writes or replaces (so what it leaves there is the task's own); pass 0
    // is what runs before pass 1 to prepare the source.
    // A pass after the last (StepPass) is a step of a batch option's own, which writes only
    // its scratch files.
    QList<TaskFile> WrittenBy(int pass) const;
    int StepPass() const { return passCount + 1; }
    // The intermediate a finished pass leaves behind for nobody: deleted after it.
    QList<TaskFile> DeletedAfter(int pass) const;
    // The longest name a tool may give a scratch file beside a task's files is the base name
    // plus at most this many bytes ("<base>_temp_2-temp-1234567.3g2", ".<base>.3gp.Ab12Cd").
    static constexpr int scratchSuffixBytes = 26;

    int index;
    const char *profileFile;
    int passCount;
    const char *extension;
    const char *itemText;
};
