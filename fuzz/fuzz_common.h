#pragma once

#include <string>
#include <string_view>

namespace fuzzing {

/// A private directory made once per process and removed at exit; it becomes the current
/// directory, so the bare name "cty.dat" that the country lookup opens resolves inside it.
const std::string& ProcessTempDir();

/// Writes `content` to `name` in the current directory, replacing what was there.
void WriteFileHere(const char* name, std::string_view content);

/// Reports a broken invariant with enough context to read the failure, then aborts so that
/// libFuzzer saves the input.
[[noreturn]] void Fail(const std::string& what);

/// Shows a byte string with the bytes outside printable ASCII (and the backslash) as \xNN.
std::string Escaped(std::string_view bytes);

} // namespace fuzzing

#define FUZZ_CHECK(cond, what) ((cond) ? void() : ::fuzzing::Fail("failed: " #cond "\n" + std::string(what)))
