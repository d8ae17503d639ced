// SPDX-License-Identifier: GPL-3.0-or-later
// Encoder status text of any shape, cut into chunks anywhere, as the first pass's runner hands
// it on. Whatever arrives, the figures stay finite and nothing but the three progress figures
// of the current task changes.
#include "conversionengine.h"
#include "fuzzcheck.h"
#include "fuzzhost.h"
#include "progressfields.h"
#include "tasklist.h"

#include <cmath>
#include <cstdint>

namespace {

void CheckFields(const ProgressFields &fields)
{
    FUZZ_CHECK(!fields.frames || std::isfinite(*fields.frames));
    FUZZ_CHECK(!fields.encodedSeconds || std::isfinite(*fields.encodedSeconds));
}

ConversionTask Sample()
{
    ConversionTask task = ConversionTask::ForSource(QStringLiteral("/videos/holiday.avi"), 75.5);
    task.beginSeconds = 2.25;
    task.title = QStringLiteral("Holiday");
    task.note = QStringLiteral("note");
    task.reserved1 = 7;
    task.reserved2 = -7;
    task.state = TASK_ENCODING;
    return task;
}

// Everything ParseProgress must leave alone.
bool SameApartFromProgress(const ConversionTask &a, const ConversionTask &b)
{
    return a.sourcePath == b.sourcePath && a.outputName == b.outputName &&
           a.beginSeconds == b.beginSeconds && a.endSeconds == b.endSeconds && a.title == b.title &&
           a.note == b.note && a.reserved1 == b.reserved1 && a.reserved2 == b.reserved2 &&
           a.finished == b.finished && a.state == b.state;
}

} // namespace

// Input: one byte for the chunk length (1 to 255 bytes, the runner's largest read), one for
// the milliseconds since the task started (0: the same millisecond; 255: a clock that has
// wrapped), then the tool's output.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const qsizetype chunkLength = 1 + data[0] % 255;
    const quint32 elapsed = data[1] == 255 ? 0xFFFFFFF0u : quint32(data[1]) * 37u;
    const QByteArrayView text(data + 2, qsizetype(size - 2));

    // The field reader takes chunks of any size.
    CheckFields(ProgressFields::Read(text));
    CheckFields(ProgressFields::Read(text, 'x'));

    FuzzHost host;
    TaskList tasks;
    tasks.Append(Sample());
    tasks.Append(Sample());
    ConversionEngine engine(host, tasks);
    engine.currentTaskIndex = 1;
    engine.taskStartTick = ConversionEngine::TickCount() - elapsed;
    const ConversionTask before = tasks.GetAt(1);
    for (qsizetype at = 0; at < text.size(); at += chunkLength) {
        engine.ParseProgress(text.sliced(at, std::min(chunkLength, text.size() - at)));
        const ConversionTask now = tasks.GetAt(1);
        FUZZ_CHECK(std::isfinite(now.framesPerSecond));
        FUZZ_CHECK(std::isfinite(now.encodedSeconds));
        FUZZ_CHECK(SameApartFromProgress(now, before));
    }
    // The other task is never touched.
    const ConversionTask other = tasks.GetAt(0);
    FUZZ_CHECK(SameApartFromProgress(other, before));
    FUZZ_CHECK(other.sizeKB == 0 && other.framesPerSecond == 0.0 && other.encodedSeconds == 0.0);
    return 0;
}
