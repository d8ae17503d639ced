// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A subtitle stream inside a source, as the source probe sees it.
struct SubtitleStream {
    enum Kind {
        Text,   // a decoder gives text: SubRip, ASS/SSA, mov_text, WebVTT ...
        Bitmap, // a decoder gives pictures FFmpeg can overlay: DVD, Blu-ray, DVB, XSUB
        Other,  // nothing FFmpeg can draw (teletext pages, a codec it cannot decode)
    };
    int index = 0; // N of "0:s:N"
    QString codec; // FFmpeg's codec name: "subrip", "hdmv_pgs_subtitle"
    Kind kind = Other;
    QString language; // "eng", empty when the source does not say
};
