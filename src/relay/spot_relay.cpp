#include "relay/spot_relay.h"

#include "country/country.h"
#include "relay/spot_feeds.h"
#include "serial/com_ports.h"

#include <algorithm>
#include <array>
#include <climits>
#include <ctime>
#include <utility>

namespace {

// "unvalid" is the word this entry has always had; loggers and users know it as it is.
constexpr const char* kInvalidPageEntry = "Received unvalid page\r\n";
constexpr std::size_t kHistoryLimit = 99;
constexpr std::size_t kErrorTextLimit = 511;
/// A feed is fetched on every tenth tick at most, a <PRE> page on every one.
constexpr int kFeedQuietTicks = 9;

// A cut clipped to the text: a start past the end gives "", a length past the end is shortened.
std::string Cut(const std::string& text, std::size_t start, std::size_t length)
{
    if (start >= text.size()) {
        return {};
    }
    return text.substr(start, length);
}

void WriteAll(CSerialPort& serial, const std::string& bytes)
{
    // WriteBytes counts in int; a text longer than that goes out in pieces, never cut.
    std::size_t done = 0;
    do {
        const std::size_t piece = std::min<std::size_t>(bytes.size() - done, INT_MAX);
        serial.WriteBytes(bytes.data() + done, static_cast<int>(piece));
        done += piece;
    } while (done < bytes.size());
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

LinkParameters DeriveLinkParameters(const RelaySettings& settings)
{
    LinkParameters link;
    link.port = PortNumberOf(settings.Port);
    link.speedKnown = settings.Speed >= 0 && settings.Speed < static_cast<std::int32_t>(kBaudRates.size());
    if (link.speedKnown) {
        link.baud = kBaudRates[static_cast<std::size_t>(settings.Speed)];
    }
    link.byteSize = settings.Bits == 0 ? 7 : 8;
    link.parity = static_cast<std::uint8_t>(settings.Parity & 0xFF);
    return link;
}

SpotRelay::SpotRelay(RelayWindow& window, PageSource& source, const RelaySettings& settings)
    : m_window(window)
    , m_source(source)
    , m_settings(settings)
    , m_node([this](int count) { return RecentSpots(count); })
{
    QObject::connect(&m_node, &ClusterNode::Notice,
                     [this](const QString& text) { m_window.LogNotice(text.toStdString()); });
}

void SpotRelay::ApplyClusterSettings()
{
    if (const std::string error = m_node.Listen(m_settings.ClusterAddress, m_settings.ClusterPort);
        !error.empty()) {
        m_window.ShowMessage(error);
    }
}

void SpotRelay::ProcessSpotPage(const std::string& body)
{
    const std::size_t start = body.find("<PRE>");
    const std::size_t end = body.find("</PRE>");
    if (start == std::string::npos || end == std::string::npos) {
        // A spot service of today answers in JSON or caret lines: its spots take the road of a
        // page line from the column cut on. Such a source is polled gently.
        if (const auto feed = ParseSpotFeed(body)) {
            m_quietTicks = kFeedQuietTicks;
            for (const FeedSpot& spot : *feed) {
                RelayClusterLine(spot.spotter + ":", spot.frequency, spot.dxCall, spot.comment, spot.time);
            }
            return;
        }
        // One entry per outage: a note for every failed second would push the spots out of the
        // duplicate memory, and they would all be sent again when the page comes back.
        if (m_history.empty() || m_history.front() != kInvalidPageEntry) {
            AddLogLine(kInvalidPageEntry);
        }
        return;
    }
    // "</PRE>" before "<PRE>": an empty block, and no entry either.
    if (end < start + 5) {
        return;
    }
    const std::string block = body.substr(start + 5, end - start - 5);

    // Whatever follows the last line feed is never a line.
    std::size_t lineStart = 0;
    for (std::size_t lf = block.find('\n'); lf != std::string::npos; lf = block.find('\n', lineStart)) {
        ProcessSpotLine(block.substr(lineStart, lf - lineStart));
        lineStart = lf + 1;
    }
}

void SpotRelay::ProcessSpotLine(std::string line)
{
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) {
        return;
    }
    RelayClusterLine(line.substr(0, space) + ":", Cut(line, 8, 10), Cut(line, 18, 12), Cut(line, 30, 30),
                     Cut(line, 60, 4));
}

void SpotRelay::RelayClusterLine(const std::string& spotter, const std::string& frequency,
                                 const std::string& dxCall, const std::string& comment,
                                 const std::string& time)
{
    // "DX de %-9s%s %s %s %sZ": the spotter field is filled to 9 but never shortened.
    std::string cluster = "DX de ";
    cluster += spotter;
    if (spotter.size() < 9) {
        cluster.append(9 - spotter.size(), ' ');
    }
    cluster += frequency;
    cluster += ' ';
    cluster += dxCall;
    cluster += ' ';
    cluster += comment;
    cluster += ' ';
    cluster += time;
    cluster += 'Z';

    for (auto entry = m_history.rbegin(); entry != m_history.rend(); ++entry) {
        if (*entry == cluster) {
            return;
        }
    }

    // Logged before the filter: a held-back spot is still shown and still remembered.
    AddLogLine(cluster);

    // The lookup takes a C string: a NUL inside the spotter ends it there.
    const int bit = ContinentOfCall(spotter.c_str());
    if ((bit & m_settings.DxccFilter) != 0) {
        return;
    }
    m_relayed.push_back(cluster);
    if (m_relayed.size() > kHistoryLimit) {
        m_relayed.pop_front();
    }
    m_node.SendSpot(cluster);
    if (!WriteLine(cluster)) {
        // Kept for the link's return rather than lost: the newest ones, as many as the log holds.
        m_waiting.push_back(cluster);
        if (m_waiting.size() > kHistoryLimit) {
            m_waiting.pop_front();
        }
    }
}

std::string CountryFileWarning()
{
    const std::string folder = CountryFileFolder();
    return "Unable to open CTY.DAT\n Filter operation disabled\nLooked for cty.dat in "
        + (folder.empty() ? std::string("the current folder") : folder);
}

std::string ConsoleLine(const std::string& text)
{
    std::string line;
    for (const char c : text) {
        // One message, one line: line breaks inside it become blanks, blanks do not pile up.
        const char shown = (c == '\r' || c == '\n') ? ' ' : c;
        if (shown != ' ' || (!line.empty() && line.back() != ' ')) {
            line += shown;
        }
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    const std::time_t now = std::time(nullptr);
    std::tm utc = {};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%SZ ", &utc);
    return stamp + line;
}

bool SpotRelay::WriteLine(const std::string& cluster)
{
    if (!m_linkLost) {
        WriteAll(m_serial, cluster);
        m_serial.WriteBytes("\r\n", 2);
    }
    if (m_serial.IsLost() && !m_linkLost) {
        m_linkLost = true;
        m_window.ShowLinkState(m_settings.Port, true);
    }
    return !m_linkLost;
}

void SpotRelay::Reconnect()
{
    m_serial.Close();
    if (!m_serial.Open(m_link.port, m_link.baud, m_link.byteSize, m_link.parity)) {
        return;
    }
    m_linkLost = false;
    m_window.ShowLinkState(m_settings.Port, false);
    while (!m_waiting.empty() && WriteLine(m_waiting.front())) {
        m_waiting.pop_front();
    }
}

std::vector<std::string> SpotRelay::RecentSpots(int count) const
{
    const auto first = m_relayed.end() - std::clamp<std::ptrdiff_t>(count, 0, std::ssize(m_relayed));
    return {first, m_relayed.end()};
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
    m_window.ShowLog(m_logText, static_cast<int>(end - 2), static_cast<int>(end - 1));
}

void SpotRelay::ToggleRun()
{
    if (m_running != 0) {
        // A fetch in flight is abandoned: its page would come after the stop. Lines waiting for a
        // lost link go with the stop.
        m_source.Cancel();
        m_fetching = false;
        m_serial.Close();
        m_waiting.clear();
        if (std::exchange(m_linkLost, false)) {
            m_window.ShowLinkState(m_settings.Port, false);
        }
        m_window.KillTimer();
        m_running = 0;
        m_window.SetRunCaption("Run");
        return;
    }

    const LinkParameters link = DeriveLinkParameters(m_settings);
    // A Speed without a rate fails the start like an open that failed; without a port no speed
    // is used.
    if (link.port != 0
        && (!link.speedKnown || !m_serial.Open(link.port, link.baud, link.byteSize, link.parity))) {
        // The first line as it has always been; the second says which port, which device, why.
        const std::string why = link.speedKnown
            ? m_serial.OpenFailure()
            : m_settings.Port + ": Speed " + std::to_string(m_settings.Speed) + " is none of 0 to 4";
        m_window.ShowMessage("Error opening serial communication\n" + why);
        return;
    }
    m_link = link;
    if (!m_window.SetTimer()) {
        m_window.ShowMessage("Can't install a system timer");
        return;
    }
    m_shown.clear();
    m_quietTicks = 0;
    m_running = 1;
    m_window.SetRunCaption("Stop");
}

void SpotRelay::OnTimer()
{
    // A box opened while a page is handled delivers further ticks from its own loop, and one
    // fetch runs at a time: such ticks are dropped.
    if (m_inTick || m_fetching) {
        return;
    }
    if (m_linkLost) {
        Reconnect();
    }
    if (m_quietTicks > 0) {
        --m_quietTicks;
        return;
    }
    m_fetching = true;
    m_source.Start(m_settings.URL, [this](PageResult page) { OnPage(std::move(page)); });
}

void SpotRelay::OnPage(PageResult page)
{
    m_fetching = false;
    const TickGuard guard(m_inTick);
    if (page.sessionError) {
        // No page at all: the tick ends with the error box; the next tick tries again.
        std::string text = std::move(*page.sessionError);
        if (text.size() > kErrorTextLimit) {
            text.resize(kErrorTextLimit);
        }
        ShowOnce(text.empty() ? "Internal application error." : text, true);
        return;
    }
    if (!page.fetch.message.empty()) {
        ShowOnce(page.fetch.message, false);
    }
    if (page.fetch.complete) {
        m_shown.clear();
    }
    m_quietTicks = std::max(0, static_cast<int>(page.fetch.retryAfter.count()) - 1);
    ProcessSpotPage(page.fetch.text);
}

void SpotRelay::ShowOnce(const std::string& text, bool error)
{
    // The same cause every second would be a box every second, with Stop and Configure only
    // reachable in between.
    if (!m_shown.insert(text).second) {
        return;
    }
    if (error) {
        m_window.ShowError(text);
    } else {
        m_window.ShowMessage(text);
    }
}
