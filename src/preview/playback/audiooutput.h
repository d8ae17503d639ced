// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audioformatspec.h"

#include <QElapsedTimer>

#include <memory>

class AudioRing;
class QAudioSink;

// The sound side of playback: a pull-mode QAudioSink reading a ring the decoding thread fills,
// and the sound clock derived from what the device has played. Without an output device
// (headless machines) there is no format and playback runs silently on the wall clock.
class AudioOutput
{
public:
    AudioOutput();
    ~AudioOutput();
    AudioOutput(const AudioOutput &) = delete;
    AudioOutput &operator=(const AudioOutput &) = delete;

    // Invalid when there is no output device.
    static AudioFormatSpec DeviceFormat();

    bool Start(const std::shared_ptr<AudioRing> &ring);
    void Suspend();
    void Resume();
    void Stop();
    // Clip time of the sound now leaving the device; false while there is none yet.
    bool Position(double &seconds) const;

private:
    std::unique_ptr<QAudioSink> sink;
    std::shared_ptr<AudioRing> ring;
};
