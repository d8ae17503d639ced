// SPDX-License-Identifier: GPL-3.0-or-later
#include "subtitles/subtitledecoder.h"

#include <QStringDecoder>

#include <span>

namespace {

// Letters beyond ASCII that a language writes: `common` are its frequent lower-case ones,
// `letters` all of them in lower case. Ideographic scripts count every character of theirs.
struct Language {
    const char16_t *common;
    const char16_t *letters;
    bool ideographic = false;
};

const Language french{u"éèàçêù", u"àâæçéèêëîïôœùûüÿ"};
const Language german{u"äöüß", u"äöüßé"};
const Language spanish{u"áéíóñ", u"áéíóúñü"};
const Language portuguese{u"ãçéáóõ", u"áâãàçéêíóôõú"};
const Language italian{u"àèéìòù", u"àèéìíîòóùú"};
const Language dutch{u"ëéï", u"ëéïèöüáó"};
const Language nordic{u"åäöæø", u"åäöæøéüáíóúýðþ"};
const Language czech{u"ěščřžýáíéů", u"áčďéěíňóřšťúůýž"};
const Language slovak{u"áčéíľňóšťúýž", u"áäčďéíĺľňóôŕšťúýž"};
const Language polish{u"ąćęłńóśźż", u"ąćęłńóśźż"};
const Language hungarian{u"áéíóöőúüű", u"áéíóöőúüű"};
const Language croatian{u"čćđšž", u"čćđšž"};
const Language romanian{u"ăâîșțşţ", u"ăâîșțşţ"};
const Language turkish{u"çğıöşü", u"çğıöşüâî"};
const Language baltic{u"ąčęėįšųūžāēģīķļņõäöü", u"ąčęėįšųūžāēģīķļņõäöü"};
const Language russian{u"оеаинтсрвлкмдпу", u"абвгдеёжзийклмнопрстуфхцчшщъыьэюя"};
const Language ukrainian{u"оаніивтерсклу", u"абвгґдеєжзиіїйклмнопрстуфхцчшщьюя"};
const Language serbian{u"оаиенстрјвдклу", u"абвгдђежзијклљмнњопрстћуфхцчџш"};
const Language greek{u"αοιετνσυρκπμλη", u"αβγδεζηθικλμνξοπρστυφχψωάέήίόύώϊϋΐΰς"};
const Language hebrew{u"יוהאלמרבנת", u"אבגדהוזחטיכךלמםנןסעפףצץקרשת"};
const Language arabic{u"الميونهرب", u"ابتثجحخدذرزسشصضطظعغفقكلمنهويءآأإؤئةىپچژکگی"};
const Language ideographs{u"", u"", true};

const Language *const western[] = {&french,  &german, &spanish, &portuguese,
                                   &italian, &dutch,  &nordic};
const Language *const central[] = {&czech, &slovak, &polish, &hungarian, &croatian, &romanian};
const Language *const cyrillic[] = {&russian, &ukrainian, &serbian};
const Language *const turkic[] = {&turkish};
const Language *const balticLanguages[] = {&baltic};
const Language *const greekLanguages[] = {&greek};
const Language *const hebrewLanguages[] = {&hebrew};
const Language *const arabicLanguages[] = {&arabic};
const Language *const eastAsian[] = {&ideographs};

struct Candidate {
    const char *encoding;
    std::span<const Language *const> languages;
};

// In order of preference when scores tie.
const Candidate candidates[] = {
    {"windows-1252", western},
    {"ISO-8859-15", western},
    {"windows-1250", central},
    {"ISO-8859-2", central},
    {"windows-1251", cyrillic},
    {"KOI8-R", cyrillic},
    {"KOI8-U", cyrillic},
    {"ISO-8859-5", cyrillic},
    {"IBM866", cyrillic},
    {"windows-1253", greekLanguages},
    {"ISO-8859-7", greekLanguages},
    {"windows-1254", turkic},
    {"ISO-8859-9", turkic},
    {"windows-1257", balticLanguages},
    {"ISO-8859-13", balticLanguages},
    {"windows-1255", hebrewLanguages},
    {"ISO-8859-8", hebrewLanguages},
    {"windows-1256", arabicLanguages},
    {"ISO-8859-6", arabicLanguages},
};

bool IsIdeographic(char32_t c)
{
    return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x9FFF) ||
           (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x3000 && c <= 0x303F);
}

// How much `text` looks like `language`: frequent letters count most; letters the language
// does not write, bytes the encoding leaves undefined and symbols inside words count against.
int Score(const QString &text, const Language &language)
{
    const QStringView common(language.common), letters(language.letters);
    int score = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() == 0x1A) { // ICU's substitute for a byte sequence it cannot read
            score -= 4;
            continue;
        }
        if (c.unicode() < 0x80)
            continue;
        const QChar::Category category = c.category();
        if (c.unicode() < 0xA0 || c == QChar::ReplacementCharacter ||
            category == QChar::Other_NotAssigned || category == QChar::Other_PrivateUse)
            score -= 4;
        else if (c.unicode() == 0xA4)
            score -= 2; // '¤' is hardly ever written: a euro sign read in the wrong encoding
        else if (language.ideographic)
            score += IsIdeographic(c.unicode()) ? 2 : -2; // two bytes each
        else if (common.contains(c))
            score += 3;
        else if (letters.contains(c.toLower()))
            score += 1;
        else if (c.isLetter())
            score -= 2;
        else if (i > 0 && i + 1 < text.size() && text.at(i - 1).isLetter() &&
                 text.at(i + 1).isLetter())
            score -= 2; // "Wo¿ny": a symbol where a letter belongs
    }
    return score;
}

// Lines holding bytes beyond ASCII, up to about 32 KB: enough to tell encodings apart, and
// a 10 MB file is not decoded twenty times over.
QByteArray Sample(const QByteArray &bytes)
{
    constexpr qsizetype limit = 32 * 1024;
    QByteArray sample;
    qsizetype start = 0;
    while (start < bytes.size() && sample.size() < limit) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        const QByteArray line = bytes.mid(start, std::min(end - start + 1, limit));
        if (std::any_of(line.begin(), line.end(), [](char c) { return c & 0x80; }))
            sample += line;
        start = end + 1;
    }
    return sample;
}

// Valid multi-byte sequences and bytes that belong to none, in UTF-8.
void CountUtf8(const QByteArray &bytes, qsizetype &valid, qsizetype &invalid)
{
    valid = invalid = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char b = p[i];
        const int length = b < 0x80                 ? 1
                           : b >= 0xC2 && b <= 0xDF ? 2
                           : b >= 0xE0 && b <= 0xEF ? 3
                           : b >= 0xF0 && b <= 0xF4 ? 4
                                                    : 0;
        bool ok = length > 0 && i + length <= n;
        for (int k = 1; ok && k < length; ++k)
            ok = (p[i + k] & 0xC0) == 0x80;
        if (!ok) {
            ++invalid, ++i;
            continue;
        }
        valid += length > 1;
        i += length;
    }
}

// UTF-16 without a byte order mark: text that is mostly ASCII has a zero in every other byte.
std::optional<QStringConverter::Encoding> Utf16Without(const QByteArray &bytes)
{
    const qsizetype n = std::min<qsizetype>(bytes.size(), 4096) & ~qsizetype(1);
    if (n < 8)
        return std::nullopt;
    qsizetype even = 0, odd = 0;
    for (qsizetype i = 0; i < n; i += 2)
        even += bytes.at(i) == 0, odd += bytes.at(i + 1) == 0;
    const qsizetype pairs = n / 2;
    if (odd * 10 >= pairs * 3 && even * 20 < pairs)
        return QStringConverter::Utf16LE;
    if (even * 10 >= pairs * 3 && odd * 20 < pairs)
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

SubtitleDecoder::Result DecodeAs(QStringConverter::Encoding encoding, const QByteArray &bytes)
{
    QStringDecoder decoder(encoding);
    return {decoder.decode(bytes), QStringConverter::nameForEncoding(encoding)};
}

} // namespace

QByteArray SubtitleDecoder::LegacyEncodingOf(const QLocale &locale)
{
    switch (locale.language()) {
    case QLocale::Russian:
    case QLocale::Ukrainian:
    case QLocale::Belarusian:
    case QLocale::Bulgarian:
    case QLocale::Macedonian:
    case QLocale::Serbian:
        return "windows-1251";
    case QLocale::Polish:
    case QLocale::Czech:
    case QLocale::Slovak:
    case QLocale::Hungarian:
    case QLocale::Slovenian:
    case QLocale::Croatian:
    case QLocale::Romanian:
    case QLocale::Bosnian:
    case QLocale::Albanian:
        return "windows-1250";
    case QLocale::Greek:
        return "windows-1253";
    case QLocale::Turkish:
    case QLocale::Azerbaijani:
        return "windows-1254";
    case QLocale::Hebrew:
        return "windows-1255";
    case QLocale::Arabic:
    case QLocale::Persian:
    case QLocale::Urdu:
        return "windows-1256";
    case QLocale::Lithuanian:
    case QLocale::Latvian:
    case QLocale::Estonian:
        return "windows-1257";
    case QLocale::Japanese:
        return "Shift_JIS";
    case QLocale::Korean:
        return "EUC-KR";
    case QLocale::Chinese:
        return locale.script() == QLocale::TraditionalHanScript ? "Big5" : "GB18030";
    default:
        return "windows-1252";
    }
}

SubtitleDecoder::Result SubtitleDecoder::Decode(const QByteArray &bytes, const QLocale &locale)
{
    if (const auto marked = QStringConverter::encodingForData(bytes))
        return DecodeAs(*marked, bytes);
    if (const auto wide = Utf16Without(bytes))
        return DecodeAs(*wide, bytes);
    qsizetype valid = 0, invalid = 0;
    CountUtf8(bytes, valid, invalid);
    // A few broken bytes in a file that is otherwise UTF-8 (two files joined, a cut
    // character) show as replacement characters rather than turn every letter into another.
    if (invalid == 0 || valid >= 8 * invalid)
        return DecodeAs(QStringConverter::Utf8, bytes);

    const QByteArray sample = Sample(bytes);
    const QByteArray preferred = LegacyEncodingOf(locale);
    std::vector<Candidate> tried;
    bool preferredListed = false;
    for (const Candidate &candidate : candidates)
        preferredListed |= preferred == candidate.encoding;
    if (!preferredListed)
        tried.push_back({preferred.constData(), eastAsian});
    tried.insert(tried.end(), std::begin(candidates), std::end(candidates));

    QByteArray best;
    int bestScore = 0;
    for (const Candidate &candidate : tried) {
        QStringDecoder decoder(candidate.encoding);
        if (!decoder.isValid())
            continue; // a Qt built without ICU knows only the Unicode encodings
        const QString text = decoder.decode(sample);
        int score = std::numeric_limits<int>::min();
        for (const Language *language : candidate.languages)
            score = std::max(score, Score(text, *language));
        // The user's own legacy encoding wins a tie; otherwise the earlier candidate does.
        const bool wins = best.isEmpty() || score > bestScore ||
                          (score == bestScore && preferred == candidate.encoding);
        if (wins)
            best = candidate.encoding, bestScore = score;
    }
    if (best.isEmpty())
        return DecodeAs(QStringConverter::Latin1, bytes);
    QStringDecoder decoder(best.constData());
    return {decoder.decode(bytes), best};
}
