#include "telnet/telnet_lines.h"

#include <utility>

namespace {

constexpr unsigned char kIac = 255;
constexpr unsigned char kSubnegotiationBegin = 250;
constexpr unsigned char kSubnegotiationEnd = 240;
constexpr unsigned char kWill = 251;
constexpr unsigned char kWont = 252;
constexpr unsigned char kDo = 253;
constexpr unsigned char kDont = 254;

} // namespace

TelnetLines::TelnetLines(std::size_t maxLength, TelnetStyle style)
    : m_maxLength(maxLength)
    , m_style(style)
{
}

std::vector<std::string> TelnetLines::Feed(std::string_view bytes)
{
    std::vector<std::string> lines;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (m_state) {
        case State::Command:
            // WILL, WONT, DO and DONT name an option; IAC IAC is a data byte no line needs.
            m_command = byte;
            m_state = byte >= kWill && byte <= kDont ? State::Option
                : byte == kSubnegotiationBegin       ? State::Subnegotiation
                                                     : State::Text;
            continue;
        case State::Option:
            Answer(byte);
            m_state = State::Text;
            continue;
        case State::Subnegotiation:
            m_state = byte == kIac ? State::SubnegotiationIac : State::Subnegotiation;
            continue;
        case State::SubnegotiationIac:
            m_state = byte == kSubnegotiationEnd ? State::Text : State::Subnegotiation;
            continue;
        case State::Text:
            break;
        }
        if (byte == kIac) {
            m_state = State::Command;
            continue;
        }
        // CR LF is one line end; a CR followed by anything else (a NUL from telnet) ends it alone.
        if (std::exchange(m_afterCr, false) && byte == '\n') {
            continue;
        }
        if (byte == '\n' || (byte == '\r' && m_style.loneCrEndsLine)) {
            m_afterCr = byte == '\r';
            lines.push_back(std::exchange(m_line, {}));
        } else if (Keeps(byte) && m_line.size() < m_maxLength) {
            m_line += byte == '\t' ? ' ' : static_cast<char>(byte);
        }
    }
    return lines;
}

std::string TelnetLines::TakeAnswers()
{
    return std::exchange(m_answers, {});
}

bool TelnetLines::Keeps(unsigned char byte) const
{
    return byte == '\t' || (byte >= 0x20 && byte < 0x7F) || (m_style.keepHighBytes && byte >= 0x80);
}

void TelnetLines::Answer(unsigned char option)
{
    // Refusing what is requested and nothing else: a WONT or DONT needs no answer, and answering
    // one could start a loop with the peer.
    if (!m_style.refuseOptions || (m_command != kDo && m_command != kWill)) {
        return;
    }
    m_answers += static_cast<char>(kIac);
    m_answers += static_cast<char>(m_command == kDo ? kWont : kDont);
    m_answers += static_cast<char>(option);
}
