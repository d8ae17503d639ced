// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/progressfields.h"

#include "conversiontask.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

// Fixed windows after each key: the status line right-aligns its numbers in these widths.
constexpr qsizetype frameWindow = 6, frameMinTail = 12;
constexpr qsizetype sizeWindow = 8, sizeMinTail = 13;
constexpr qsizetype timeWindow = 5, timeMinTail = 9;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The first place where the key starts a field of a status line: at the chunk's start or
// after a blank or line end ("Lsize=" also counts as "size="). This keeps "size=" inside an
// input's description, such as "testsrc2=size=352x288", from being read as a size.
qsizetype FindKey(QByteArrayView chunk, QByteArrayView key, char previous)
{
    for (qsizetype at = chunk.indexOf(key); at >= 0; at = chunk.indexOf(key, at + 1)) {
        const char before = at > 0 ? chunk[at - 1] : previous;
        if (IsBlank(before) || (before == 'L' && key == "size="))
            return at;
    }
    return -1;
}

// The window of text after a key, or nothing when the key is missing or too close to the end.
std::optional<QByteArrayView> Window(QByteArrayView chunk, char previous, QByteArrayView key,
                                     qsizetype width, qsizetype minTail)
{
    const qsizetype at = FindKey(chunk, key, previous);
    if (at < 0 || chunk.size() - at < minTail)
        return std::nullopt;
    return chunk.sliced(at + key.size()).first(std::min(width, chunk.size() - at - key.size()));
}

// Leading blanks and a '+' are skipped as the C conversions do; the number itself is read
// without regard to the locale, so a comma-decimal locale cannot change it.
QByteArrayView NumberStart(QByteArrayView text)
{
    qsizetype i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (i < text.size() && text[i] == '+')
        ++i;
    return text.sliced(i);
}

std::optional<double> ReadDouble(QByteArrayView text,
                                 std::chars_format format = std::chars_format::general)
{
    const QByteArrayView s = NumberStart(text);
    double value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, format);
    if (ec != std::errc() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<qint32> ReadInt(QByteArrayView text)
{
    const QByteArrayView s = NumberStart(text);
    long long value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc())
        return std::nullopt;
    constexpr long long lo = std::numeric_limits<qint32>::min();
    constexpr long long hi = std::numeric_limits<qint32>::max();
    return qint32(std::clamp(value, lo, hi));
}

qsizetype Digits(QByteArrayView s, qsizetype from)
{
    qsizetype i = from;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        ++i;
    return i - from;
}

// [-]H+:MM:SS[.f+] right after the key (blanks allowed before it). Two seconds digits must
// have arrived, so a clock cut by the chunk's end is never read as a smaller time.
std::optional<double> ReadClock(QByteArrayView afterKey)
{
    qsizetype i = 0;
    while (i < afterKey.size() && afterKey[i] == ' ')
        ++i;
    const bool negative = i < afterKey.size() && afterKey[i] == '-';
    const qsizetype h = negative ? i + 1 : i;
    const qsizetype hLen = Digits(afterKey, h);
    const qsizetype m = h + hLen + 1;
    if (hLen == 0 || m + 5 > afterKey.size() || afterKey[m - 1] != ':' ||
        Digits(afterKey, m) != 2 || afterKey[m + 2] != ':' || Digits(afterKey, m + 3) != 2)
        return std::nullopt;
    qsizetype end = m + 5;
    if (end < afterKey.size() && afterKey[end] == '.')
        end += 1 + Digits(afterKey, end + 1);
    const auto hours = ReadDouble(afterKey.sliced(h, hLen));
    const auto minutes = ReadDouble(afterKey.sliced(m, 2));
    const auto seconds = ReadDouble(afterKey.sliced(m + 3, end - m - 3));
    if (!hours || !minutes || !seconds)
        return std::nullopt;
    // Hundreds of hour digits still read as a finite number, but not once turned into seconds.
    const double total = *hours * 3600.0 + *minutes * 60.0 + *seconds;
    if (!std::isfinite(total))
        return std::nullopt;
    return negative ? -total : total;
}

std::optional<double> ReadTime(QByteArrayView chunk, char previous)
{
    const QByteArrayView key("time=");
    const qsizetype at = FindKey(chunk, key, previous);
    if (at < 0 || chunk.size() - at < timeMinTail)
        return std::nullopt;
    if (const auto clock = ReadClock(chunk.sliced(at + key.size())))
        return clock;
    // A clock cut short by the chunk's end must not read as its first field.
    const QByteArrayView window = *Window(chunk, previous, key, timeWindow, timeMinTail);
    if (window.contains(':'))
        return std::nullopt;
    return ReadDouble(window);
}

} // namespace

ProgressFields ProgressFields::Read(QByteArrayView chunk, char previous)
{
    const qsizetype nul = chunk.indexOf('\0');
    if (nul >= 0)
        chunk = chunk.first(nul);
    ProgressFields fields;
    // A frame count is plain digits. Read with an exponent, six characters could claim 1e308
    // frames, and the rate computed from them would overflow to infinity.
    if (const auto w = Window(chunk, previous, "frame=", frameWindow, frameMinTail))
        fields.frames = ReadDouble(*w, std::chars_format::fixed);
    if (const auto w = Window(chunk, previous, "size=", sizeWindow, sizeMinTail))
        fields.sizeKB = ReadInt(*w);
    fields.encodedSeconds = ReadTime(chunk, previous);
    return fields;
}

void ProgressFields::TakeInto(ConversionTask &task, quint32 elapsedMs) const
{
    if (frames && elapsedMs != 0)
        task.framesPerSecond = *frames * 1000.0 / double(elapsedMs);
    if (sizeKB)
        task.sizeKB = *sizeKB;
    if (encodedSeconds)
        task.encodedSeconds = *encodedSeconds;
}
