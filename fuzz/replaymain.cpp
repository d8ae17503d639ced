// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a fuzz target over stored inputs without libFuzzer: every file named on the command line,
// and every file inside every folder named there. The normal build replays the corpora this way
// under CTest, so a property broken by any stored input fails the suite.
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

bool Replay(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return false;
    }
    const QByteArray bytes = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                           size_t(bytes.size()));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // Absolute names first: a target may change the current directory.
    QStringList paths;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo arg(QString::fromLocal8Bit(argv[i]));
        if (!arg.isDir()) {
            paths.append(arg.absoluteFilePath());
            continue;
        }
        QDirIterator it(arg.absoluteFilePath(), QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            paths.append(it.next());
    }
    bool ok = !paths.isEmpty();
    for (const QString &path : paths)
        ok = Replay(path) && ok;
    std::printf("%lld inputs replayed\n", qlonglong(paths.size()));
    return ok ? 0 : 1;
}
