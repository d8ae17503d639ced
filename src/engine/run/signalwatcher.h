// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into a call on the event loop: the handler only writes the
// signal's number into a pipe, and a notifier on the pipe's other end runs onSignal with it,
// from the event loop. One per process.
class SignalWatcher : public QObject
{
public:
    explicit SignalWatcher(std::function<void(int)> onSignal);
    ~SignalWatcher() override;
    SignalWatcher(const SignalWatcher &) = delete;
    SignalWatcher &operator=(const SignalWatcher &) = delete;

    // The last signal received since the watcher was made, 0 for none; valid at once, even
    // before the event loop has run.
    static int Received();

private:
    void ReadPipe();

    std::function<void(int)> onSignal;
    QSocketNotifier *notifier = nullptr;
};
