// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

// How burned-in subtitles look in one output size: a bold sans-serif face sized so that a
// line holds about 26 characters at 176 pixels wide (22 at 128), light text with a dark
// outline, at most two lines at the bottom within side margins. Widths are estimated from
// the face's own advances, so lines are broken here and never by the renderer.
class BurnInStyle
{
public:
    // `frame` is the output's stored size; `pixelAspect` the width of a stored pixel over its
    // height as players show it (12/11 for H.263 at 128x96 and 176x144, else 1).
    static BurnInStyle For(QSize frame, double pixelAspect = 1.0);

    static constexpr const char *fontName = "DejaVu Sans"; // fonts-dejavu-core
    static constexpr int maxLines = 2;

    QSize frame;
    int fontSize = 0;     // the renderer's font size, in pixels of the frame
    double outline = 0;   // outline width in pixels
    int sideMargin = 0;   // pixels kept clear left and right
    int bottomMargin = 0; // pixels between the last line and the frame's bottom edge
    int scaleX = 100;     // percent: narrower glyphs on wide pixels keep their shape on show

    // Pixels of the frame that `text` (one line) takes.
    double Width(QStringView text) const;
    // The room for one line, in pixels of the frame.
    double LineWidth() const { return frame.width() - 2.0 * sideMargin; }
    // Pixels from the frame's bottom edge up to the top of two lines: the bar the picture
    // leaves free when there is room.
    int BlockHeight() const;
    // `text` broken into lines that fit, words kept whole where they fit on a line; every
    // two lines that show together are balanced in width. Line breaks in `text` are kept
    // where its lines fit as they are, and before a dialogue dash.
    QStringList Wrap(const QString &text) const;
};
