// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// An output file that appears under its name only when it is complete. It is written as an
// unnamed file in the target's folder (or, where the file system has none, under a hidden
// temporary name removed on failure and on SIGTERM/SIGINT/SIGHUP), and Commit() puts it in
// place in one rename, replacing an older file of that name. Until then no file that looks
// finished exists, whatever happens to the process.
class AtomicFile
{
public:
    explicit AtomicFile(const std::string &targetPath); // throws ToolError
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    int Descriptor() const { return fd; }
    void Commit(); // throws ToolError; the file is gone when it fails

private:
    void OpenNamedTemporary();
    std::string StagingPath() const;

    std::string target;
    std::string folder;
    std::string temporaryPath; // empty while the file has no name
    int fd = -1;
    bool committed = false;
};
