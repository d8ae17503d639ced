// SPDX-License-Identifier: GPL-3.0-or-later
// kestrani-amrenc: the AMR step of the 3GP + AMR profiles. Reads the intermediate that the
// first pass wrote and writes a 3GP with the video copied and the audio in AMR-NB.
#include "amrnbencoder.h"
#include "amrtranscoder.h"
#include "h263level.h"
#include "toolerror.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

const char *const usage =
    "usage: kestrani-amrenc [-m MODE] [--h263-level N] [--] INPUT OUTPUT\n"
    "Copies the video of INPUT and encodes its audio to AMR-NB 8 kHz mono into the 3GP file\n"
    "OUTPUT, which appears only when complete (INPUT may be OUTPUT).\n"
    "  -m, --mode MODE   band mode: %s, or its rate (12200, 12.2k); default MR122\n"
    "  --h263-level N    the H.263 level the output declares: 10, 20, 30, 40, 45, 50, 60 or\n"
    "                    70 (the video must be H.263 and fit it); default: as INPUT says\n"
    "  -h, --help        this text\n"
    "  --version         the version\n"
    "Exit status: 0 done, 1 conversion failed, 2 usage error.\n";

struct Options {
    int mode = 7; // MR122: the best quality the phones' codec has
    std::optional<int> h263Level;
    std::vector<std::string> files;
    bool help = false;
    bool version = false;
};

int UsageError(const std::string &message)
{
    std::fprintf(stderr, "kestrani-amrenc: %s\nTry 'kestrani-amrenc --help'.\n", message.c_str());
    return 2;
}

// Returns an error text, or nothing when the arguments are valid. Options end at "--";
// every other argument that is not an option is a file name, whatever it looks like after.
std::optional<std::string> Parse(int argc, char **argv, Options &options)
{
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "-m" || arg == "--mode" || arg.rfind("--mode=", 0) == 0) {
            std::string value;
            if (arg.size() > 7)
                value = arg.substr(7);
            else if (i + 1 < argc)
                value = argv[++i];
            else
                return "missing band mode after " + arg;
            const std::optional<int> mode = AmrNbEncoder::ParseMode(value);
            if (!mode)
                return "unknown band mode '" + value + "'";
            options.mode = *mode;
        } else if (arg == "--h263-level" || arg.rfind("--h263-level=", 0) == 0) {
            std::string value;
            if (arg.size() > 12)
                value = arg.substr(13);
            else if (i + 1 < argc)
                value = argv[++i];
            else
                return "missing level after " + arg;
            options.h263Level = h263level::Parse(value);
            if (!options.h263Level)
                return "unknown H.263 level '" + value + "'";
        } else {
            return "unknown option '" + arg + "' (put -- before a file name that starts with -)";
        }
    }
    if (!options.help && !options.version && options.files.size() != 2)
        return "give one INPUT and one OUTPUT file";
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (const std::optional<std::string> error = Parse(argc, argv, options))
        return UsageError(*error);
    if (options.help) {
        std::printf(usage, AmrNbEncoder::ModeNames().c_str());
        return 0;
    }
    if (options.version) {
        std::printf("kestrani-amrenc 1.0\n");
        return 0;
    }
    av_log_set_level(AV_LOG_ERROR);
    try {
        AmrTranscoder(options.files[0], options.files[1], options.mode, options.h263Level).Run();
    } catch (const ToolError &error) {
        std::fprintf(stderr, "kestrani-amrenc: %s\n", error.what());
        return 1;
    }
    return 0;
}
