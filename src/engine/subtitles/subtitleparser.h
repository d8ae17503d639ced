// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "subtitles/subtitletrack.h"

#include <QString>

// Reads the cues of SubRip, WebVTT and ASS/SSA text, forgiving what real files get wrong:
// numbers missing or out of order, no blank line between cues, CR or CRLF line ends, cues
// out of order or overlapping, hours left out, a comma or a dot before the milliseconds.
// What cannot be read is skipped. Markup goes (tags, override blocks, drawings); the text
// keeps its line breaks. Linear in the length of the text, whatever it holds.
class SubtitleParser
{
public:
    enum Format { Guess, SubRip, WebVtt, Ass };

    // The format a file name's extension names (.srt, .vtt, .ass, .ssa); Guess for others.
    static Format FormatOfName(const QString &fileName);
    // The cues of `text`, sorted by start. The format named is tried first; when it finds
    // nothing the text is tried as the others (a SubRip file saved as .ass is still read).
    static SubtitleTrack Parse(const QString &text, Format format = Guess);

    // The longest text a cue keeps, in characters: more could not be read on a phone anyway.
    static constexpr int maxCueLength = 600;
};
