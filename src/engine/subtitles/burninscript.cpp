// SPDX-License-Identifier: GPL-3.0-or-later
#include "subtitles/burninscript.h"

#include <QTextStream>

#include <cmath>
#include <map>
#include <queue>

namespace {

// The cues showing over each stretch of time in which none starts or ends, joined (at most
// three: the latest), stretches that show the same text run together.
struct Stretch {
    double start, end;
    QString text;
};

std::vector<Stretch> Stretches(const QList<SubtitleCue> &sorted)
{
    std::vector<double> times;
    for (const SubtitleCue &cue : sorted)
        times.push_back(cue.start), times.push_back(cue.end);
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());

    // Showing cues by start (then file order); ended ones leave through the queue by end.
    std::multimap<std::pair<double, qsizetype>, qsizetype> showing;
    using Ending = std::pair<double, std::pair<double, qsizetype>>;
    std::priority_queue<Ending, std::vector<Ending>, std::greater<>> endings;
    std::vector<Stretch> stretches;
    qsizetype next = 0;
    for (size_t t = 0; t + 1 < times.size(); ++t) {
        const double from = times[t], to = times[t + 1];
        for (; next < sorted.size() && sorted.at(next).start <= from; ++next) {
            const std::pair<double, qsizetype> key{sorted.at(next).start, next};
            showing.emplace(key, next);
            endings.push({sorted.at(next).end, key});
        }
        while (!endings.empty() && endings.top().first <= from) {
            showing.erase(endings.top().second);
            endings.pop();
        }
        QStringList texts;
        for (auto it = showing.rbegin(); it != showing.rend() && texts.size() < 3; ++it)
            if (!texts.contains(sorted.at(it->second).text))
                texts.prepend(sorted.at(it->second).text);
        const QString text = texts.join(u'\n');
        if (text.isEmpty())
            continue;
        if (!stretches.empty() && stretches.back().end == from && stretches.back().text == text)
            stretches.back().end = to;
        else
            stretches.push_back({from, to, text});
    }
    return stretches;
}

} // namespace

QList<BurnInScript::Event> BurnInScript::Events(const SubtitleTrack &track,
                                                const BurnInStyle &style)
{
    SubtitleTrack sorted = track;
    sorted.Sort();
    QList<Event> events;
    for (const Stretch &stretch : Stretches(sorted.cues)) {
        const QStringList lines = style.Wrap(stretch.text);
        // Pages of two lines, each shown for its share of the characters.
        qsizetype total = 0;
        for (const QString &line : lines)
            total += line.size();
        double start = stretch.start;
        qsizetype done = 0;
        for (qsizetype first = 0; first < lines.size(); first += BurnInStyle::maxLines) {
            const QStringList page = lines.mid(first, BurnInStyle::maxLines);
            for (const QString &line : page)
                done += line.size();
            const bool last = first + BurnInStyle::maxLines >= lines.size();
            const double end =
                last ? stretch.end
                     : stretch.start + (stretch.end - stretch.start) * double(done) / total;
            events.append({start, end, page});
            start = end;
        }
    }
    return events;
}

QString BurnInScript::Escaped(const QString &line)
{
    QString out;
    out.reserve(line.size() + 8);
    for (const QChar c : line) {
        if (c == u'\\')
            out += QStringLiteral("\\\u2060"); // a word joiner: "\N" in the text stays "\N"
        else if (c == u'{' || c == u'}')
            out += u'\\', out += c;
        else
            out += c;
    }
    return out;
}

QString BurnInScript::Time(double seconds)
{
    const long long cs = std::max(0LL, std::llround(seconds * 100));
    return QStringLiteral("%1:%2:%3.%4")
        .arg(cs / 360000)
        .arg(cs / 6000 % 60, 2, 10, QLatin1Char('0'))
        .arg(cs / 100 % 60, 2, 10, QLatin1Char('0'))
        .arg(cs % 100, 2, 10, QLatin1Char('0'));
}

QByteArray BurnInScript::Write(const SubtitleTrack &track, const BurnInStyle &style)
{
    QString script;
    QTextStream out(&script);
    // Colours are &HAABBGGRR: white text, a black outline. Encoding -1 lets the renderer
    // find each line's direction, so right-to-left text reads right to left.
    out << "[Script Info]\n"
        << "; Burned into the picture by Kestrani\n"
        << "ScriptType: v4.00+\n"
        << "PlayResX: " << style.frame.width() << "\n"
        << "PlayResY: " << style.frame.height() << "\n"
        << "WrapStyle: 2\n"
        << "ScaledBorderAndShadow: yes\n\n"
        << "[V4+ Styles]\n"
        << "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
           "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
           "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
        << "Style: Default," << BurnInStyle::fontName << ',' << style.fontSize
        << ",&H00FFFFFF,&H00FFFFFF,&H00000000,&H00000000,-1,0,0,0," << style.scaleX << ",100,0,0,1,"
        << style.outline << ",0,2," << style.sideMargin << ',' << style.sideMargin << ','
        << style.bottomMargin << ",-1\n\n"
        << "[Events]\n"
        << "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    for (const Event &event : Events(track, style)) {
        const QString start = Time(event.start), end = Time(event.end);
        if (start == end)
            continue; // shorter than the script can say
        QStringList lines;
        for (const QString &line : event.lines)
            lines.append(Escaped(line));
        out << "Dialogue: 0," << start << ',' << end << ",Default,,0,0,0,," << lines.join("\\N")
            << '\n';
    }
    out.flush();
    return script.toUtf8();
}
