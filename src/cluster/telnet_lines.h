#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// Cuts what a logger sends over telnet or a raw TCP connection into command lines. Telnet
/// negotiation (IAC and its command, option and subnegotiation bytes) is skipped, bytes outside
/// printable ASCII are dropped (a tab reads as a blank), a CR, an LF or a CR LF ends a line, and a
/// line keeps at most `maxLength` bytes: the rest of it is dropped.
class TelnetLines
{
public:
    explicit TelnetLines(std::size_t maxLength);

    /// Takes the next received bytes; returns the lines they complete, in order, without line ends.
    [[nodiscard]] std::vector<std::string> Feed(std::string_view bytes);

private:
    enum class State
    {
        Text,
        Command,
        Option,
        Subnegotiation,
        SubnegotiationIac
    };

    std::size_t m_maxLength;
    State m_state = State::Text;
    bool m_afterCr = false;
    std::string m_line;
};
