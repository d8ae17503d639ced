// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/signalwatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};
volatile std::sig_atomic_t lastSignal = 0;
constexpr int watched[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int number)
{
    const int savedErrno = errno;
    lastSignal = number;
    const char byte = char(number);
    // A full pipe loses only a repeat of a signal already waiting there.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : onSignal(std::move(onSignal))
{
    lastSignal = 0;
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalWatcher::ReadPipe);
    struct sigaction action {
    };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : watched)
        ::sigaction(number, &action, nullptr);
}

SignalWatcher::~SignalWatcher()
{
    for (int number : watched)
        std::signal(number, SIG_DFL);
    delete notifier;
    for (int &end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

int SignalWatcher::Received()
{
    return lastSignal;
}

void SignalWatcher::ReadPipe()
{
    char byte = 0;
    while (::read(pipeEnds[0], &byte, 1) == 1)
        if (onSignal)
            onSignal(int(byte));
}
