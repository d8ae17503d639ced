// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for an encoder's first pass: prints status lines in ffmpeg's layout to standard
// error (each ending in '\r'), stops on "q" read from standard input and ends with exit 0.
//   --frames N     status lines to print (default 10)
//   --interval MS  pause between lines (default 50)
//   --wait-q       after the lines, keep waiting for "q" instead of ending
//   --ignore-q     treat "q" like any other byte
//   --after-q N    status lines still printed after "q" (default 2)
//   --seconds      time= as seconds ("12.34") instead of a clock ("00:00:12.34")
//   --silent       print nothing at all
//   --exit CODE    exit code when ending on its own (default 0)
//   --crash        end by abort() instead
//   --hang         print nothing, ignore "q" and never end (a tool that stopped making progress)
//   --write PATH   append a few bytes to PATH with every status line (and every second while
//                  waiting), as an encoder grows its file
//   --q-file PATH  create PATH when "q" arrives, for a test to tell the tool was asked to quit
//   --scratch PATH create PATH at the start and remove it on ending, as tools do with scratch
//                  files beside their output (one killed leaves it)
//   --tag TEXT     ignored: lets a test tell its stand-in tools apart in the process list
//   --spawn        start a child of its own that sleeps for a minute, as tools that run helpers
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    int frames = 10, interval = 50, afterQ = 2, exitCode = 0;
    bool waitQ = false, ignoreQ = false, seconds = false, silent = false, crash = false;
    const char *writePath = nullptr;
    const char *qFile = nullptr;
    const char *scratch = nullptr;
    bool spawn = false;
};

Options Parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto next = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
        if (a == "--frames")
            o.frames = next();
        else if (a == "--interval")
            o.interval = next();
        else if (a == "--after-q")
            o.afterQ = next();
        else if (a == "--exit")
            o.exitCode = next();
        else if (a == "--wait-q")
            o.waitQ = true;
        else if (a == "--ignore-q")
            o.ignoreQ = true;
        else if (a == "--seconds")
            o.seconds = true;
        else if (a == "--silent")
            o.silent = true;
        else if (a == "--crash")
            o.crash = true;
        else if (a == "--hang")
            o.silent = o.waitQ = o.ignoreQ = true;
        else if (a == "--write" && i + 1 < argc)
            o.writePath = argv[++i];
        else if (a == "--q-file" && i + 1 < argc)
            o.qFile = argv[++i];
        else if (a == "--scratch" && i + 1 < argc)
            o.scratch = argv[++i];
        else if (a == "--tag" && i + 1 < argc)
            ++i;
        else if (a == "--spawn")
            o.spawn = true;
    }
    return o;
}

void Say(const Options &o, const std::string &text)
{
    if (!o.silent && write(2, text.data(), text.size()) < 0)
        std::exit(3);
}

std::string Status(const Options &o, int frame, const char *sizeKey, char end)
{
    const double t = frame / 15.0;
    char time[32];
    if (o.seconds)
        std::snprintf(time, sizeof time, "%.2f", t);
    else
        std::snprintf(time, sizeof time, "%02d:%02d:%05.2f", int(t) / 3600, int(t) / 60 % 60,
                      t - (int(t) / 60) * 60);
    char line[200];
    std::snprintf(line, sizeof line,
                  "frame=%5d fps= 15 q=5.0 %s=%8dkB time=%s bitrate= 224.4kbits/s speed=1x    %c",
                  frame, sizeKey, frame * 4, time, end);
    return line;
}

bool stdinOpen = true;

void Grow(const Options &o)
{
    if (!o.writePath)
        return;
    if (FILE *f = std::fopen(o.writePath, "ab")) {
        std::fputs("fake encoder data\n", f);
        std::fclose(f);
    }
}

// Waits up to ms for input; true when "q" arrived.
bool WaitForQ(const Options &o, int ms)
{
    if (!stdinOpen) {
        poll(nullptr, 0, ms);
        return false;
    }
    pollfd p{0, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return false;
    char c = 0;
    if (read(0, &c, 1) <= 0) {
        stdinOpen = false;
        return false;
    }
    return c == 'q' && !o.ignoreQ;
}

int Quit(const Options &o, int frame)
{
    if (o.qFile)
        if (FILE *f = std::fopen(o.qFile, "wb"))
            std::fclose(f);
    Say(o, "\n[q] command received. Exiting.\n\n");
    for (int i = 1; i <= o.afterQ; ++i)
        Say(o, Status(o, frame + i, "size", '\r'));
    Say(o, Status(o, frame + o.afterQ, "Lsize", '\n'));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const Options o = Parse(argc, argv);
    // The child keeps this command line, so a test finds it by the folder named there.
    if (o.spawn && fork() == 0) {
        sleep(60);
        _exit(0);
    }
    Say(o, "fake encoder: started\n");
    if (o.scratch)
        if (FILE *f = std::fopen(o.scratch, "wb")) {
            std::fputs("scratch\n", f);
            std::fclose(f);
        }
    int frame = 0;
    for (; frame < o.frames; ++frame) {
        Say(o, Status(o, frame + 1, "size", '\r'));
        Grow(o);
        if (WaitForQ(o, o.interval))
            return Quit(o, frame + 1);
    }
    while (o.waitQ) {
        Grow(o);
        if (WaitForQ(o, 1000))
            return Quit(o, frame);
    }
    Say(o, Status(o, frame, "Lsize", '\n'));
    if (o.scratch)
        std::remove(o.scratch);
    if (o.crash)
        std::abort();
    return o.exitCode;
}
