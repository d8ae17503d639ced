// SPDX-License-Identifier: GPL-3.0-or-later
#include "audioring.h"

#include <algorithm>
#include <chrono>
#include <cstring>

AudioRing::AudioRing(const AudioFormatSpec &format, double seconds)
    : format(format),
      ring(std::max<qint64>(qint64(seconds * format.sampleRate) * format.BytesPerFrame(), 64), '\0')
{
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 AudioRing::Push(const char *data, qint64 length)
{
    std::lock_guard lock(mutex);
    const qint64 size = ring.size();
    const qint64 take = std::min(length, size - used);
    qint64 tail = (head + used) % size;
    for (qint64 done = 0; done < take;) {
        const qint64 run = std::min(take - done, size - tail);
        std::memcpy(ring.data() + tail, data + done, size_t(run));
        done += run;
        tail = (tail + run) % size;
    }
    used += take;
    return take;
}

bool AudioRing::WaitForSpace(int milliseconds)
{
    std::unique_lock lock(mutex);
    return roomFreed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return used < ring.size(); });
}

qint64 AudioRing::Buffered() const
{
    std::lock_guard lock(mutex);
    return used;
}

double AudioRing::BufferedSeconds() const
{
    const double perSecond = double(format.sampleRate) * format.BytesPerFrame();
    return perSecond > 0.0 ? double(Buffered()) / perSecond : 0.0;
}

qint64 AudioRing::FreeSpace() const
{
    std::lock_guard lock(mutex);
    return ring.size() - used;
}

void AudioRing::SetOrigin(double seconds)
{
    std::lock_guard lock(mutex);
    if (!originSet) {
        origin = seconds;
        originSet = true;
    }
}

bool AudioRing::HasOrigin() const
{
    std::lock_guard lock(mutex);
    return originSet;
}

double AudioRing::Origin() const
{
    std::lock_guard lock(mutex);
    return origin;
}

qint64 AudioRing::bytesAvailable() const
{
    return Buffered() + QIODevice::bytesAvailable();
}

qint64 AudioRing::readData(char *data, qint64 maxSize)
{
    qint64 take = 0;
    {
        std::lock_guard lock(mutex);
        const qint64 size = ring.size();
        take = std::min(maxSize, used);
        for (qint64 done = 0; done < take;) {
            const qint64 run = std::min(take - done, size - head);
            std::memcpy(data + done, ring.constData() + head, size_t(run));
            done += run;
            head = (head + run) % size;
        }
        used -= take;
    }
    if (take > 0)
        roomFreed.notify_all();
    return take;
}

qint64 AudioRing::writeData(const char *, qint64)
{
    return -1; // written through Push only, from the decoding thread
}
