// SPDX-License-Identifier: GPL-3.0-or-later
#include "atomicfile.h"

#include "toolerror.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The signal handler may only read a plain buffer; a path longer than this is still
// removed on failure, only not on a signal.
char pendingRemoval[4096];

void RemoveAndExit(int signalNumber)
{
    if (pendingRemoval[0] != '\0')
        unlink(pendingRemoval);
    _exit(128 + signalNumber);
}

void RemoveOnSignals(const std::string &path)
{
    if (path.size() >= sizeof(pendingRemoval))
        return;
    std::memcpy(pendingRemoval, path.c_str(), path.size() + 1);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        std::signal(s, RemoveAndExit);
}

void ForgetOnSignals()
{
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        std::signal(s, SIG_DFL);
    pendingRemoval[0] = '\0';
}

std::string FolderOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

AtomicFile::AtomicFile(const std::string &targetPath)
    : target(targetPath), folder(FolderOf(targetPath))
{
    struct stat info {
    };
    if (NameOf(target).empty() || (stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)))
        throw ToolError("output is a folder, not a file: " + target);
#ifdef O_TMPFILE
    fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
#endif
    if (fd < 0)
        OpenNamedTemporary();
}

void AtomicFile::OpenNamedTemporary()
{
    std::string pattern = folder + "/." + NameOf(target) + ".XXXXXX";
    fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        throw ToolError(SystemError("cannot write in " + folder, errno));
    temporaryPath = pattern;
    RemoveOnSignals(temporaryPath);
    // mkstemp makes the file private; give it the permissions a new file normally gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
}

std::string AtomicFile::StagingPath() const
{
    return folder + "/." + NameOf(target) + "." + std::to_string(getpid()) + ".partial";
}

void AtomicFile::Commit()
{
    if (fsync(fd) != 0)
        throw ToolError(SystemError("cannot write " + target, errno));
    std::string named = temporaryPath;
    if (named.empty()) {
        // An unnamed file gets a hidden name first: linkat cannot replace an existing file.
        named = StagingPath();
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        unlink(named.c_str());
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) != 0)
            throw ToolError(SystemError("cannot create " + target, errno));
        RemoveOnSignals(named);
    }
    if (rename(named.c_str(), target.c_str()) != 0) {
        const int error = errno;
        unlink(named.c_str());
        ForgetOnSignals();
        throw ToolError(SystemError("cannot create " + target, error));
    }
    committed = true;
    ForgetOnSignals();
}

AtomicFile::~AtomicFile()
{
    if (fd >= 0)
        close(fd);
    if (!committed && !temporaryPath.empty()) {
        unlink(temporaryPath.c_str());
        ForgetOnSignals();
    }
}
