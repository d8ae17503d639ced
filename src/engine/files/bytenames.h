// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// File names as the file system holds them: bytes, which need not be UTF-8 (a Latin-1 "café"
// from an old disk or archive). Qt decodes names as UTF-8 and loses the other bytes, so such a
// path cannot be opened through QFile, QFileInfo or a QProcess argument. Rather than replace
// Qt's file layer, the program gives every part of itself and every tool an alias: a symbolic
// link with a UTF-8 name, in a private folder of this program, that points at the bytes.
namespace bytenames {

// Every byte kept in a QString: valid UTF-8 decoded, each other byte as the lone surrogate
// U+DC80 + (byte - 0x80), which no valid text holds. Encode gives the bytes back exactly.
QString Decode(QByteArrayView bytes);
QByteArray Encode(QStringView text);
bool IsUtf8(QByteArrayView bytes);
// For showing, and for the output names made from it: the bytes that are not UTF-8 read as
// Windows-1252, the code page such names mostly come from ("caf\xe9" reads "café").
QString Readable(QByteArrayView bytes);

// A path everything can use for the file-system path `bytes` (absolute, or relative to the
// current folder, which may itself not be UTF-8): the cleaned absolute path when it is UTF-8,
// else an alias of this program's, made once per path and kept for the program's life. The
// alias is made whether or not its target exists, so that "does not exist" can be said.
QString PathFor(const QByteArray &bytes);
// The same for an argument that Decode made (the command line's, kept byte for byte).
QString PathFor(const QString &decoded);
// The same for a dropped or chosen file's URL, from its percent-encoded bytes (toLocalFile
// loses what is not UTF-8); empty for a URL that is not a local file.
QString PathForUrl(const QUrl &url);
// Text with every alias path in it replaced by the readable form of the path it stands for.
QString Shown(const QString &text);

// Where the aliases go: a folder of this program's is made in it (the journal folder, so
// that recovery can still reach a killed batch's files through them). Until it is set, the
// system's temporary folder.
void SetAliasFolder(const QString &folder);
// Removes the alias folders in `folder` that programs now gone on this machine left, unless
// a journal of theirs is still there (its recovery needs them).
void RemoveStaleAliases(const QString &folder);

} // namespace bytenames
