// SPDX-License-Identifier: GPL-3.0-or-later
#include "fit/partplan.h"

#include "profiles/commandtemplate.h"

#include <algorithm>
#include <cmath>

namespace {

// Times reach the tools cut down to the microsecond: a cut is computed from the begin as they
// see it.
double AsWritten(double seconds)
{
    return CommandTemplate::ExactSeconds(seconds).toDouble();
}

} // namespace

qint64 PartPlan::FrameCount(double seconds, const FrameRate &rate)
{
    if (!rate.IsValid() || !(seconds > 0.0))
        return 0;
    // A picture starting a microsecond before the end is one the tools keep; rounding noise of
    // the times is far below that.
    return qint64(std::ceil(seconds * rate.Value() - 1e-6));
}

QList<Part> PartPlan::Cut(double begin, double end, const FrameRate &rate, qint64 maxFrames,
                          Lengths lengths)
{
    QList<Part> parts;
    const qint64 total = FrameCount(end - begin, rate);
    if (total < 1 || maxFrames < 1)
        return parts;
    qint64 unit = rate.WholeMillisecondFrames();
    if (unit > maxFrames / 2)
        unit = 1; // a rate without short whole-millisecond steps: cuts within a microsecond
    const qint64 longest = maxFrames / unit * unit;
    const qint64 count = (total + longest - 1) / longest;
    qint64 per = longest;
    if (lengths == Lengths::Even) // the fewest parts, as even as whole units allow
        per = ((total + count - 1) / count + unit - 1) / unit * unit;
    // count parts of `per` frames hold total, and count - 1 do not (per >= total / count and
    // per <= longest), so the last part has at least one frame.
    const double start = AsWritten(begin);
    const qint64 lead = (FrameCount(leadSeconds, rate) + unit - 1) / unit * unit;
    for (qint64 i = 0; i < count; ++i) {
        Part part;
        part.number = int(i + 1);
        part.firstFrame = i * per;
        part.frames = i + 1 < count ? per : total - i * per;
        part.beginSeconds = i == 0 ? begin : start + AsWritten(rate.Seconds(part.firstFrame));
        part.endSeconds =
            i + 1 < count ? start + AsWritten(rate.Seconds(part.firstFrame + per)) : end;
        part.leadSeconds = AsWritten(rate.Seconds(std::min(lead, part.firstFrame)));
        parts.append(part);
    }
    return parts;
}

QString PartPlan::Name(const QString &base, int number, int count)
{
    if (count <= 1)
        return base;
    return QStringLiteral("%1 (part %2 of %3)").arg(base).arg(number).arg(count);
}
