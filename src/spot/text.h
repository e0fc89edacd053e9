#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Widths of text meant for people are counted in characters, never bytes: a cut inside a
// character would put invalid UTF-8 on every line that carries it.

/// `text` with every byte that is not part of a well-formed UTF-8 character replaced by '?'.
[[nodiscard]] std::string ValidUtf8(std::string_view text);

/// The characters of `text`; each byte that is not part of a well-formed character counts as one.
[[nodiscard]] std::size_t CharacterCount(std::string_view text);

/// The first `count` characters of `text`, never a part of one; all of it when it has fewer.
[[nodiscard]] std::string_view FirstCharacters(std::string_view text, std::size_t count);

/// `text` cut or filled with blanks to exactly `width` characters.
[[nodiscard]] std::string FitToWidth(std::string_view text, std::size_t width);

/// `text` without the blanks at its ends.
[[nodiscard]] std::string_view TrimBlanks(std::string_view text);

/// `text` with its ASCII letters in upper case.
[[nodiscard]] std::string UpperAscii(std::string_view text);
