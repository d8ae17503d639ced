// SPDX-License-Identifier: GPL-3.0-or-later
#include "subtitles/burninstyle.h"

#include <algorithm>
#include <cmath>

namespace {

// Advances of DejaVu Sans Bold for ' ' to '~', in thousandths of its em.
const short asciiAdvance[95] = {
    348,  456, 521, 838, 696, 1002, 872, 306,  457, 457, 523, 838, 380, 415,  380, 365,
    696,  696, 696, 696, 696, 696,  696, 696,  696, 696, 400, 400, 838, 838,  838, 580,
    1000, 774, 762, 734, 830, 683,  683, 821,  837, 372, 372, 775, 637, 995,  837, 850,
    733,  850, 770, 720, 682, 812,  774, 1103, 771, 724, 725, 457, 365, 457,  838, 500,
    500,  675, 716, 593, 716, 678,  435, 716,  712, 343, 343, 665, 343, 1042, 712, 687,
    716,  716, 493, 595, 478, 712,  652, 924,  645, 652, 582, 712, 365, 712,  838};

// The renderer sizes a face by its ascent plus descent: DejaVu Sans's em is this share of the
// font size (measured: 106 characters of English at size 14 span 733 pixels).
constexpr double emPerFontSize = 0.817;

bool IsWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// Thousandths of an em. Other scripts than ASCII by their face's averages, on the wide side:
// a line estimated too long breaks early, one estimated too short would run off the picture.
int Advance(char32_t c)
{
    if (c >= 0x20 && c < 0x7F)
        return asciiAdvance[c - 0x20];
    if (c < 0x20 || (c >= 0x200B && c <= 0x200F) || (c >= 0x2060 && c <= 0x2064) || c == 0xFEFF)
        return 0;
    const QChar::Category category = QChar::category(c);
    if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing)
        return 0;
    if (IsWide(c))
        return 1080; // the fallback CJK face, measured at the same font size
    if (c >= 0x0590 && c <= 0x05FF)
        return 640; // Hebrew
    if ((c >= 0x0600 && c <= 0x077F) || (c >= 0xFB50 && c <= 0xFEFF))
        return 760; // Arabic, joined forms narrower than alone
    if (c >= 0x0400 && c <= 0x04FF)
        return 800; // Cyrillic
    if (c >= 0x0370 && c <= 0x03FF)
        return 730; // Greek
    if (c >= 0x00A0 && c <= 0x024F)
        return 720; // Latin with accents
    return 800;
}

bool IsDialogueDash(const QString &line)
{
    return line.startsWith(u'-') || line.startsWith(QChar(0x2013)) ||
           line.startsWith(QChar(0x2014));
}

struct Token {
    QString text;
    bool spaceBefore = false;
    double width = 0;
};

} // namespace

BurnInStyle BurnInStyle::For(QSize frame, double pixelAspect)
{
    BurnInStyle style;
    style.frame = frame;
    const double aspect = pixelAspect > 0.25 && pixelAspect < 4 ? pixelAspect : 1.0;
    const double shownWidth = frame.width() * aspect;
    // Characters a line holds: enough for a short sentence, few enough to read on a phone.
    const int characters = shownWidth < 160   ? 22
                           : shownWidth < 260 ? 26
                           : shownWidth < 480 ? 30
                                              : 36;
    style.sideMargin = std::max(2, int(std::lround(frame.width() * 0.025)));
    style.bottomMargin = std::max(2, int(std::lround(frame.height() * 0.02)));
    // An English line averages 0.604 em per character in this face.
    const double perCharacter = 0.604 * emPerFontSize;
    style.fontSize = std::max(
        8, int((frame.width() - 2 * style.sideMargin) * aspect / (perCharacter * characters)));
    style.outline = std::round(std::max(1.0, style.fontSize / 6.0) * 10) / 10;
    style.scaleX = int(std::lround(100 / aspect));
    return style;
}

double BurnInStyle::Width(QStringView text) const
{
    double thousandths = 0;
    for (char32_t c : text.toUcs4())
        thousandths += Advance(c);
    return thousandths / 1000 * fontSize * emPerFontSize * scaleX / 100 + 2 * outline;
}

int BurnInStyle::BlockHeight() const
{
    return bottomMargin + maxLines * fontSize + int(std::ceil(2 * outline)) + 1;
}

QStringList BurnInStyle::Wrap(const QString &text) const
{
    const QStringList given = text.split(u'\n', Qt::SkipEmptyParts);
    const double room = LineWidth();
    if (given.size() <= maxLines &&
        std::all_of(given.begin(), given.end(), [&](const QString &l) { return Width(l) <= room; }))
        return given;

    // Paragraphs: a dialogue dash starts one; other breaks in the text are only its author's
    // line length, which is not ours.
    QStringList paragraphs;
    for (const QString &line : given) {
        if (paragraphs.isEmpty() || IsDialogueDash(line))
            paragraphs.append(line);
        else
            paragraphs.last() += u' ' + line;
    }
    const double space = Width(u" ") - 2 * outline;
    QStringList lines;
    for (const QString &paragraph : std::as_const(paragraphs)) {
        // Words, and each wide (CJK) character on its own, with what follows it up to the
        // next break: lines may break between them.
        std::vector<Token> tokens;
        bool spaceBefore = false;
        const QList<uint> ucs4 = paragraph.toUcs4();
        for (uint c : ucs4) {
            if (QChar::isSpace(c) && c != 0xA0) {
                spaceBefore = true;
                continue;
            }
            if (tokens.empty() || spaceBefore || IsWide(c))
                tokens.push_back({QString(), spaceBefore && !tokens.empty(), 0});
            tokens.back().text += QString::fromUcs4(reinterpret_cast<const char32_t *>(&c), 1);
            spaceBefore = false;
        }
        // A word longer than a line is cut where the line ends.
        const double scale = fontSize * emPerFontSize * scaleX / 100000.0;
        std::vector<Token> fitted;
        for (const Token &token : tokens) {
            Token piece{QString(), token.spaceBefore, 0};
            for (char32_t c : token.text.toUcs4()) {
                const double w = Advance(c) * scale;
                if (!piece.text.isEmpty() && piece.width + w > room - 2 * outline) {
                    fitted.push_back(piece);
                    piece = Token{QString(), false, 0};
                }
                piece.text += QString::fromUcs4(&c, 1);
                piece.width += w;
            }
            fitted.push_back(piece);
        }
        const auto widthOf = [&](size_t from, size_t to) {
            double w = 2 * outline;
            for (size_t k = from; k < to; ++k)
                w += fitted[k].width + (k > from && fitted[k].spaceBefore ? space : 0);
            return w;
        };
        // Greedy breaks, then each pair of lines shown together balanced: the break that
        // makes the longer of the two shortest, the upper one shorter on a tie.
        std::vector<size_t> starts{0};
        for (size_t k = 1; k < fitted.size(); ++k)
            if (widthOf(starts.back(), k + 1) > room)
                starts.push_back(k);
        starts.push_back(fitted.size());
        for (size_t pair = 0; pair + 2 < starts.size(); pair += 2) {
            const size_t from = starts[pair], to = starts[pair + 2];
            size_t best = starts[pair + 1];
            double bestLonger = std::max(widthOf(from, best), widthOf(best, to));
            for (size_t k = from + 1; k < to; ++k) {
                const double top = widthOf(from, k), bottom = widthOf(k, to);
                const double longer = std::max(top, bottom);
                if (top <= room && bottom <= room &&
                    (longer < bestLonger - 0.01 ||
                     (longer < bestLonger + 0.01 && top < widthOf(from, best))))
                    best = k, bestLonger = longer;
            }
            starts[pair + 1] = best;
        }
        for (size_t l = 0; l + 1 < starts.size(); ++l) {
            QString line;
            for (size_t k = starts[l]; k < starts[l + 1]; ++k)
                line += (k > starts[l] && fitted[k].spaceBefore ? QStringLiteral(" ") : QString()) +
                        fitted[k].text;
            lines.append(line);
        }
    }
    return lines;
}
