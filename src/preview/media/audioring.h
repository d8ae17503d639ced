// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audioformatspec.h"

#include <QIODevice>

#include <condition_variable>
#include <mutex>

// A bounded byte queue between the decoding thread (writer) and a pull-mode sound output
// (reader). The reader never blocks: it gets what is there, possibly nothing. The writer may wait
// for room. Also remembers the clip time of the first byte, the origin of the sound clock.
class AudioRing : public QIODevice
{
public:
    AudioRing(const AudioFormatSpec &format, double seconds);

    const AudioFormatSpec &Format() const { return format; }

    qint64 Push(const char *data, qint64 length); // bytes taken, at most FreeSpace()
    bool WaitForSpace(int milliseconds);          // true when some room is free
    qint64 Buffered() const;
    qint64 FreeSpace() const;
    double BufferedSeconds() const;
    void SetOrigin(double seconds); // only the first call counts
    bool HasOrigin() const;
    double Origin() const;

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 length) override;

private:
    const AudioFormatSpec format;
    mutable std::mutex mutex;
    std::condition_variable roomFreed;
    QByteArray ring;
    qint64 head = 0; // next byte to read
    qint64 used = 0;
    double origin = 0.0;
    bool originSet = false;
};
