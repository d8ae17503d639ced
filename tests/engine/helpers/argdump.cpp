// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the arguments it received (not its own name), each followed by a NUL byte, to the
// file named by ARGDUMP_FILE, or to standard output when that is unset; then exits 0.
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    const char *path = std::getenv("ARGDUMP_FILE");
    FILE *out = path ? std::fopen(path, "wb") : stdout;
    if (!out)
        return 2;
    for (int i = 1; i < argc; ++i)
        std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, out);
    return std::fclose(out) == 0 ? 0 : 2;
}
