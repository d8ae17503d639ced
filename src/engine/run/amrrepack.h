// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// AMR-NB sound stored several frames to a packet (as phones and some muxers write it) loses all
// but the first frame of each packet in ffmpeg's own decoder. Copied out into a raw .amr file,
// whose reader splits the frames again, and muxed back beside the picture, it reads whole; the
// copy then stands in for the source. Both steps copy streams, so they take moments.
namespace AmrRepack {

constexpr int stepCount = 2;
// The arguments of step 1 (the sound out) or 2 (picture and sound together again), program
// name first, unresolved.
QStringList StepArguments(int step, const QString &source, int audioIndex, const QString &sound,
                          const QString &copy);

} // namespace AmrRepack
