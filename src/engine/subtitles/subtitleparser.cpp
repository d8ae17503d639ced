// SPDX-License-Identifier: GPL-3.0-or-later
#include "subtitles/subtitleparser.h"

#include <QFileInfo>
#include <QStringList>

namespace {

bool IsDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

void SkipBlanks(QStringView s, qsizetype &pos)
{
    while (pos < s.size() && (s[pos] == u' ' || s[pos] == u'\t'))
        ++pos;
}

// Up to nine digits at `pos`; false when there are none.
bool ReadNumber(QStringView s, qsizetype &pos, double &value, int *digits = nullptr)
{
    const qsizetype start = pos;
    value = 0.0;
    while (pos < s.size() && IsDigit(s[pos]) && pos - start < 9)
        value = value * 10 + (s[pos++].unicode() - u'0');
    if (digits)
        *digits = int(pos - start);
    return pos > start;
}

// "[h:]mm:ss[,.fff]" (also "h:mm:ss:fff"): seconds, or false when `pos` holds no time.
bool ReadTime(QStringView s, qsizetype &pos, double &seconds)
{
    SkipBlanks(s, pos);
    double parts[3] = {0, 0, 0};
    int count = 0;
    while (count < 3 && ReadNumber(s, pos, parts[count])) {
        ++count;
        if (count == 3 || pos >= s.size() || s[pos] != u':' || pos + 1 >= s.size() ||
            !IsDigit(s[pos + 1]))
            break;
        ++pos;
    }
    if (count < 2)
        return false;
    seconds = count == 3 ? parts[0] * 3600 + parts[1] * 60 + parts[2] : parts[0] * 60 + parts[1];
    if (pos + 1 < s.size() && (s[pos] == u',' || s[pos] == u'.' || s[pos] == u':') &&
        IsDigit(s[pos + 1])) {
        ++pos;
        double fraction = 0;
        int digits = 0;
        ReadNumber(s, pos, fraction, &digits);
        double scale = 1;
        for (int i = 0; i < digits; ++i)
            scale *= 10;
        seconds += fraction / scale;
        while (pos < s.size() && IsDigit(s[pos]))
            ++pos; // digits past the ninth add nothing
    }
    return true;
}

// A field that holds a time and nothing else.
bool ReadWholeTime(QStringView field, double &seconds)
{
    qsizetype pos = 0;
    if (!ReadTime(field, pos, seconds))
        return false;
    SkipBlanks(field, pos);
    return pos == field.size();
}

// "start --> end [settings]": the two times, or false when the line is no timing line.
bool ReadTiming(QStringView line, double &start, double &end)
{
    qsizetype pos = 0;
    if (!ReadTime(line, pos, start))
        return false;
    SkipBlanks(line, pos);
    const qsizetype dashes = pos;
    while (pos < line.size() && line[pos] == u'-')
        ++pos;
    if (pos == dashes || pos >= line.size() || line[pos] != u'>')
        return false;
    ++pos;
    return ReadTime(line, pos, end);
}

bool IsNumberLine(QStringView line)
{
    const QStringView t = line.trimmed();
    return !t.isEmpty() && std::all_of(t.begin(), t.end(), IsDigit);
}

const struct {
    const char16_t *name;
    char16_t text;
} entities[] = {{u"amp", u'&'},   {u"lt", u'<'},      {u"gt", u'>'},       {u"quot", u'"'},
                {u"apos", u'\''}, {u"nbsp", u'\xa0'}, {u"lrm", u'\x200e'}, {u"rlm", u'\x200f'}};

// An HTML entity at `pos` ("&amp;", "&#233;", "&#xE9;"): appends it and moves past it.
bool ReadEntity(QStringView s, qsizetype &pos, QString &out)
{
    const qsizetype semicolon = s.mid(pos, 12).indexOf(u';') + pos;
    if (semicolon < pos)
        return false;
    const QStringView name = s.mid(pos + 1, semicolon - pos - 1);
    if (name.startsWith(u'#')) {
        bool ok = false;
        const uint code = name.startsWith(u"#x", Qt::CaseInsensitive) ? name.mid(2).toUInt(&ok, 16)
                                                                      : name.mid(1).toUInt(&ok);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
            return false;
        out += QString::fromUcs4(reinterpret_cast<const char32_t *>(&code), 1);
    } else {
        const auto *known =
            std::find_if(std::begin(entities), std::end(entities),
                         [&](const auto &e) { return name == QStringView(e.name); });
        if (known == std::end(entities))
            return false;
        out += QChar(known->text);
    }
    pos = semicolon + 1;
    return true;
}

// Raw cue text past this many characters is not looked at: the cue keeps fewer anyway, and
// markup is searched for within this bound only.
constexpr qsizetype rawLimit = 8 * SubtitleParser::maxCueLength;

// SubRip and WebVTT cue text without its markup: <i>, <font ...>, <c.x>, <v Name>,
// <00:01.000>, ruby readings, {\an8} and entities.
QString CleanCueText(QStringView s)
{
    s = s.left(rawLimit);
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size();) {
        const QChar c = s[i];
        if (c == u'<') {
            const qsizetype close = s.mid(i, 200).indexOf(u'>') + i;
            const QChar next = i + 1 < s.size() ? s[i + 1] : QChar();
            if (close > i && (next.isLetter() || next == u'/' || IsDigit(next))) {
                if (s.mid(i, close - i + 1).startsWith(u"<rt", Qt::CaseInsensitive)) {
                    const qsizetype end = s.indexOf(u"</rt>", close, Qt::CaseInsensitive);
                    i = end < 0 ? close + 1 : end + 5;
                } else {
                    i = close + 1;
                }
                continue;
            }
        } else if (c == u'{' && i + 1 < s.size() && s[i + 1] == u'\\') {
            const qsizetype close = s.indexOf(u'}', i);
            if (close > i) {
                i = close + 1;
                continue;
            }
        } else if (c == u'&' && ReadEntity(s, i, out)) {
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

// ASS dialogue text without override blocks and drawings; \N breaks the line, \n is a space
// (it breaks only in a wrapping style we never use), \h a space that does not break.
QString CleanAssText(QStringView s)
{
    s = s.left(rawLimit);
    QString out;
    out.reserve(s.size());
    bool drawing = false;
    for (qsizetype i = 0; i < s.size();) {
        const QChar c = s[i];
        if (c == u'{') {
            const qsizetype close = s.indexOf(u'}', i);
            if (close > i) {
                const QStringView block = s.mid(i, close - i);
                for (qsizetype p = block.indexOf(u"\\p"); p >= 0; p = block.indexOf(u"\\p", p + 2))
                    if (p + 2 < block.size() && IsDigit(block[p + 2]))
                        drawing = block[p + 2] != u'0';
                i = close + 1;
                continue;
            }
        } else if (c == u'\\' && i + 1 < s.size() &&
                   (s[i + 1] == u'N' || s[i + 1] == u'n' || s[i + 1] == u'h')) {
            if (!drawing)
                out += s[i + 1] == u'N' ? u'\n' : s[i + 1] == u'n' ? u' ' : u'\xa0';
            i += 2;
            continue;
        }
        if (!drawing)
            out += c;
        ++i;
    }
    return out;
}

// Lines trimmed, runs of blanks inside them single, empty lines gone, the whole cut to the
// limit. A space that does not break (\h, &nbsp;) stays as it is.
QString Tidy(const QString &text)
{
    QStringList lines;
    for (const QString &line : text.split(u'\n')) {
        QString simple;
        bool blank = false;
        for (const QChar c : line) {
            // Control characters would reach the script as they are: they count as blanks.
            const bool isBlank =
                c == u' ' || c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0);
            if (isBlank && !simple.isEmpty() && !blank)
                simple += u' ';
            else if (!isBlank)
                simple += c;
            blank = isBlank;
        }
        if (simple.endsWith(u' '))
            simple.chop(1);
        if (!simple.isEmpty())
            lines.append(simple);
    }
    QString tidy = lines.join(u'\n');
    if (tidy.size() > SubtitleParser::maxCueLength) {
        qsizetype cut = SubtitleParser::maxCueLength;
        if (tidy.at(cut - 1).isHighSurrogate())
            --cut;
        tidy = tidy.left(cut) + QChar(0x2026);
    }
    return tidy;
}

void Add(SubtitleTrack &track, double start, double end, const QString &text)
{
    if (text.isEmpty())
        return; // an empty cue shows nothing: nothing is lost
    if (!(end > start) || start < 0) {
        ++track.skipped;
        return;
    }
    track.cues.append({start, end, text});
}

SubtitleTrack ParseCueText(const QStringList &lines)
{
    SubtitleTrack track;
    const qsizetype n = lines.size();
    for (qsizetype i = 0; i < n;) {
        double start = 0, end = 0;
        if (!lines.at(i).contains(u'>') || !ReadTiming(lines.at(i), start, end)) {
            ++i; // a number, a header, a note, or text without a time
            continue;
        }
        QStringList text;
        qsizetype j = i + 1;
        for (; j < n && !lines.at(j).trimmed().isEmpty(); ++j) {
            double s = 0, e = 0;
            if (lines.at(j).contains(u'>') && ReadTiming(lines.at(j), s, e))
                break; // the next cue, with no blank line before it
            if (IsNumberLine(lines.at(j)) && j + 1 < n && ReadTiming(lines.at(j + 1), s, e))
                break; // its number
            text.append(lines.at(j));
        }
        Add(track, start, end, Tidy(CleanCueText(text.join(u'\n'))));
        i = j;
    }
    return track;
}

SubtitleTrack ParseAss(const QStringList &lines)
{
    SubtitleTrack track;
    // The fields of a dialogue line, as its section's Format line names them.
    QStringList fields{"layer",   "start",   "end",     "style",  "name",
                       "marginl", "marginr", "marginv", "effect", "text"};
    for (const QString &raw : lines) {
        const QStringView line = QStringView(raw).trimmed();
        if (line.startsWith(u"Format:", Qt::CaseInsensitive)) {
            QStringList named;
            for (const QString &f : line.mid(7).toString().split(u','))
                named.append(f.trimmed().toLower());
            if (named.contains(u"start") && named.contains(u"end") && named.last() == u"text")
                fields = named;
            continue;
        }
        if (!line.startsWith(u"Dialogue:", Qt::CaseInsensitive))
            continue;
        QStringView rest = line.mid(9);
        QList<QStringView> values;
        for (qsizetype k = 0; k + 1 < fields.size(); ++k) {
            const qsizetype comma = rest.indexOf(u',');
            if (comma < 0)
                break;
            values.append(rest.left(comma));
            rest = rest.mid(comma + 1);
        }
        values.append(rest);
        double start = 0, end = 0;
        if (values.size() != fields.size() ||
            !ReadWholeTime(values.at(fields.indexOf(u"start")), start) ||
            !ReadWholeTime(values.at(fields.indexOf(u"end")), end)) {
            ++track.skipped;
            continue;
        }
        Add(track, start, end, Tidy(CleanAssText(values.last())));
    }
    return track;
}

SubtitleParser::Format Sniff(const QString &text)
{
    const QStringView head = QStringView(text).left(4096);
    if (head.trimmed().startsWith(u"WEBVTT"))
        return SubtitleParser::WebVtt;
    if (head.contains(u"[Script Info]", Qt::CaseInsensitive) ||
        head.contains(u"[Events]", Qt::CaseInsensitive) ||
        head.contains(u"\nDialogue:", Qt::CaseInsensitive))
        return SubtitleParser::Ass;
    return SubtitleParser::SubRip;
}

} // namespace

SubtitleParser::Format SubtitleParser::FormatOfName(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"srt")
        return SubRip;
    if (suffix == u"vtt")
        return WebVtt;
    if (suffix == u"ass" || suffix == u"ssa")
        return Ass;
    return Guess;
}

SubtitleTrack SubtitleParser::Parse(const QString &text, Format format)
{
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (normal.startsWith(QChar(0xFEFF)))
        normal.remove(0, 1);
    const QStringList lines = normal.split(u'\n');
    if (format == Guess)
        format = Sniff(normal);
    SubtitleTrack track = format == Ass ? ParseAss(lines) : ParseCueText(lines);
    if (track.cues.isEmpty()) {
        SubtitleTrack other = format == Ass ? ParseCueText(lines) : ParseAss(lines);
        if (!other.cues.isEmpty())
            track = other;
    }
    track.Sort();
    return track;
}
