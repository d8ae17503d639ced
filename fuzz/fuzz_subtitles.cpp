// SPDX-License-Identifier: GPL-3.0-or-later
// Subtitle files of any content, and file names of any content in a filter graph. A file gives
// cues with finite, ordered times and bounded text, or a reason; the burn-in script's events
// never overlap, never hold more than two lines, and every line fits the picture; a script's
// name, read back the way FFmpeg reads a graph, is the whole filter's option and nothing else.
#include "fuzzcheck.h"
#include "subtitles/burninfilter.h"
#include "subtitles/burninscript.h"
#include "subtitles/subtitlefile.h"
#include "subtitles/subtitleparser.h"

#include <cmath>
#include <cstdint>

namespace {

// FFmpeg's av_get_token: blanks skipped before, '\' takes the next character, '...' keeps
// what it quotes, trailing blanks outside quotes dropped; it stops before a character of
// `ends` that is neither quoted nor escaped.
QString Token(QStringView s, qsizetype &pos, QStringView ends)
{
    const QStringView blanks(u" \n\t\r");
    while (pos < s.size() && blanks.contains(s[pos]))
        ++pos;
    QString out;
    qsizetype kept = 0;
    while (pos < s.size() && !ends.contains(s[pos])) {
        const QChar c = s[pos++];
        if (c == u'\\' && pos < s.size()) {
            out += s[pos++];
            kept = out.size();
        } else if (c == u'\'') {
            while (pos < s.size() && s[pos] != u'\'')
                out += s[pos++];
            if (pos < s.size())
                ++pos, kept = out.size();
        } else {
            out += c;
        }
    }
    while (out.size() > kept && blanks.contains(out.back()))
        out.chop(1);
    return out;
}

void CheckScriptFilter(const QString &path)
{
    const QString filter = BurnInFilter::Script(path);
    qsizetype pos = 0;
    FUZZ_CHECK(Token(filter, pos, u"=,;[") == u"ass" && pos < filter.size() && filter[pos] == u'=');
    ++pos;
    const QString options = Token(filter, pos, u"[],;");
    FUZZ_CHECK(pos == filter.size()); // nothing left over to start another filter or a label
    qsizetype at = 0;
    FUZZ_CHECK(Token(options, at, u"=:") == u"filename" && at < options.size() &&
               options[at] == u'=');
    ++at;
    FUZZ_CHECK(Token(options, at, u":") == path && at == options.size());
}

void CheckTrack(const SubtitleTrack &track)
{
    for (const SubtitleCue &cue : track.cues) {
        FUZZ_CHECK(std::isfinite(cue.start) && std::isfinite(cue.end));
        FUZZ_CHECK(cue.start >= 0 && cue.start < cue.end);
        FUZZ_CHECK(!cue.text.isEmpty() && cue.text.size() <= SubtitleParser::maxCueLength + 1);
    }
    for (qsizetype i = 1; i < track.cues.size(); ++i)
        FUZZ_CHECK(track.cues[i - 1].start <= track.cues[i].start);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const char *names[] = {"a.srt", "a.ass", "a.vtt", "a.txt"};
    const QSize sizes[] = {{176, 144}, {128, 96}, {320, 240}, {640, 480}};
    const uint8_t selector = data[0];
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);

    const SubtitleFile::Result result = SubtitleFile::FromBytes(bytes, names[selector & 3]);
    FUZZ_CHECK(result.track.cues.isEmpty() != result.problem.isEmpty());
    CheckTrack(result.track);

    const double begin = (selector >> 4) * 1.5, length = 1 + ((selector >> 2) & 3) * 20.0;
    const SubtitleTrack trimmed = result.track.Trimmed(begin, length);
    CheckTrack(trimmed);
    for (const SubtitleCue &cue : trimmed.cues)
        FUZZ_CHECK(cue.end <= length);

    const BurnInStyle style =
        BurnInStyle::For(sizes[(selector >> 2) & 3], selector & 0x40 ? 12.0 / 11 : 1);
    const QList<BurnInScript::Event> events = BurnInScript::Events(trimmed, style);
    for (qsizetype i = 0; i < events.size(); ++i) {
        const BurnInScript::Event &e = events[i];
        FUZZ_CHECK(e.start < e.end && (i == 0 || events[i - 1].end <= e.start + 1e-9));
        FUZZ_CHECK(!e.lines.isEmpty() && e.lines.size() <= BurnInStyle::maxLines);
        for (const QString &line : e.lines) {
            FUZZ_CHECK(style.Width(line) <= style.LineWidth() + 1e-6);
            const QString escaped = BurnInScript::Escaped(line);
            for (qsizetype k = 0; k < escaped.size(); ++k) {
                if (escaped[k] == u'\\') { // only as an escape the renderer reads literally
                    FUZZ_CHECK(k + 1 < escaped.size() &&
                               (escaped[k + 1] == u'{' || escaped[k + 1] == u'}' ||
                                escaped[k + 1] == QChar(0x2060)));
                    ++k;
                } else {
                    FUZZ_CHECK(escaped[k] != u'{' && escaped[k] != u'}');
                }
            }
        }
    }
    const QByteArray script = BurnInScript::Write(trimmed, style);
    FUZZ_CHECK(QString::fromUtf8(script).toUtf8() == script);

    CheckScriptFilter(QString::fromUtf8(bytes.left(300)));
    return 0;
}
