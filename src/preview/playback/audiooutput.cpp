// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiooutput.h"

#include "audioring.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>

namespace {

QAudioFormat QtFormat(const AudioFormatSpec &spec)
{
    QAudioFormat format;
    format.setSampleRate(spec.sampleRate);
    format.setChannelCount(spec.channels);
    format.setSampleFormat(spec.floatSamples ? QAudioFormat::Float : QAudioFormat::Int16);
    return format;
}

} // namespace

AudioOutput::AudioOutput() = default;

AudioOutput::~AudioOutput()
{
    Stop();
}

AudioFormatSpec AudioOutput::DeviceFormat()
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return {};
    const QAudioFormat preferred = device.preferredFormat();
    AudioFormatSpec spec;
    spec.sampleRate = preferred.sampleRate() > 0 ? preferred.sampleRate() : 48000;
    spec.channels = std::clamp(preferred.channelCount(), 1, 2);
    for (bool useFloat : {false, true}) {
        spec.floatSamples = useFloat;
        if (device.isFormatSupported(QtFormat(spec)))
            return spec;
    }
    return {};
}

bool AudioOutput::Start(const std::shared_ptr<AudioRing> &newRing)
{
    Stop();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !newRing)
        return false;
    ring = newRing;
    sink = std::make_unique<QAudioSink>(device, QtFormat(ring->Format()));
    sink->start(ring.get());
    if (sink->error() != QAudio::NoError) {
        Stop();
        return false;
    }
    return true;
}

void AudioOutput::Suspend()
{
    if (sink)
        sink->suspend();
}

void AudioOutput::Resume()
{
    if (sink)
        sink->resume();
}

void AudioOutput::Stop()
{
    if (sink)
        sink->stop();
    sink.reset();
    ring.reset();
}

bool AudioOutput::Position(double &seconds) const
{
    if (!sink || !ring || !ring->HasOrigin() || sink->error() != QAudio::NoError)
        return false;
    seconds = ring->Origin() + sink->processedUSecs() / 1e6;
    return true;
}
