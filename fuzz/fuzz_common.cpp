#include "fuzz_common.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <unistd.h>

const std::string& fuzzing::ProcessTempDir()
{
    // Memory-backed, as the country file is rewritten for every input.
    static std::string dir = "/dev/shm/quarnel-fuzz-XXXXXX";
    static const bool made = mkdtemp(dir.data()) != nullptr && chdir(dir.c_str()) == 0
        && std::atexit([] { std::filesystem::remove_all(dir); }) == 0;
    FUZZ_CHECK(made, dir);
    return dir;
}

void fuzzing::WriteFileHere(const char* name, std::string_view content)
{
    FUZZ_CHECK(std::ofstream(name, std::ios::binary).write(content.data(), std::ssize(content)), name);
}

void fuzzing::Fail(const std::string& what)
{
    std::fprintf(stderr, "\n==== invariant broken ====\n%s\n", what.c_str());
    std::abort();
}

std::string fuzzing::Escaped(std::string_view bytes)
{
    return std::accumulate(
        bytes.begin(), bytes.end(), std::string(), [](const std::string& out, unsigned char c) {
            const char hex[] = {'\\', 'x', "0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15], '\0'};
            return out + (c >= 0x20 && c < 0x7f && c != '\\' ? std::string(1, static_cast<char>(c)) : hex);
        });
}
