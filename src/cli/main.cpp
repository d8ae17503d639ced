// SPDX-License-Identifier: GPL-3.0-or-later
#include "cliapplication.h"
#include "enginepaths.h"
#include "files/bytenames.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // A reader that goes away (a closed pipe) must not end the batch halfway: writes to it
    // simply fail.
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write fails and the batch says so, instead of ending here.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(productName));
    QCoreApplication::setApplicationName(QString::fromLatin1(productName));
    CliApplication cli(stdout, stderr, ::isatty(STDOUT_FILENO) == 1);
    // Every byte of the arguments kept: a file name need not be UTF-8, which is all that
    // QCoreApplication::arguments() would keep of it.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(bytenames::Decode(argv[i]));
    return cli.Run(arguments);
}
