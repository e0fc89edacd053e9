#include "spot/text.h"

#include <algorithm>

namespace {

/// The length of the well-formed UTF-8 character at the start of `text`, or 0 when its first byte
/// starts none (overlong forms, surrogates and code points past U+10FFFF are not well-formed).
std::size_t CharacterLength(std::string_view text)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

} // namespace

std::string ValidUtf8(std::string_view text)
{
    std::string valid;
    valid.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = CharacterLength(text);
        valid.append(length == 0 ? std::string_view("?") : text.substr(0, length));
        text.remove_prefix(std::max<std::size_t>(length, 1));
    }
    return valid;
}

std::size_t CharacterCount(std::string_view text)
{
    std::size_t count = 0;
    for (; !text.empty(); ++count) {
        text.remove_prefix(std::max<std::size_t>(CharacterLength(text), 1));
    }
    return count;
}

std::string_view FirstCharacters(std::string_view text, std::size_t count)
{
    std::size_t bytes = 0;
    for (; count > 0 && bytes < text.size(); --count) {
        bytes += std::max<std::size_t>(CharacterLength(text.substr(bytes)), 1);
    }
    return text.substr(0, bytes);
}

std::string FitToWidth(std::string_view text, std::size_t width)
{
    std::string fitted(FirstCharacters(text, width));
    fitted.append(width - CharacterCount(fitted), ' ');
    return fitted;
}

std::string_view TrimBlanks(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string UpperAscii(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}
