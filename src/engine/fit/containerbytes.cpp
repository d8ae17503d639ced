// SPDX-License-Identifier: GPL-3.0-or-later
#include "fit/containerbytes.h"

#include <cmath>

qint64 ContainerBytes::For(double seconds, const Stream &stream, qsizetype titleBytes)
{
    const double t = std::max(0.0, seconds);
    const double pictures = std::ceil(t * stream.pictureRate);
    // The title box: header, language and the title's UTF-8 with its end.
    double bytes = double(fixedBytes) + 15.0 + double(titleBytes);
    // Key frame lists and rounding add under a byte a second.
    bytes += t;
    if (!stream.hasSound)
        return qint64(std::ceil(bytes + pictures * 8.0));
    // Sound frames per chunk go up and down around their mean; each change is a table entry.
    const double perChunk = stream.pictureRate > 0 ? stream.soundFrameRate / stream.pictureRate : 0;
    const double fraction = perChunk - std::floor(perChunk);
    const double changes = 2.0 * std::min(fraction, 1.0 - fraction);
    bytes += pictures * (12.0 + 12.0 * changes);
    if (stream.soundSizesVary)
        bytes += (std::ceil(t * stream.soundFrameRate) + 1) * 4.0; // and the priming frame
    return qint64(std::ceil(bytes));
}
