// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

// The text of a subtitle file, whatever it was written in. Unicode files are known by their
// byte order mark or by being valid UTF-8; a file in a single-byte legacy encoding
// (Windows-1250 to 1257, ISO-8859-x, KOI8) is read in each candidate encoding and the one
// whose letters look most like a language written in it wins. The user's locale breaks ties
// and adds its own legacy encoding (Shift_JIS, GB18030, Big5, EUC-KR) to the candidates.
class SubtitleDecoder
{
public:
    struct Result {
        QString text;
        QByteArray encoding; // the name it was read as: "UTF-8", "windows-1251"
    };

    static Result Decode(const QByteArray &bytes, const QLocale &locale = QLocale::system());
    // The legacy encoding a user of this locale most likely has files in: "windows-1252"
    // for most of Western Europe and the Americas.
    static QByteArray LegacyEncodingOf(const QLocale &locale);
};
