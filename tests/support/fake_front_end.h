#pragma once

#include "relay/relay_front_end.h"
#include "spot/spot_output.h"
#include "spot/spot_source.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

/// A front end for the relay core that records what it was asked to show.
class FakeFrontEnd : public RelayFrontEnd
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
    void ShowLinkState(const std::string& link, const std::string& state) override
    {
        linkState = state.empty() ? "" : link + " " + state;
    }
    void LogNotice(const std::string& text) override { notices.push_back(text); }

    std::string logText;
    std::pair<int, int> selection {-1, -1};
    std::string runCaption = "&Run"; ///< the template's caption before the first start
    std::vector<std::string> boxes; ///< every box in order; error boxes start with "error: "
    std::string linkState; ///< "COM<n> lost" while a link says so
    std::vector<std::string> notices;
    std::function<void()> whileBoxOpen; ///< runs while a box is open, as a nested message loop would

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
struct NullFrontEnd : RelayFrontEnd
{
    void ShowLog(const std::string&, int, int) override { }
    void SetRunCaption(const std::string&) override { }
    void ShowMessage(const std::string&) override { }
    void ShowError(const std::string&) override { }
    void ShowLinkState(const std::string&, const std::string&) override { }
    void LogNotice(const std::string&) override { }
};

/// An output that keeps the cluster lines it was handed, and what the relay asked of it.
struct RecordingOutput : SpotOutput
{
    std::string Open() override { return ++opens, openError; }
    void Close(bool keepWaiting) override { closes += keepWaiting ? "k" : "c"; }
    std::string Apply() override { return ++applies, std::string(); }
    void Send(const Spot& spot) override { lines.push_back(ClusterLine(spot)); }

    std::vector<std::string> lines;
    std::string openError; ///< what Open answers
    int opens = 0;
    int applies = 0;
    std::string closes; ///< "c" for a close, "k" for one that keeps what waits
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
            results.push_back({.body = body});
        }
    }

    std::vector<FetchResult> results {{}};
    std::vector<std::string> urls; ///< every URL asked for
    int cancels = 0;
};

} // namespace testing_support
