#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// How a reader takes the text of a telnet connection. The defaults read what a logger sends to
/// a node; `kNodeText` reads what a node sends to its clients.
struct TelnetStyle
{
    /// Bytes from 0x80 up stay in the line (UTF-8 comments); otherwise only printable ASCII does.
    bool keepHighBytes = false;
    /// A CR alone ends a line, as a logger's Enter key may send it; otherwise only LF and CR LF do.
    bool loneCrEndsLine = true;
    /// Option requests are refused (TakeAnswers); otherwise they are dropped unanswered.
    bool refuseOptions = false;
};

/// What a cluster node or a skimmer network sends: lines of UTF-8 text ended by LF or CR LF, and
/// negotiation that a plain client refuses.
inline constexpr TelnetStyle kNodeText {
    .keepHighBytes = true, .loneCrEndsLine = false, .refuseOptions = true};

/// Cuts the bytes of a telnet or raw TCP connection into lines. Telnet negotiation (IAC and its
/// command, option and subnegotiation bytes) never reaches a line, control characters are dropped
/// (a tab reads as a blank), and a line keeps at most `maxLength` bytes: the rest of it is dropped.
/// With the default style a CR, an LF or a CR LF ends a line and bytes outside printable ASCII are
/// dropped.
class TelnetLines
{
public:
    explicit TelnetLines(std::size_t maxLength, TelnetStyle style = {});

    /// Takes the next received bytes; returns the lines they complete, in order, without line ends.
    [[nodiscard]] std::vector<std::string> Feed(std::string_view bytes);
    /// The text received since the last line end: where a prompt waits for an answer.
    [[nodiscard]] const std::string& Pending() const { return m_line; }
    /// Forgets the text received since the last line end (a prompt that was answered).
    void DropPending() { m_line.clear(); }
    /// The refusals of the options requested so far (IAC WONT for a DO, IAC DONT for a WILL), to
    /// be sent back; empty unless the style refuses options.
    [[nodiscard]] std::string TakeAnswers();

private:
    enum class State
    {
        Text,
        Command,
        Option,
        Subnegotiation,
        SubnegotiationIac
    };

    /// Whether `byte` of the text goes into the line.
    [[nodiscard]] bool Keeps(unsigned char byte) const;
    void Answer(unsigned char option);

    std::size_t m_maxLength;
    TelnetStyle m_style;
    State m_state = State::Text;
    unsigned char m_command = 0; ///< WILL, WONT, DO or DONT while its option byte is awaited
    bool m_afterCr = false;
    std::string m_line;
    std::string m_answers;
};
