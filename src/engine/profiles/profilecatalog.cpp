// SPDX-License-Identifier: GPL-3.0-or-later
#include "profiles/profilecatalog.h"

#include "mediacheck/outputcheck.h"
#include "profiles/inireader.h"
#include "profiles/outputtypes.h"

#include <QRegularExpression>

#include <climits>

namespace {

// atoi: leading blanks, a sign, digits; anything else ends the number; no digits give 0.
// A number past what an int holds (where atoi has no answer) sets tooLarge.
int AsciiToInt(const QString &text, bool *tooLarge = nullptr)
{
    const QString s = text.trimmed();
    qsizetype i = 0;
    const bool negative = i < s.size() && s.at(i) == QLatin1Char('-');
    if (i < s.size() && (s.at(i) == QLatin1Char('-') || s.at(i) == QLatin1Char('+')))
        ++i;
    qint64 value = 0;
    bool overflow = false;
    for (; i < s.size() && s.at(i).isDigit() && s.at(i).unicode() < 128; ++i) {
        value = value * 10 + (s.at(i).unicode() - '0');
        overflow = overflow || value > INT_MAX;
        value = qMin<qint64>(value, INT_MAX);
    }
    if (tooLarge)
        *tooLarge = overflow;
    return int(negative ? -value : value);
}

const QString infoSection = QStringLiteral("Info");
const QString checkKey = QStringLiteral("Check");

} // namespace

// Passes are the entries after the title by position, up to the read-back entry: neither the
// Check line nor anything after it is a pass, or a profile short of its last pass would run
// its Check line (or a note below it) as a program.
QString Profile::PassTemplate(int pass) const
{
    return HasPasses(pass) ? values.at(pass) : QString();
}

bool Profile::HasPasses(int passCount) const
{
    if (passCount < 1 || values.size() <= passCount)
        return false;
    for (int pass = 1; pass <= passCount; ++pass)
        if (keys.value(pass).compare(checkKey, Qt::CaseInsensitive) == 0)
            return false;
    return true;
}

QString Profile::Entry(const QString &key) const
{
    for (qsizetype i = 0; i < keys.size() && i < values.size(); ++i)
        if (keys.at(i).compare(key, Qt::CaseInsensitive) == 0)
            return values.at(i);
    return QString();
}

ProfileCatalog::Listing ProfileCatalog::List(int outputType) const
{
    Listing listing;
    const OutputType *type = OutputType::Find(outputType);
    if (!type)
        return listing;
    listing.file = paths.InApp(type->ProfileFile());
    CIniReader reader;
    reader.SetFile(listing.file);
    if (!reader.HasKeys(infoSection))
        return listing;
    listing.readable = true;
    listing.description = reader.GetString(infoSection, QStringLiteral("Description"));
    const QString defaultText = reader.GetString(infoSection, QStringLiteral("DefaultProfile"));
    bool tooLarge = false;
    const int defaultProfile = AsciiToInt(defaultText, &tooLarge);
    QStringList sections;
    const int n = reader.GetSectionNames(sections);
    for (int i = 1; i < n; ++i)
        listing.titles.append(reader.GetString(sections.at(i), QStringLiteral("Title")));
    if (defaultProfile >= 1 && defaultProfile <= n - 1)
        listing.defaultRow = defaultProfile - 1;
    // A number no int holds is no choice at all (atoi's answer is undefined): rather than
    // leave every task of the command line without a profile, the first one is taken.
    if (tooLarge && n > 1) {
        listing.defaultRow = 0;
        listing.warning = QStringLiteral("DefaultProfile=%1 in %2 is too large: the first "
                                         "profile is selected instead")
                              .arg(defaultText.trimmed(), listing.file);
    }
    return listing;
}

std::optional<Profile> ProfileCatalog::Load(int outputType, int row, QString *problem) const
{
    if (problem)
        problem->clear();
    const OutputType *type = OutputType::Find(outputType);
    if (!type)
        return std::nullopt;
    CIniReader reader;
    const QString file = paths.InApp(type->ProfileFile());
    reader.SetFile(file);
    // A file without its Info section lists no profile, so none can be loaded from it either.
    if (!reader.HasKeys(infoSection))
        return std::nullopt;
    QStringList sections;
    const int n = reader.GetSectionNames(sections);
    // No selection would name the "Info" section itself.
    if (n <= 0 || row < 0 || row + 1 >= n)
        return std::nullopt;
    Profile profile;
    QList<int> lines;
    reader.GetSection(sections.at(row + 1), profile.keys, profile.values, &lines);
    QString why;
    if (!OutputExpectation().ReadCheckEntry(profile.keys, profile.values, &why) && !why.isEmpty()) {
        if (problem) {
            const qsizetype at = profile.keys.indexOf(QRegularExpression(
                QStringLiteral("^check$"), QRegularExpression::CaseInsensitiveOption));
            *problem = QStringLiteral("the profile \"%1\" cannot be used: line %2 of %3 (%4=%5) "
                                      "is not written as \"Check=codec WIDTHxHEIGHT rate\"")
                           .arg(profile.values.value(0))
                           .arg(lines.value(at))
                           .arg(file, profile.keys.value(at), profile.values.value(at));
        }
        return std::nullopt;
    }
    return profile;
}
