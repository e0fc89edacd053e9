#pragma once

#include "net/fetch_page.h"
#include "relay/relay_window.h"

#include <algorithm>

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
        selection = {start, end};
    }
    void SetRunCaption(const std::string& caption) override { runCaption = caption; }
    void ShowMessage(const std::string& text) override { OpenBox(text); }
    void ShowError(const std::string& text) override { OpenBox("error: " + text); }
    bool SetTimer() override { return timerArmed = !failSetTimer; }
    void KillTimer() override { timerArmed = false; }

    std::string logText;
    std::pair<int, int> selection {-1, -1};
    std::string runCaption = "&Run"; ///< the template's caption before the first start
    std::vector<std::string> boxes;  ///< every box in order; error boxes start with "error: "
    bool timerArmed = false;
    bool failSetTimer = false;
    std::function<void()> whileBoxOpen; ///< runs while a box is open, as its message loop would

private:
    void OpenBox(const std::string& text)
    {
        boxes.push_back(text);
        if (whileBoxOpen) {
            whileBoxOpen();
        }
    }
};

/// A page source that hands out prepared bodies in turn, the last one again when they run out.
struct FakePageSource : PageSource
{
    std::string FetchPage(const std::string& url, RelayWindow&) override
    {
        urls.push_back(url);
        if (sessionError) {
            throw FetchSessionError(*sessionError);
        }
        return bodies.at(std::min(urls.size(), bodies.size()) - 1);
    }

    std::vector<std::string> bodies {""};
    std::vector<std::string> urls;           ///< every URL asked for
    std::optional<std::string> sessionError; ///< thrown as a FetchSessionError when set
};

} // namespace testing_support
