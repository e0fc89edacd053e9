#include "relay/spot_relay.h"

#include "relay/spot_feeds.h"
#include "spot/text.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <utility>

namespace {

// Loggers and users know this entry by its exact text, misspelling included.
constexpr const char* kInvalidPageEntry = "Received unvalid page\r\n";
constexpr std::size_t kHistoryLimit = 99;
constexpr std::size_t kErrorTextLimit = 511;
/// A feed is fetched every 10 s at most, and while it fails 20, 40, ... at most 300 s apart; a
/// <PRE> page every second.
constexpr int kFeedPollSeconds = 10;
constexpr int kFeedBackOffLimitSeconds = 300;

// A cut clipped to the text: a start past the end gives "", a width past the end is shortened.
std::string Cut(const std::string& text, PageColumn column)
{
    if (column.start >= text.size()) {
        return {};
    }
    return text.substr(column.start, column.width);
}

class TickGuard
{
public:
    explicit TickGuard(bool& inTick)
        : m_inTick(inTick)
    {
        m_inTick = true;
    }
    ~TickGuard() { m_inTick = false; }
    TickGuard(const TickGuard&) = delete;
    TickGuard& operator=(const TickGuard&) = delete;

private:
    bool& m_inTick;
};

} // namespace

SpotRelay::SpotRelay(RelayFrontEnd& frontEnd, const RelaySettings& settings, PageSource& pages,
                     std::vector<SpotOutput*> outputs, PushSource* pushSource)
    : m_frontEnd(frontEnd)
    , m_settings(settings)
    , m_pages(pages)
    , m_outputs(std::move(outputs))
    , m_pushSource(pushSource)
    , m_filter(settings)
{
    // Precise, so that a tick never comes early: the polite sources count ticks as seconds.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kTickPeriod);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { OnTimer(); });
}

SpotRelay::~SpotRelay()
{
    m_timer.stop();
    m_pages.Cancel();
    if (m_pushSource != nullptr) {
        m_pushSource->Stop();
    }
}

void SpotRelay::ProcessSpotPage(const std::string& body)
{
    static_cast<void>(ProcessBody(body));
}

SpotRelay::Body SpotRelay::ProcessBody(const std::string& body)
{
    const std::size_t start = body.find("<PRE>");
    const std::size_t end = body.find("</PRE>");
    std::optional<std::vector<Spot>> feed;
    if (start == std::string::npos || end == std::string::npos) {
        // A spot service of today answers in JSON or caret lines: its spots take the road of a
        // page line from the column cut on.
        feed = ParseSpotFeed(body);
        if (!feed) {
            NoteInvalidPage();
            return Body::Invalid;
        }
    }
    m_thisFetch.clear();
    m_inFetch = true;
    if (feed) {
        for (const Spot& spot : *feed) {
            RelaySpot(spot);
        }
    } else if (end >= start + 5) {
        // Whatever follows the last line feed is never a line; "</PRE>" before "<PRE>" is an empty
        // block, and no entry either.
        const std::string block = body.substr(start + 5, end - start - 5);
        std::size_t lineStart = 0;
        for (std::size_t lf = block.find('\n'); lf != std::string::npos; lf = block.find('\n', lineStart)) {
            ProcessSpotLine(block.substr(lineStart, lf - lineStart));
            lineStart = lf + 1;
        }
    }
    m_inFetch = false;
    m_lastFetch = std::move(m_thisFetch);
    m_thisFetch.clear();
    return feed ? Body::Feed : Body::Page;
}

void SpotRelay::ProcessSpotLine(std::string line)
{
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) {
        return;
    }
    // A spotter field of a megabyte would be logged and sent as it is: it is cut.
    RelaySpot({std::string(FirstCharacters(std::string_view(line).substr(0, space), kSpotterLimit)),
               Cut(line, kFrequencyColumn), Cut(line, kDxCallColumn), Cut(line, kCommentColumn),
               Cut(line, kTimeColumn)});
}

void SpotRelay::NoteInvalidPage()
{
    // One entry per outage: a note for every failed second would push the spots out of the
    // duplicate memory, and they would all be sent again when the page comes back.
    if (m_history.empty() || m_history.front() != kInvalidPageEntry) {
        AddLogLine(kInvalidPageEntry);
    }
}

bool SpotRelay::IsDuplicate(const std::string& cluster) const
{
    return std::find(m_history.rbegin(), m_history.rend(), cluster) != m_history.rend()
        || m_lastFetch.contains(cluster) || m_thisFetch.contains(cluster);
}

void SpotRelay::RelaySpot(const Spot& spot)
{
    std::string cluster = ClusterLine(spot);
    if (IsDuplicate(cluster)) {
        return;
    }
    if (m_inFetch) {
        m_thisFetch.insert(cluster);
    }

    // Logged before the filter: a held-back spot is still shown and still remembered.
    AddLogLine(std::move(cluster));

    if (!m_filter.Passes(spot, std::chrono::steady_clock::now())) {
        return;
    }
    for (SpotOutput* output : m_outputs) {
        output->Send(spot);
    }
}

void SpotRelay::AddLogLine(std::string text)
{
    m_history.insert(m_history.begin(), std::move(text));
    if (m_history.size() == kHistoryLimit + 1) {
        m_history.erase(m_history.begin() + static_cast<std::ptrdiff_t>(kHistoryLimit));
    }

    std::size_t length = 0;
    for (const std::string& entry : m_history) {
        length += entry.size() + 2;
    }
    m_logText.clear();
    m_logText.reserve(length);
    for (auto entry = m_history.rbegin(); entry != m_history.rend(); ++entry) {
        m_logText += *entry;
        m_logText += "\r\n";
    }

    // Select the carriage return of the final "\r\n" so the newest entry scrolls into view.
    const std::size_t end = std::min<std::size_t>(m_logText.size(), INT_MAX);
    m_frontEnd.ShowLog(m_logText, static_cast<int>(end - 2), static_cast<int>(end - 1));
}

void SpotRelay::ToggleRun()
{
    if (m_running != 0) {
        // Lines still waiting for a device go with the stop.
        Halt(false);
        m_running = 0;
        m_frontEnd.SetRunCaption("Run");
        return;
    }
    if (Start()) {
        m_running = 1;
        m_frontEnd.SetRunCaption("Stop");
    }
}

void SpotRelay::Suspend()
{
    if (m_running == 0) {
        return;
    }
    Halt(true);
    m_suspended = true;
    m_running = 0;
    m_frontEnd.SetRunCaption("Run");
}

void SpotRelay::Resume()
{
    if (!std::exchange(m_suspended, false)) {
        return;
    }
    if (Start()) {
        m_running = 1;
        m_frontEnd.SetRunCaption("Stop");
        return;
    }
}

bool SpotRelay::Start()
{
    for (SpotOutput* output : m_outputs) {
        if (const std::string error = output->Open(); !error.empty()) {
            // A start that fails leaves nothing open.
            m_frontEnd.ShowMessage(error);
            Halt(false);
            return false;
        }
    }
    const bool pushed = m_pushSource != nullptr && m_pushSource->Serves(m_settings.URL);
    if (pushed && !m_pushSource->RunsFor(m_settings.URL, m_settings.Call)) {
        m_pushSource->Stop();
        if (const std::string error = m_pushSource->Start(m_settings.URL, m_settings.Call,
                                                          [this](const Spot& spot) { RelaySpot(spot); });
            !error.empty()) {
            m_frontEnd.ShowMessage(error);
            Halt(false);
            return false;
        }
    } else if (!pushed && m_pushSource != nullptr) {
        m_pushSource->Stop();
    }
    if (!pushed) {
        m_timer.start();
        if (!m_timer.isActive()) {
            m_frontEnd.ShowMessage("Can't install a system timer");
            return false;
        }
    }
    m_shown.clear();
    m_lastFailure.clear();
    m_quietTicks = 0;
    return true;
}

void SpotRelay::Halt(bool keepWaiting)
{
    // A fetch in flight is abandoned: its page would come after the stop.
    m_pages.Cancel();
    m_fetching = false;
    m_timer.stop();
    for (SpotOutput* output : m_outputs) {
        output->Close(keepWaiting);
    }
    if (!keepWaiting && m_pushSource != nullptr) {
        m_pushSource->Stop();
    }
}

void SpotRelay::ApplySettings()
{
    for (SpotOutput* output : m_outputs) {
        if (const std::string message = output->Apply(); !message.empty()) {
            m_frontEnd.ShowMessage(message);
        }
    }
}

void SpotRelay::OnTimer()
{
    // A box opened while a page is handled could deliver further ticks from its own loop, and one
    // fetch runs at a time: such ticks are dropped.
    if (m_running == 0 || m_inTick || m_fetching) {
        return;
    }
    if (m_quietTicks > 0) {
        --m_quietTicks;
        return;
    }
    m_fetching = true;
    m_pages.Start(m_settings.URL, [this](FetchResult page) { OnPage(std::move(page)); });
}

void SpotRelay::OnPage(FetchResult page)
{
    m_fetching = false;
    const TickGuard guard(m_inTick);
    if (page.sessionFailed) {
        // No page at all: the tick ends with the error box; the next tick tries again.
        std::string text = std::move(page.error);
        if (text.size() > kErrorTextLimit) {
            text.resize(kErrorTextLimit);
        }
        ShowOnce(text.empty() ? "Internal application error." : text, true);
        return;
    }
    if (!page.message.empty()) {
        ShowOnce(page.message, false);
    }
    Body body = Body::Invalid;
    if (page.body) {
        m_shown.clear();
        body = ProcessBody(*page.body);
    } else {
        // A fetch that brought no page counts as an invalid page.
        NoteInvalidPage();
    }
    if (body == Body::Invalid) {
        NoteFailure(!page.body ? (page.error.empty() ? page.message : page.error)
                               : "the answer holds no <PRE> block and no spot feed");
    } else {
        m_lastFailure.clear();
    }
    m_quietTicks = std::max(PollPause(body), static_cast<int>(page.retryAfter.count())) - 1;
}

int SpotRelay::PollPause(Body body)
{
    if (body == Body::Feed) {
        m_feedUrl = m_settings.URL;
    }
    if (m_settings.URL != m_feedUrl) {
        m_feedUrl.clear();
        m_feedFailures = 0;
        return 1;
    }
    // The services are run by volunteers: a struggling one is asked less and less often.
    m_feedFailures = body == Body::Invalid ? std::min(m_feedFailures + 1, 8) : 0;
    return std::min(kFeedPollSeconds << m_feedFailures, kFeedBackOffLimitSeconds);
}

void SpotRelay::NoteFailure(const std::string& reason)
{
    if (reason != m_lastFailure) {
        m_lastFailure = reason;
        m_frontEnd.LogNotice("No spots from " + m_settings.URL + ": " + reason);
    }
}

void SpotRelay::ShowOnce(const std::string& text, bool error)
{
    // The same cause every second would be a box every second.
    if (!m_shown.insert(text).second) {
        return;
    }
    if (error) {
        m_frontEnd.ShowError(text);
    } else {
        m_frontEnd.ShowMessage(text);
    }
}
