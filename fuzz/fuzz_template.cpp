// SPDX-License-Identifier: GPL-3.0-or-later
// Command templates and values of any content. Arguments are fixed by the template alone:
// values never add, end or join one, and every value comes back exactly where its variable
// stood in its argument.
#include "fuzzcheck.h"
#include "profiles/commandtemplate.h"

#include <QProcess>

#include <array>
#include <cstdint>
#include <cstring>

namespace {

using V = CommandTemplate::Values;

struct Name {
    const char *text;
    QString V::*value;
};

const std::array<Name, 9> names{{
    {"$INPUT_FILE", &V::inputFile},
    {"$TITLE", &V::title},
    {"$START", &V::start},
    {"$LENGTH", &V::length},
    {"$TIMESTAMP", &V::timestamp},
    {"$OUTPUT_DIR", &V::outputDir},
    {"$OUTPUT_FILE", &V::outputFile},
    {"$EXACT_START", &V::exactStart},
    {"$EXACT_LENGTH", &V::exactLength},
}};

struct Placeholder {
    qsizetype at = -1;
    qsizetype length = 0;
    const Name *name = nullptr;
};

// The variables of one argument, the longest name winning where names share a start.
QList<Placeholder> Placeholders(const QString &argument)
{
    QList<Placeholder> found;
    for (qsizetype i = 0; i < argument.size();) {
        Placeholder best;
        for (const Name &n : names) {
            const QLatin1StringView text(n.text);
            if (QStringView(argument).sliced(i).startsWith(text) && text.size() > best.length)
                best = {i, text.size(), &n};
        }
        if (best.name) {
            found.append(best);
            i += best.length;
        } else {
            ++i;
        }
    }
    return found;
}

// Input: the template, then the nine values in the order of the names above, separated by NUL
// bytes; missing values are empty.
V ValuesFrom(const QList<QByteArrayView> &pieces)
{
    V values;
    for (qsizetype i = 0; i < qsizetype(names.size()); ++i)
        values.*(names[i].value) =
            i + 1 < pieces.size() ? QString::fromUtf8(pieces[i + 1]) : QString();
    return values;
}

void CheckDurations(const uint8_t *data, size_t size)
{
    if (size < sizeof(double))
        return;
    double seconds = 0;
    std::memcpy(&seconds, data, sizeof seconds);
    const QString duration = CommandTemplate::Duration(seconds);
    FUZZ_CHECK(duration.count(QLatin1Char(':')) == 2);
    const QString exact = CommandTemplate::ExactSeconds(seconds);
    FUZZ_CHECK(!exact.contains(QLatin1String("nan")) && !exact.contains(QLatin1String("inf")));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CheckDurations(data, size);
    const QByteArrayView bytes(data, qsizetype(size));
    QList<QByteArrayView> pieces;
    for (qsizetype from = 0;;) {
        const qsizetype nul = bytes.indexOf('\0', from);
        pieces.append(bytes.sliced(from, (nul < 0 ? bytes.size() : nul) - from));
        if (nul < 0)
            break;
        from = nul + 1;
    }
    const QString commandTemplate = QString::fromUtf8(pieces.first());
    const V values = ValuesFrom(pieces);

    const QStringList split = QProcess::splitCommand(commandTemplate);
    const QStringList arguments = CommandTemplate::ExpandArguments(commandTemplate, values);
    FUZZ_CHECK(arguments.size() == split.size());
    FUZZ_CHECK(CommandTemplate::ExpandArguments(commandTemplate, V()).size() == split.size());
    for (qsizetype i = 0; i < split.size(); ++i) {
        const QList<Placeholder> found = Placeholders(split[i]);
        if (found.size() > 1)
            continue;
        QString expected = split[i];
        if (!found.isEmpty())
            expected.replace(found[0].at, found[0].length, values.*(found[0].name->value));
        FUZZ_CHECK(arguments[i] == expected);
    }
    // The text for logs: a template without variables comes back as it is.
    const QString text = CommandTemplate::ExpandText(commandTemplate, values);
    if (Placeholders(commandTemplate).isEmpty())
        FUZZ_CHECK(text == commandTemplate);
    return 0;
}
