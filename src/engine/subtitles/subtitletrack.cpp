// SPDX-License-Identifier: GPL-3.0-or-later
#include "subtitles/subtitletrack.h"

#include <algorithm>

void SubtitleTrack::Sort()
{
    std::stable_sort(cues.begin(), cues.end(),
                     [](const SubtitleCue &a, const SubtitleCue &b) { return a.start < b.start; });
}

SubtitleTrack SubtitleTrack::Trimmed(double begin, double length) const
{
    SubtitleTrack trimmed;
    trimmed.skipped = skipped;
    for (const SubtitleCue &cue : cues) {
        const double start = std::max(cue.start - begin, 0.0);
        const double end = std::min(cue.end - begin, length);
        if (end > start)
            trimmed.cues.append({start, end, cue.text});
    }
    return trimmed;
}
