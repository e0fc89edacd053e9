#pragma once

#include "relay/relay_front_end.h"

#include <cstdio>
#include <map>
#include <string>

/// The front end without a window, for a board beside the radio: what the window would show goes
/// to the console instead. Each new log entry is one line on `out`; each message, and the state of
/// every link, is one line on `err` with a UTC time stamp. Nothing ever waits for an answer.
class ConsoleFrontEnd : public RelayFrontEnd
{
public:
    ConsoleFrontEnd(std::FILE* out, std::FILE* err);

    void ShowLog(const std::string& text, int selStart, int selEnd) override;
    void SetRunCaption(const std::string& caption) override;
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void ShowLinkState(const std::string& link, const std::string& state) override;
    void LogNotice(const std::string& text) override;

private:
    /// One line on `err`, time-stamped, the lines of a multi-line text joined.
    void Report(const std::string& text) const;

    std::FILE* m_out;
    std::FILE* m_err;
    std::map<std::string, std::string> m_linkStates; ///< the last state each link reported
};
