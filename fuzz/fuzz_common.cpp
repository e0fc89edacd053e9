#include "fuzz_common.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fuzzing {

namespace {

std::string g_tempDir;

void RemoveTempDir()
{
    if (g_tempDir.empty()) {
        return;
    }
    std::error_code ec;
    std::filesystem::current_path("/", ec);
    std::filesystem::remove_all(g_tempDir, ec);
}

} // namespace

const std::string& ProcessTempDir()
{
    if (g_tempDir.empty()) {
        // Memory-backed when possible: the country file is rewritten for every input, and a disk
        // file system flushes a file that is truncated and written again.
        const std::filesystem::path base
            = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::string pattern = (base / "quarnel-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            Fail("mkdtemp failed");
        }
        g_tempDir = pattern;
        std::filesystem::current_path(g_tempDir);
        std::atexit(RemoveTempDir);
    }
    return g_tempDir;
}

void WriteFileHere(const char* name, std::string_view content)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) {
        Fail(std::string("cannot write ") + name);
    }
}

void Fail(const std::string& what)
{
    std::fprintf(stderr, "\n==== invariant broken ====\n%s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

std::string Escaped(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (u >= 0x20 && u < 0x7f) {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        }
    }
    return out;
}

} // namespace fuzzing
