// SPDX-License-Identifier: GPL-3.0-or-later
// Encoder status text of any shape, cut into chunks anywhere, as the first pass's runner hands
// it on and the task takes it in. Whatever arrives, the figures stay finite, nothing but the
// three progress figures of the task changes, and the Progress cell's text stays in shape.
#include "conversiontask.h"
#include "fuzzcheck.h"
#include "progress/progressfields.h"
#include "progress/progresstext.h"

#include <QRegularExpression>

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

// Everything taking in a chunk must leave alone.
bool SameApartFromProgress(const ConversionTask &a, const ConversionTask &b)
{
    return a.sourcePath == b.sourcePath && a.outputName == b.outputName &&
           a.beginSeconds == b.beginSeconds && a.endSeconds == b.endSeconds && a.title == b.title &&
           a.note == b.note && a.reserved1 == b.reserved1 && a.reserved2 == b.reserved2 &&
           a.finished == b.finished && a.state == b.state;
}

void CheckCell(const ConversionTask &task)
{
    static const QRegularExpression shape(QStringLiteral(
        "^\\d{2,}:\\d\\d:\\d\\d  \\d+\\.\\d\\dMB  -?\\d+\\.\\d\\dFrames/s  %\\d+ $"));
    const QString text = ProgressText(task);
    FUZZ_CHECK(text.isEmpty() == !HasProgressToShow(task));
    FUZZ_CHECK(text.isEmpty() || shape.match(text).hasMatch());
    FUZZ_CHECK(ProgressPercent(task) <= 100);
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

    const ConversionTask before = Sample();
    ConversionTask task = before;
    char previous = '\n';
    for (qsizetype at = 0; at < text.size(); at += chunkLength) {
        const QByteArrayView chunk = text.sliced(at, std::min(chunkLength, text.size() - at));
        const ProgressFields fields = ProgressFields::Read(chunk, previous);
        CheckFields(fields);
        previous = chunk.back();
        fields.TakeInto(task, elapsed);
        FUZZ_CHECK(std::isfinite(task.framesPerSecond));
        FUZZ_CHECK(std::isfinite(task.encodedSeconds));
        FUZZ_CHECK(SameApartFromProgress(task, before));
        CheckCell(task);
    }
    return 0;
}
