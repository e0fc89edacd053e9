#include "headless/console_front_end.h"

ConsoleFrontEnd::ConsoleFrontEnd(std::FILE* out, std::FILE* err)
    : m_out(out)
    , m_err(err)
{
}

void ConsoleFrontEnd::Report(const std::string& text) const
{
    std::fprintf(m_err, "%s\n", ConsoleLine(text).c_str());
    std::fflush(m_err);
}

void ConsoleFrontEnd::ShowLog(const std::string& text, int, int)
{
    // The log shows its newest entry last; the console prints just that entry. An invalid-page
    // note carries its own line end, a cluster line none.
    std::size_t end = text.find_last_not_of("\r\n");
    end = end == std::string::npos ? 0 : end + 1;
    const std::size_t lf = text.rfind('\n', end);
    const std::size_t start = lf == std::string::npos || end == 0 ? 0 : lf + 1;
    std::fprintf(m_out, "%s\n", text.substr(start, end - start).c_str());
    std::fflush(m_out);
}

void ConsoleFrontEnd::SetRunCaption(const std::string&)
{
    // No button: the relay runs from start to signal.
}

void ConsoleFrontEnd::ShowMessage(const std::string& text)
{
    Report(text);
}

void ConsoleFrontEnd::ShowError(const std::string& text)
{
    Report("error: " + text);
}

void ConsoleFrontEnd::ShowLinkState(const std::string& link, const std::string& state)
{
    // The end of a state is named by what it ends: a link that was lost is back, one that was
    // connecting is connected.
    std::string& was = m_linkStates[link];
    if (state == was) {
        return;
    }
    if (!state.empty()) {
        Report(link + " " + state);
    } else {
        Report(link + (was == "connecting" ? " connected" : " back"));
    }
    was = state;
}

void ConsoleFrontEnd::LogNotice(const std::string& text)
{
    Report(text);
}
