#pragma once

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
    void ShowLinkState(const std::string& port, bool lost) override
    {
        linkState = lost ? port + " lost" : "";
    }
    void LogNotice(const std::string& text) override { notices.push_back(text); }

    std::string logText;
    std::pair<int, int> selection {-1, -1};
    std::string runCaption = "&Run"; ///< the template's caption before the first start
    std::vector<std::string> boxes; ///< every box in order; error boxes start with "error: "
    bool timerArmed = false;
    bool failSetTimer = false;
    std::string linkState; ///< "COM<n> lost" while the relay says so
    std::vector<std::string> notices;
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

/// A front end that shows nothing, for benchmarks: the relay's own work is what they measure.
struct NullWindow : RelayWindow
{
    void ShowLog(const std::string&, int, int) override { }
    void SetRunCaption(const std::string&) override { }
    void ShowMessage(const std::string&) override { }
    void ShowError(const std::string&) override { }
    bool SetTimer() override { return true; }
    void KillTimer() override { }
    void ShowLinkState(const std::string&, bool) override { }
    void LogNotice(const std::string&) override { }
};

/// A page source that never answers.
struct NullPageSource : PageSource
{
    void Start(const std::string&, Done) override { }
    void Cancel() override { }
};

/// A page source that answers at once with prepared results in turn, the last one again when
/// they run out.
struct FakePageSource : PageSource
{
    void Start(const std::string& url, Done done) override
    {
        urls.push_back(url);
        done(results.at(std::min(urls.size(), results.size()) - 1));
    }
    void Cancel() override { ++cancels; }
    /// Complete status-200 bodies.
    void Serve(const std::vector<std::string>& bodies)
    {
        results.clear();
        for (const std::string& body : bodies) {
            results.push_back({{body, {}, true, {}}, {}});
        }
    }

    std::vector<PageResult> results {{}};
    std::vector<std::string> urls; ///< every URL asked for
    int cancels = 0;
};

} // namespace testing_support
