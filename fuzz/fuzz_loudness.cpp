// SPDX-License-Identifier: GPL-3.0-or-later
// What the loudness option's measuring runs print, of any content and cut anywhere: read back,
// taken by the planner as its runs' output, and the plan's filter for pass 1 and its verdict on
// a reading. Whatever arrives, nothing crashes, the filter holds only finite numbers, and the
// gain stays within what a plan can ask.
#include "fuzzcheck.h"
#include "sound/loudnessplanner.h"

#include <cmath>
#include <cstdint>

namespace {

void CheckPlan(const LoudnessPlan &plan)
{
    const QString filter = plan.Filter();
    FUZZ_CHECK(plan.leftAsItIs == filter.isEmpty());
    FUZZ_CHECK(!filter.contains(QLatin1String("nan")) && !filter.contains(QLatin1String("inf")));
    if (!plan.leftAsItIs) {
        FUZZ_CHECK(std::isfinite(plan.gain) && std::abs(plan.gain) < 100.0);
        FUZZ_CHECK(std::isfinite(plan.expected));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    // The text read back as it is, and handed to a plan as up to three runs' output: the first
    // byte says where the input is cut between them.
    const MeterReport report = MeterReport::Read(text);
    (void)report.Loudness(QStringLiteral("source"));
    (void)report.Stat(QStringLiteral("source"), QStringLiteral("DC offset"));
    const SoundFormat formats[] = {{8000, 1, SoundFormat::Encoder::AmrNb, 5150},
                                   {44100, 2, SoundFormat::Encoder::Aac, 64000}};
    const qsizetype cut = size > 0 ? qsizetype(data[0]) * text.size() / 256 : 0;
    for (const SoundFormat &format : formats) {
        LoudnessPlanner planner(-16.0, format, {"/v/a.mp4", "0:a:0", "0.000", "12.000"});
        const QByteArray parts[] = {text.left(cut), text.mid(cut), text};
        for (const QByteArray &part : parts) {
            if (planner.Done())
                break;
            FUZZ_CHECK(!planner.NextRun().isEmpty());
            planner.TakeRun(part, true);
        }
        CheckPlan(planner.Plan());
        if (const std::optional<LoudnessReading> r = report.Loudness(QStringLiteral("finished"))) {
            (void)planner.Plan().Verify(*r);
            if (const std::optional<LoudnessPlan> next = planner.Plan().Retry(*r))
                CheckPlan(*next);
        }
    }
    return 0;
}
