// SPDX-License-Identifier: GPL-3.0-or-later
// Profile files of any content: the reader and the profile catalog on top of it never crash,
// never read past a list, keep keys and values paired and cut values read by key to at most
// 259 characters without leaving half a character behind.
#include "conversionengine.h"
#include "fuzzcheck.h"
#include "fuzzhost.h"
#include "globals.h"
#include "inireader.h"
#include "tasklist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

namespace {

// Reads by key re-read the whole file, so a file of many sections and keys is sampled.
constexpr qsizetype sampled = 8;

void CheckValue(const QString &value)
{
    FUZZ_CHECK(value.size() <= CIniReader::maxValueLength);
    FUZZ_CHECK(value.isEmpty() || !value.back().isHighSurrogate());
}

void CheckReader(const CIniReader &reader)
{
    QStringList names;
    const int n = reader.GetSectionNames(names);
    FUZZ_CHECK(n >= 1 && n == names.size());
    for (const QString &name : names.first(std::min(sampled, names.size()))) {
        QStringList keys, values;
        const int count = reader.GetSection(name, keys, values);
        FUZZ_CHECK(count >= 1 && count == keys.size() && count == values.size());
        if (!reader.HasKeys(name))
            FUZZ_CHECK(count == 1 && keys.first().isEmpty() && values.first().isEmpty());
        for (const QString &key : keys.first(std::min(sampled, keys.size())))
            CheckValue(reader.GetString(name, key));
        CheckValue(reader.GetString(name, QStringLiteral("Title")));
    }
    CheckValue(reader.GetString(QStringLiteral("Info"), QStringLiteral("Description")));
}

// The catalog as the window and the command line use it: every row, none, and rows past the
// end, each giving a profile's commands or none.
void CheckCatalog(int outputType)
{
    FuzzHost host;
    TaskList tasks;
    tasks.Append(ConversionTask::ForSource(QStringLiteral("/videos/a b.avi"), 12.0));
    ConversionEngine engine(host, tasks);
    host.outputType = outputType;
    engine.LoadProfiles(outputType);
    FUZZ_CHECK(host.selection >= -1 && host.selection < int(host.rows.size()));
    for (const QString &row : host.rows)
        CheckValue(row);
    CheckValue(host.description);
    const int passes = ConversionEngine::OutputType(outputType)->passCount;
    for (const int row : {-1, host.selection, int(host.rows.size())}) {
        host.profileRow = row;
        const int n = engine.LoadProfileCommands();
        FUZZ_CHECK(n == 0 || row + 1 < n);
        for (int pass = 0; pass <= 6; ++pass)
            engine.PassTemplate(pass);
    }
    host.profileRow = host.selection;
    const QList<QStringList> commands = engine.TaskCommands(0);
    FUZZ_CHECK(commands.isEmpty() || commands.size() == passes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    programFolder = dir.path() + QLatin1Char('/');
    outputFolder = programFolder;
    QDir(dir.path()).mkpath(QStringLiteral("app"));
    // The same bytes as a profile file of a three-pass and of the five-pass type.
    for (const char *name : {"3GP_AAC_Profile.ini", "3GP2_AAC_Profile.ini"}) {
        QFile file(QDir(AppFolder()).filePath(QString::fromLatin1(name)));
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    CIniReader reader;
    reader.SetFile(QDir(AppFolder()).filePath(QStringLiteral("3GP_AAC_Profile.ini")));
    CheckReader(reader);
    CheckCatalog(1);
    CheckCatalog(2);
    return 0;
}
