#pragma once

#include "relay/relay_window.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

/// A window for the relay core that records what the relay asked of it.
class FakeWindow : public RelayWindow
{
public:
    void ShowLog(const std::string& text, int start, int end) override
    {
        logText = text;
        selStart = start;
        selEnd = end;
        ++showLogCalls;
    }
    void SetRunCaption(const std::string& caption) override { runCaption = caption; }
    void ShowMessage(const std::string& text) override { OpenBox(messages, text); }
    void ShowError(const std::string& text) override { OpenBox(errors, text); }
    bool SetTimer() override { return timerArmed = !failSetTimer; }
    void KillTimer() override { timerArmed = false; }

    std::string logText;
    int selStart = -1;
    int selEnd = -1;
    int showLogCalls = 0;
    std::string runCaption = "&Run"; ///< the template's caption before the first start
    std::vector<std::string> messages;
    std::vector<std::string> errors;
    bool timerArmed = false;
    bool failSetTimer = false;
    std::function<void()> whileBoxOpen; ///< runs while a box is open, as its message loop would

private:
    void OpenBox(std::vector<std::string>& boxes, const std::string& text)
    {
        boxes.push_back(text);
        if (whileBoxOpen) {
            whileBoxOpen();
        }
    }
};

/// A page source that hands out prepared bodies (the last one again when they run out).
class FakePageSource : public PageSource
{
public:
    std::string FetchPage(const std::string& url, RelayWindow& window) override;

    std::vector<std::string> bodies;
    std::vector<std::string> urls; ///< every URL asked for
    std::optional<std::string> sessionError; ///< thrown as a FetchSessionError when set

private:
    std::size_t m_nextBody = 0;
};

} // namespace testing_support
