// SPDX-License-Identifier: GPL-3.0-or-later
// A profile file of many sections listed (what --list-profiles and the window's profile list
// do) and its last profile loaded (what every task does): processor milliseconds (a shared
// machine moves the wall clock, not these) for 300, 3,000 and 10,000 sections of about 120
// bytes each, and the time per section against the 300-section run (1.0: linear). Before the
// reader parsed each file once, 3,000 sections took a minute.
#include "enginepaths.h"
#include "profiles/outputtypes.h"
#include "profiles/profilecatalog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {

double CpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Timing {
    double listMs = 0;
    double loadMs = 0;
    qint64 bytes = 0;
};

Timing Measure(const QTemporaryDir &dir, int sections)
{
    const QString app = dir.filePath(QStringLiteral("app"));
    QDir().mkpath(app);
    QByteArray text = "[Info]\nDescription=many\nDefaultProfile=1\n";
    for (int i = 1; i <= sections; ++i)
        text += QStringLiteral("[Profile%1]\nTitle=Profile %1 - 176x144\nPass1=ffmpeg -i "
                               "\"$INPUT_FILE\" x\nPass2=true\nPass3=true\nCheck=h263 176x144 15\n")
                    .arg(i)
                    .toUtf8();
    QFile file(app + u'/' + OutputType::Find(1)->ProfileFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return {};
    file.close();
    const EnginePaths paths = EnginePaths::ForProgramFolder(dir.path());
    const ProfileCatalog catalog(paths);
    Timing timing;
    timing.bytes = text.size();
    const double start = CpuMs();
    const ProfileCatalog::Listing listing = catalog.List(1);
    const double listed = CpuMs();
    const std::optional<Profile> last = catalog.Load(1, int(listing.titles.size()) - 1);
    timing.listMs = listed - start;
    timing.loadMs = CpuMs() - listed;
    if (listing.titles.size() != sections || !last)
        std::printf("  (the file did not read back whole)\n");
    return timing;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    Measure(dir, 300); // the first read also loads what every later one finds in place
    const Timing base = Measure(dir, 300);
    for (int sections : {300, 3000, 10000}) {
        const Timing t = Measure(dir, sections);
        const double perSection = (t.listMs + t.loadMs) / sections;
        const double basePerSection = (base.listMs + base.loadMs) / 300;
        std::printf("%6d sections (%4lld KB): list %8.2f ms, load the last %7.2f ms, "
                    "time per section %.2f x that of 300\n",
                    sections, t.bytes / 1024, t.listMs, t.loadMs, perSection / basePerSection);
    }
    return 0;
}
