// SPDX-License-Identifier: GPL-3.0-or-later
// Profile files of any content: the reader and the profile catalog on top of it never crash,
// never read past a list, keep keys and values paired and cut values read by key to at most
// 259 characters without leaving half a character behind; the templates they hold expand into
// commands whose program is ours, on PATH or nothing.
#include "conversionengine.h"
#include "fuzzcheck.h"
#include "fuzzhost.h"
#include "profiles/commandtemplate.h"
#include "profiles/inireader.h"
#include "profiles/outputtypes.h"
#include "profiles/profilecatalog.h"
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

// The catalog as the window and the command line use it: the listing, the same listing
// shown through the engine, and every row, none, and rows past the end, each giving a
// profile or none, whose templates expand into commands.
void CheckCatalog(const EnginePaths &paths, int outputType)
{
    const ProfileCatalog catalog(paths);
    const ProfileCatalog::Listing listing = catalog.List(outputType);
    const int count = int(listing.titles.size());
    FUZZ_CHECK(listing.defaultRow >= -1 && listing.defaultRow < std::max(count, 1));
    FUZZ_CHECK(listing.readable || (count == 0 && listing.defaultRow == -1));
    for (const QString &title : listing.titles.first(std::min(sampled, listing.titles.size())))
        CheckValue(title);
    CheckValue(listing.description);

    FuzzHost host;
    TaskList tasks;
    ConversionTask task = ConversionTask::ForSource(QStringLiteral("/videos/a b.avi"), 12.0);
    task.title = QStringLiteral("$OUTPUT_DIR \"quoted\"");
    tasks.Append(task);
    ConversionEngine engine(host, tasks, paths);
    host.outputType = outputType;
    engine.LoadProfiles(outputType);
    if (listing.readable) {
        FUZZ_CHECK(host.rows == listing.titles && host.selection == listing.defaultRow);
        FUZZ_CHECK(host.description == listing.description);
    }

    const int passes = OutputType::Find(outputType)->PassCount();
    const CommandTemplate::Values values =
        CommandTemplate::Values::For(task, QStringLiteral("/out/"), QDateTime());
    for (const int row : {-1, listing.defaultRow, count - 1, count}) {
        const std::optional<Profile> profile = catalog.Load(outputType, row);
        FUZZ_CHECK(!profile || (row >= 0 && row < count));
        if (!profile)
            continue;
        FUZZ_CHECK(profile->keys.size() == profile->values.size() && !profile->keys.isEmpty());
        for (int pass = 0; pass <= 6; ++pass) {
            const QString passTemplate = profile->PassTemplate(pass);
            FUZZ_CHECK(passTemplate.isEmpty() || profile->HasPasses(pass));
            CommandTemplate::ExpandText(passTemplate, values);
            CommandTemplate::ExpandArguments(passTemplate, values);
        }
        host.profileRow = row;
        const QList<QStringList> commands = engine.TaskCommands(0);
        FUZZ_CHECK(commands.size() == (profile->HasPasses(passes) ? passes : 0));
        for (const QStringList &command : commands)
            FUZZ_CHECK(command.isEmpty() || command.first().isEmpty() ||
                       QDir::isAbsolutePath(command.first()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    FUZZ_CHECK(QDir(dir.path()).mkpath(QStringLiteral("app")));
    static const EnginePaths paths = EnginePaths::ForProgramFolder(dir.path());
    FUZZ_CHECK(paths.IsValid());
    // The same bytes as a profile file of a three-pass and of the five-pass type.
    for (const int type : {1, 2}) {
        QFile file(paths.InApp(OutputType::Find(type)->ProfileFile()));
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    CIniReader reader;
    reader.SetFile(paths.InApp(OutputType::Find(1)->ProfileFile()));
    CheckReader(reader);
    CheckCatalog(paths, 1);
    CheckCatalog(paths, 2);
    return 0;
}
