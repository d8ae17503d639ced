#include "cliapplication.h"
#include "globals.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // A reader that goes away (a closed pipe) must not end the batch halfway: writes to it
    // simply fail.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(productName));
    QCoreApplication::setApplicationName(QString::fromLatin1(productName));
    InitProgramFolder();
    CliApplication cli(stdout, stderr, ::isatty(STDOUT_FILENO) == 1);
    return cli.Run(QCoreApplication::arguments());
}
