// SPDX-License-Identifier: GPL-3.0-or-later
#include "subtitles/burninfilter.h"

#include <functional>

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\n' || c == u'\t' || c == u'\r';
}

QString Quoted(const QString &value, QStringView specials)
{
    const bool plain =
        !value.isEmpty() && !IsBlank(value.front()) && !IsBlank(value.back()) &&
        std::none_of(value.begin(), value.end(), [&](QChar c) { return specials.contains(c); });
    if (plain)
        return value;
    QString quoted = value;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

// One token as FFmpeg reads it (av_get_token): leading blanks skipped, '\' takes the next
// character, quotes keep everything up to the closing quote, trailing blanks outside quotes
// dropped; it ends before an unquoted character of `ends`. `pos` moves to that character.
QString ReadToken(QStringView s, qsizetype &pos, QStringView ends)
{
    while (pos < s.size() && IsBlank(s[pos]))
        ++pos;
    QString out;
    qsizetype kept = 0; // characters of `out` that trailing blanks may not take
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
    while (out.size() > kept && IsBlank(out.back()))
        out.chop(1);
    return out;
}

// Where a filter chain's filters begin and end: ',' and ';' outside quotes and escapes.
QList<std::pair<qsizetype, qsizetype>> Filters(QStringView chain)
{
    QList<std::pair<qsizetype, qsizetype>> spans;
    qsizetype start = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < chain.size(); ++i) {
        if (chain[i] == u'\\' && !quoted)
            ++i;
        else if (chain[i] == u'\'')
            quoted = !quoted;
        else if (!quoted && (chain[i] == u',' || chain[i] == u';'))
            spans.append({start, i}), start = i + 1;
    }
    spans.append({start, chain.size()});
    return spans;
}

bool IsKeyCharacter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'-' || c == u'_' || c == u'/' || c == u'.';
}

struct Option {
    QString key; // empty: given by position
    QString value;
};

// A filter's options as its option level reads them: "key=value" or a value by position.
QList<Option> Options(QStringView text)
{
    QList<Option> options;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype k = pos;
        while (k < text.size() && IsBlank(text[k]))
            ++k;
        const qsizetype keyStart = k;
        while (k < text.size() && IsKeyCharacter(text[k]))
            ++k;
        Option option;
        if (k > keyStart && k < text.size() && text[k] == u'=') {
            option.key = text.mid(keyStart, k - keyStart).toString();
            pos = k + 1;
        }
        option.value = ReadToken(text, pos, u":");
        options.append(option);
        if (pos < text.size())
            ++pos; // the ':'
    }
    return options;
}

// The pad filter of `segment` ("[in]pad=W:H:X:Y[out]") with its y replaced by `raise(y)`;
// empty when the segment is no pad filter or has no y.
QString RaisedPad(QStringView segment, const std::function<QString(const QString &)> &raise)
{
    qsizetype pos = 0;
    while (pos < segment.size() && IsBlank(segment[pos]))
        ++pos;
    while (pos < segment.size() && segment[pos] == u'[') { // input labels
        const qsizetype close = segment.indexOf(u']', pos);
        if (close < 0)
            return QString();
        pos = close + 1;
        while (pos < segment.size() && IsBlank(segment[pos]))
            ++pos;
    }
    const qsizetype nameStart = pos;
    const QString name = ReadToken(segment, pos, u"=,;[");
    if (name != u"pad" || pos >= segment.size() || segment[pos] != u'=')
        return QString();
    ++pos;
    const QString options = ReadToken(segment, pos, u"[],;");
    QList<Option> parsed = Options(options);
    int position = 0;
    bool found = false;
    for (Option &option : parsed) {
        if (option.key.isEmpty() ? position++ == 3 : option.key == u"y") {
            option.value = raise(option.value);
            found = true;
        }
        if (!option.key.isEmpty())
            position = 4; // no value is given by position after a named one
    }
    if (!found)
        return QString();
    QStringList written;
    for (const Option &option : std::as_const(parsed))
        written.append(option.key.isEmpty()
                           ? BurnInFilter::OptionValue(option.value)
                           : option.key + u'=' + BurnInFilter::OptionValue(option.value));
    return segment.left(nameStart).toString() + QStringLiteral("pad=") +
           BurnInFilter::GraphArgument(written.join(u':')) + segment.mid(pos).toString();
}

} // namespace

QString BurnInFilter::OptionValue(const QString &value)
{
    return Quoted(value, u"'\\:=");
}

QString BurnInFilter::GraphArgument(const QString &options)
{
    return Quoted(options, u"'\\[],;");
}

QString BurnInFilter::Script(const QString &scriptPath)
{
    return QStringLiteral("ass=") +
           GraphArgument(QStringLiteral("filename=") + OptionValue(scriptPath));
}

QString BurnInFilter::WithRoomBelow(const QString &chain, int bottomSpace)
{
    const auto raise = [bottomSpace](const QString &y) {
        return QStringLiteral("max(0,min(%1,oh-ih-%2))").arg(y).arg(bottomSpace);
    };
    for (const auto &[start, end] : Filters(chain)) {
        const QString pad = RaisedPad(QStringView(chain).mid(start, end - start), raise);
        if (!pad.isEmpty())
            return chain.left(start) + pad + chain.mid(end);
    }
    return chain;
}

QString BurnInFilter::TextChain(const QString &chain, const QString &scriptPath, int bottomSpace)
{
    const QString raised = WithRoomBelow(chain, bottomSpace);
    return raised.trimmed().isEmpty() ? Script(scriptPath) : raised + u',' + Script(scriptPath);
}

QString BurnInFilter::BitmapGraph(const QString &chain, int stream, const QString &output)
{
    // scale2ref stretches the subtitles' canvas to the picture when their sizes differ (a
    // Blu-ray's 1920x1080 pictures over a smaller video).
    QString graph = QStringLiteral("[0:s:%1][0:v:0]scale2ref=w=main_w:h=main_h[subtitles][video];"
                                   "[video][subtitles]overlay=eof_action=pass")
                        .arg(stream);
    if (!chain.trimmed().isEmpty())
        graph += u',' + chain;
    return graph + u'[' + output + u']';
}

bool BurnInFilter::BurnText(QStringList &arguments, const QString &scriptPath, int bottomSpace)
{
    const qsizetype vf = arguments.indexOf(QStringLiteral("-vf"));
    if (vf < 0 || vf + 1 >= arguments.size())
        return false;
    arguments[vf + 1] = TextChain(arguments.at(vf + 1), scriptPath, bottomSpace);
    return true;
}

bool BurnInFilter::BurnBitmap(QStringList &arguments, int stream)
{
    const qsizetype vf = arguments.indexOf(QStringLiteral("-vf"));
    qsizetype map = -1;
    for (qsizetype i = 0; i + 1 < arguments.size() && map < 0; ++i)
        if (arguments.at(i) == u"-map" &&
            (arguments.at(i + 1) == u"0:v:0" || arguments.at(i + 1) == u"0:v"))
            map = i + 1;
    if (vf < 0 || vf + 1 >= arguments.size() || map < 0)
        return false;
    const QString output = QStringLiteral("burned");
    arguments[vf] = QStringLiteral("-filter_complex");
    arguments[vf + 1] = BitmapGraph(arguments.at(vf + 1), stream, output);
    arguments[map] = u'[' + output + u']';
    return true;
}
