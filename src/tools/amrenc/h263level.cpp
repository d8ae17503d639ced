// SPDX-License-Identifier: GPL-3.0-or-later
#include "h263level.h"

#include "toolerror.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Box {
    int64_t start = 0;   // of the header
    int64_t payload = 0; // first byte after the header
    int64_t end = 0;
    std::array<char, 4> type{};
};

void ReadAt(int fd, int64_t offset, unsigned char *data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, data + done, size - done, off_t(offset + int64_t(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ToolError(SystemError("cannot read back the output", errno));
        if (n == 0)
            throw ToolError("the output ends inside a box");
        done += size_t(n);
    }
}

uint64_t BigEndian(const unsigned char *p, int bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | p[i];
    return value;
}

// The box that starts at `at`, inside a parent that ends at `limit`; nothing when it does not fit.
bool ReadBox(int fd, int64_t at, int64_t limit, Box &box)
{
    if (limit - at < 8)
        return false;
    unsigned char header[16];
    ReadAt(fd, at, header, 8);
    uint64_t size = BigEndian(header, 4);
    int64_t headerSize = 8;
    if (size == 1) {
        if (limit - at < 16)
            return false;
        ReadAt(fd, at + 8, header + 8, 8);
        size = BigEndian(header + 8, 8);
        headerSize = 16;
    } else if (size == 0) {
        size = uint64_t(limit - at);
    }
    if (size < uint64_t(headerSize) || size > uint64_t(limit - at))
        return false;
    box.start = at;
    box.payload = at + headerSize;
    box.end = at + int64_t(size);
    std::memcpy(box.type.data(), header + 4, 4);
    return true;
}

bool Is(const Box &box, const char *type)
{
    return std::memcmp(box.type.data(), type, 4) == 0;
}

// Walks the children of [from, to) and calls visit for each.
template <typename Visit> void Children(int fd, int64_t from, int64_t to, Visit visit)
{
    Box box;
    for (int64_t at = from; ReadBox(fd, at, to, box); at = box.end)
        visit(box);
}

// An H.263 sample entry: the 8-byte sample entry fields, then 70 bytes of visual fields,
// then its own boxes, among them 'd263' (vendor 4 bytes, decoder version 1, level 1, profile 1).
int PatchSampleEntry(int fd, const Box &entry, int level)
{
    int patched = 0;
    Children(fd, entry.payload + 8 + 70, entry.end, [&](const Box &child) {
        if (!Is(child, "d263") || child.end - child.payload < 7)
            return;
        const unsigned char byte = static_cast<unsigned char>(level);
        const off_t at = off_t(child.payload + 5);
        ssize_t n;
        do
            n = pwrite(fd, &byte, 1, at);
        while (n < 0 && errno == EINTR);
        if (n != 1)
            throw ToolError(SystemError("cannot write the output", n < 0 ? errno : EIO));
        ++patched;
    });
    return patched;
}

int PatchTrack(int fd, const Box &trak, int level)
{
    int patched = 0;
    // trak > mdia > minf > stbl > stsd (a full box: version and flags, entry count, entries).
    const char *const path[] = {"mdia", "minf", "stbl", "stsd"};
    std::function<void(const Box &, int)> descend = [&](const Box &parent, int depth) {
        Children(fd, parent.payload, parent.end, [&](const Box &child) {
            if (!Is(child, path[depth]))
                return;
            if (depth < 3) {
                descend(child, depth + 1);
                return;
            }
            Children(fd, child.payload + 8, child.end, [&](const Box &entry) {
                if (Is(entry, "s263") || Is(entry, "h263"))
                    patched += PatchSampleEntry(fd, entry, level);
            });
        });
    };
    descend(trak, 0);
    return patched;
}

} // namespace

namespace h263level {

std::optional<int> Parse(const std::string &text)
{
    for (int level : {10, 20, 30, 40, 45, 50, 60, 70})
        if (text == std::to_string(level))
            return level;
    return std::nullopt;
}

void Write(int fd, int level)
{
    struct stat st {
    };
    if (fstat(fd, &st) != 0)
        throw ToolError(SystemError("cannot read back the output", errno));
    int patched = 0;
    Children(fd, 0, int64_t(st.st_size), [&](const Box &top) {
        if (Is(top, "moov"))
            Children(fd, top.payload, top.end, [&](const Box &trak) {
                if (Is(trak, "trak"))
                    patched += PatchTrack(fd, trak, level);
            });
    });
    if (patched == 0)
        throw ToolError("the video is not H.263, so it has no H.263 level to set");
}

} // namespace h263level
