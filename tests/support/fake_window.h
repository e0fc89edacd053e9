#pragma once

#include "relay/relay_window.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

/// A window for the relay core that records what the relay asked of it.
class FakeWindow : public RelayWindow
{
public:
    void ShowLog(const std::string& text, int selStart, int selEnd) override;
    void SetRunCaption(const std::string& caption) override;
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    bool SetTimer() override;
    void KillTimer() override;

    std::string logText;
    int selStart = -1;
    int selEnd = -1;
    int showLogCalls = 0;
    std::string runCaption = "&Run"; ///< the template's caption before the first start
    std::vector<std::string> messages;
    std::vector<std::string> errors;
    bool timerArmed = false;
    bool failSetTimer = false;
    int setTimerCalls = 0;
    int killTimerCalls = 0;
    /// Runs while a message or error box is "open", e.g. to deliver a nested timer tick.
    std::function<void()> whileBoxOpen;
};

/// A page source that hands out prepared bodies (the last one again when they run out).
class FakePageSource : public PageSource
{
public:
    std::string FetchPage(const std::string& url, RelayWindow& window) override;

    std::vector<std::string> bodies;
    std::vector<std::string> urls; ///< every URL asked for
    bool throwSessionError = false;
    /// The text of the FetchSessionError thrown when throwSessionError is set.
    std::string sessionErrorText = "Cannot create the HTTP session";
    /// Runs inside every fetch, before it returns or throws (e.g. a box opened by the fetch).
    std::function<void(RelayWindow&)> duringFetch;
    std::size_t nextBody = 0; ///< index of the body the next fetch returns
};

} // namespace testing_support
