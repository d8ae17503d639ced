// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for an encoder: prints status lines in ffmpeg's layout to standard error (each
// ending in '\r'), stops on "q" read from standard input and ends with exit 0.
//   --frames N     status lines to print (default 10)
//   --interval MS  pause between lines (default 50)
//   --silent       print nothing at all
//   --exit CODE    exit code when ending on its own (default 0)
//   --crash        end by abort() instead
//   --hang         print nothing, ignore "q" and never end (a tool that stopped making progress)
//   --write PATH   append a few bytes to PATH with every status line (and every second while
//                  hanging), as an encoder grows its file
//   --q-file PATH  create PATH when "q" arrives, for a test to tell the tool was asked to quit
//   --scratch PATH create PATH at the start and remove it on ending, as tools do with scratch
//                  files beside their output (one killed leaves it); may come several times
//   --tag TEXT     ignored: lets a test tell its stand-in tools apart in the process list
//   --spawn        start a child of its own that sleeps for a minute, as tools that run helpers
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
    int frames = 10, interval = 50, exitCode = 0;
    bool hang = false, silent = false, crash = false, spawn = false;
    const char *writePath = nullptr, *qFile = nullptr;
    std::vector<const char *> scratch;
};

Options Parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--frames" && more)
            o.frames = std::atoi(argv[++i]);
        else if (a == "--interval" && more)
            o.interval = std::atoi(argv[++i]);
        else if (a == "--exit" && more)
            o.exitCode = std::atoi(argv[++i]);
        else if (a == "--silent" || a == "--hang")
            o.silent = true, o.hang = o.hang || a == "--hang";
        else if (a == "--crash")
            o.crash = true;
        else if (a == "--spawn")
            o.spawn = true;
        else if (a == "--write" && more)
            o.writePath = argv[++i];
        else if (a == "--q-file" && more)
            o.qFile = argv[++i];
        else if (a == "--scratch" && more)
            o.scratch.push_back(argv[++i]);
        else if (a == "--tag" && more)
            ++i;
    }
    return o;
}

void Say(const Options &o, const std::string &text)
{
    if (!o.silent && write(2, text.data(), text.size()) < 0)
        std::exit(3);
}

std::string Status(int frame, const char *sizeKey, char end)
{
    const double t = frame / 15.0;
    char line[200];
    std::snprintf(line, sizeof line,
                  "frame=%5d fps= 15 q=5.0 %s=%8dkB time=00:%02d:%05.2f bitrate= 224.4kbits/s "
                  "speed=1x    %c",
                  frame, sizeKey, frame * 4, int(t) / 60, t - (int(t) / 60) * 60, end);
    return line;
}

void Grow(const Options &o)
{
    if (FILE *f = o.writePath ? std::fopen(o.writePath, "ab") : nullptr) {
        std::fputs("fake encoder data\n", f);
        std::fclose(f);
    }
}

// Waits up to ms for input; true when "q" arrived.
bool WaitForQ(const Options &o, int ms)
{
    static bool inputOpen = true;
    pollfd p{0, POLLIN, 0};
    if (!inputOpen)
        return poll(nullptr, 0, ms), false;
    if (poll(&p, 1, ms) <= 0)
        return false;
    char c = 0;
    inputOpen = read(0, &c, 1) > 0;
    return inputOpen && c == 'q' && !o.hang;
}

int Quit(const Options &o, int frame)
{
    if (FILE *f = o.qFile ? std::fopen(o.qFile, "wb") : nullptr)
        std::fclose(f);
    Say(o, "\n[q] command received. Exiting.\n\n");
    Say(o, Status(frame + 1, "size", '\r') + Status(frame + 2, "Lsize", '\n'));
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
    for (const char *scratch : o.scratch)
        if (FILE *f = std::fopen(scratch, "wb")) {
            std::fputs("scratch\n", f);
            std::fclose(f);
        }
    int frame = 0;
    for (; frame < o.frames; ++frame) {
        Say(o, Status(frame + 1, "size", '\r'));
        Grow(o);
        if (WaitForQ(o, o.interval))
            return Quit(o, frame + 1);
    }
    while (o.hang) {
        Grow(o);
        WaitForQ(o, 1000);
    }
    Say(o, Status(frame, "Lsize", '\n'));
    for (const char *scratch : o.scratch)
        std::remove(scratch);
    if (o.crash)
        std::abort();
    return o.exitCode;
}
